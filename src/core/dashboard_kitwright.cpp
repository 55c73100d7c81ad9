// The package manager's side of the dashboard: the environment's event
// handlers, batches of products the page hands over for installing or
// removing, and the package manager's settings.
//
// Threads: the environment raises its events on the thread running the
// command. The handlers post what they do to the controller's state and to
// the page (PostKitwrightEffect); the effects run on the UI thread in the
// order the events were raised, so the UI thread owns FStatus changes,
// FKitwrightAction, the status rows, the state of a mixed batch and
// outputcount. The selection handler must answer at once: it touches only
// the queues, under FKitwrightQueueLock, and the rows it is handed.
#include "core/bridge_message.h"
#include "core/dashboard_browser.h"
#include "core/page_action_fields.h"
#include "lib/utils.h"
#include "platform/dialogs.h"
#include "platform/exception.h"
#include "platform/registry.h"
#include "platform/ui_thread.h"

#include <QFileInfo>
#include <QLocale>

#include <deque>

namespace orv {

namespace {

const QString kDelphiVersions = QStringLiteral("configuration for all products:delphi versions");
const QString kInstall = QStringLiteral("INSTALL");
const QString kUninstall = QStringLiteral("UNINSTALL");
// How the environment's log names a failed uninstall command.
const QString kUninstallFailure = QStringLiteral("Error running TOrvUninstallRunner:");

QString statusText(TProductStatus AStatus) {
  switch (AStatus) {
    case TProductStatus::NotInstalled: return QStringLiteral("not installed");
    case TProductStatus::Available: return QStringLiteral("available");
    case TProductStatus::Installed: return QStringLiteral("installed");
  }
  return {};
}

// The page shows lines that mention errors in red.
QString markedOutputLine(const QString& ALine) {
  const QString lower = QLocale().toLower(ALine);
  if (lower.contains(QLatin1String("error:")) || lower.contains(QLatin1String("errors")))
    return QStringLiteral("<span style=\"color: red;\">") + ALine + QStringLiteral("</span>");
  return ALine;
}

void enqueue(TORVKitwrightInstallList& AQueue, const TORVDashboardActions& AActions) {
  for (const TORVDashboardAction& action : AActions) {
    auto entry = std::make_unique<TORVKitwrightInstall>();
    entry->SetName(action.ProductName);
    entry->SetID(action.ProductID);
    AQueue.Add(std::move(entry));
  }
}

// The archive and install records a batch's steps point at, copied from
// the catalogue, which the page may rescan before the batch runs.
struct TBatchRecords {
  std::deque<TORVDashboardDownload> Downloads;
  std::deque<TORVDashboardInstall> Installs;

  TORVDashboardDownload* Keep(const TORVDashboardDownload* ADownload) {
    return ADownload ? &Downloads.emplace_back(*ADownload) : nullptr;
  }
  TORVDashboardInstall* Keep(const TORVDashboardInstall* AInstall) {
    return AInstall ? &Installs.emplace_back(*AInstall) : nullptr;
  }
};

bool hasUninstaller(const TORVDashboardInstall* AInstall) {
  return AInstall && AInstall->PathExists() && QFileInfo::exists(AInstall->UninstallLink());
}

}  // namespace

// --- the environment's events ------------------------------------------------

void TORVDashboardBrowser::AttachKitwrightHandlers() {
  // The environment outlives none of these calls: the destructor destroys
  // it first, which waits for the handlers in flight.
  TGUIEnvironment& environment = *GUI;
  environment.SetOnProductsUpdated([this](const TGUIProductList& AProducts) { HandleProductsUpdated(AProducts); });
  environment.SetOnRequestCredentials(
      [this](QString& AEmail, QString& ACode, bool& AAccepted) { HandleRequestCredentials(AEmail, ACode, AAccepted); });
  environment.SetOnGetSelectedProducts([this, &environment](TGUIProductSelection& ASelection) {
    HandleGetSelectedProducts(environment.Products(), ASelection);
  });
  environment.SetOnRunnerCreated([this](TOrvRunner& ARunner) { HandleRunnerCreated(ARunner); });
  environment.SetOnRunStart([this] { HandleRunStart(); });
  environment.SetOnRunFinish([this] { HandleRunFinish(); });
  environment.SetOnCommandOutput([this](const QString& ALine) { SendKitwrightOutput(ALine); });
  environment.SetOnNewVersionDetected([this] { HandleNewVersionDetected(); });
}

void TORVDashboardBrowser::PostKitwrightEffect(TKitwrightEffect AEffect) {
  {
    const std::lock_guard lock(FKitwrightEffects->Lock);
    FKitwrightEffects->Pending.push_back(std::move(AEffect));
    // A task is on its way already; it runs this one too.
    if (FKitwrightEffects->Pending.size() > 1) return;
  }
  FPorts.ui.post([self = FSelf, effects = FKitwrightEffects] {
    std::vector<TKitwrightEffect> pending;
    {
      const std::lock_guard lock(effects->Lock);
      pending.swap(effects->Pending);
    }
    TORVDashboardBrowser* controller = self->load();
    if (!controller) return;
    for (const TKitwrightEffect& effect : pending) controller->RunReportingErrors(effect);
  });
}

// Raised under the environment's row lock: the rows are read here, the
// list the queries answer from is replaced on the UI thread.
void TORVDashboardBrowser::HandleProductsUpdated(const TGUIProductList& AProducts) {
  std::vector<TORVKitwrightProductStatus> rows;
  rows.reserve(AProducts.size());
  for (std::size_t i = 0; i < AProducts.size(); ++i) {
    const TGUIProduct& product = AProducts[i];
    rows.emplace_back(product.Name(), product.LocalVersion().IsNull() ? QString() : product.LocalVersion().Normalized(),
                      product.Id(), statusText(product.Status()));
  }
  PostKitwrightEffect([rows = std::move(rows)](TORVDashboardBrowser& C) {
    C.FKitwrightProductStatusList.Clear();
    for (const TORVKitwrightProductStatus& row : rows)
      C.FKitwrightProductStatusList.Add(std::make_unique<TORVKitwrightProductStatus>(row));
  });
}

// The stored account is handed over without asking the user.
void TORVDashboardBrowser::HandleRequestCredentials(QString& AEmail, QString& ACode, bool& AAccepted) {
  AEmail = FSettings.ReadUserName();
  ACode = FSettings.ReadPassword();
  AAccepted = true;
}

// The first request after a batch was queued receives its products; both
// queues are empty afterwards.
void TORVDashboardBrowser::HandleGetSelectedProducts(const TGUIProductList& AProducts,
                                                     TGUIProductSelection& ASelection) {
  ASelection.clear();
  const std::lock_guard lock(FKitwrightQueueLock);
  for (TORVKitwrightInstallList* queue : {&FKitwrightUninstallList, &FKitwrightInstallList}) {
    for (const auto& entry : *queue)
      for (std::size_t i = 0; i < AProducts.size(); ++i)
        if (AProducts[i].Id() == entry->ID()) ASelection.push_back(&AProducts[i]);
    queue->Clear();
  }
}

void TORVDashboardBrowser::HandleRunnerCreated(TOrvRunner& ARunner) {
  // A setting that cannot be read leaves the runner's own defaults; the
  // command then fails where the user sees it, instead of never starting.
  try {
    const QString folder = FSettings.ReadKitwrightDir();
    const QString program = FSettings.KitwrightExePath();
    if (!FSettings.KitwrightExists()) return;
    ARunner.SetWorkingDir(folder);
    ARunner.SetExeFileName(program);
  } catch (const ERegistryException& e) {
    TORVZYNDashUtils::Log(QStringLiteral("Cannot read the package manager's folder: ") + e.message());
  }
}

void TORVDashboardBrowser::HandleRunStart() {
  PostKitwrightEffect([](TORVDashboardBrowser& C) { C.Include(sRunning); });
}

void TORVDashboardBrowser::HandleRunFinish() {
  PostKitwrightEffect([](TORVDashboardBrowser& C) { C.KitwrightRunFinished(); });
}

void TORVDashboardBrowser::SendKitwrightOutput(const QString& ALine) {
  PostKitwrightEffect([line = markedOutputLine(ALine)](TORVDashboardBrowser& C) {
    C.FPage.KitwrightOutput(line);
    ++C.outputcount;
  });
}

void TORVDashboardBrowser::HandleNewVersionDetected() { TORVZYNDashUtils::Log(QStringLiteral("new version detected")); }

// The environment became idle. A mixed batch goes on with its installs
// once its uninstall command ended without failing; otherwise the work has
// ended for the page.
void TORVDashboardBrowser::KitwrightRunFinished() {
  if (FKitwrightMixedBatch) {
    Exclude(sRunning);
    // Another command's end, before the batch's command began.
    if (!FKitwrightMixedBatch->CommandBegun) return;
    if (!FKitwrightMixedBatch->InstallStarted && !KitwrightUninstallFailedSince(FKitwrightMixedBatch->LogMark)) {
      FKitwrightMixedBatch->InstallStarted = true;
      FKitwrightMixedBatch->CommandBegun = false;
      StartKitwrightInstall(FKitwrightMixedBatch->Installs);
      return;
    }
    FKitwrightMixedBatch.reset();
  }
  Exclude(sInstalling);
  Exclude(sRunning);
  if (FKitwrightAction == kInstall || FKitwrightAction == kUninstall) FKitwrightAction.clear();
  FPage.KitwrightActionFinished();
}

bool TORVDashboardBrowser::KitwrightUninstallFailedSince(std::size_t ALogMark) const {
  const std::vector<TGUILogItem> items = GUI->LogItems();
  for (std::size_t i = ALogMark; i < items.size(); ++i)
    if (items[i].Level() == TLogLevel::Error && items[i].Text().startsWith(kUninstallFailure)) return true;
  return false;
}

// --- operations ----------------------------------------------------------------

void TORVDashboardBrowser::StartKitwright() {
  if (!FSettings.KitwrightExists()) return;
  // Idle before the self-update below: its thread may have begun by the
  // time it returns, and must not keep the refresh from starting.
  const bool idle = !GUI->IsRunning();
  try {
    GUI->ExecuteSelfUpdate();
  } catch (const std::exception&) {
    TORVZYNDashUtils::Log(QStringLiteral("ORV Kitwright self update error"));
  }
  if (idle) GUI->Start();
}

void TORVDashboardBrowser::RunKitwrightBatch(const TORVDashboardActions& AActions) {
  TORVDashboardActions uninstalls;
  TORVDashboardActions installs;
  for (const TORVDashboardAction& action : AActions) {
    if (action.ProductID.isEmpty()) continue;
    if (action.Action == TORVDashboardActionMode::amUninstall)
      uninstalls.push_back(action);
    else if (action.Action == TORVDashboardActionMode::amInstall)
      installs.push_back(action);
    else
      continue;
    Include(sInstalling);
  }
  if (!uninstalls.empty()) {
    // The installs wait: the uninstall command gets only its own products.
    if (!installs.empty()) {
      if (!FKitwrightMixedBatch) FKitwrightMixedBatch = TKitwrightMixedBatch{{}, GUI->LogItems().size()};
      FKitwrightMixedBatch->Installs.insert(FKitwrightMixedBatch->Installs.end(), installs.begin(), installs.end());
    }
    StartKitwrightUninstall(uninstalls);
  } else if (!installs.empty()) {
    StartKitwrightInstall(installs);
  }
}

void TORVDashboardBrowser::StartKitwrightUninstall(const TORVDashboardActions& AUninstalls) {
  {
    const std::lock_guard lock(FKitwrightQueueLock);
    enqueue(FKitwrightUninstallList, AUninstalls);
  }
  FKitwrightAction = kUninstall;
  GUI->ExecuteUninstall([this](std::int32_t APercent) {
    PostKitwrightEffect([APercent](TORVDashboardBrowser& C) {
      if (C.FKitwrightMixedBatch) C.FKitwrightMixedBatch->CommandBegun = true;
      C.FPage.KitwrightActionProgress(APercent, QString(), 0, QStringLiteral("Uninstall"));
    });
  });
}

void TORVDashboardBrowser::StartKitwrightInstall(const TORVDashboardActions& AInstalls) {
  {
    const std::lock_guard lock(FKitwrightQueueLock);
    enqueue(FKitwrightInstallList, AInstalls);
  }
  FKitwrightAction = kInstall;
  GUI->ExecuteInstall([this](const TGUIEnvironment::TProductProgressInfo& AProgress) {
    PostKitwrightEffect([AProgress](TORVDashboardBrowser& C) {
      if (C.FKitwrightMixedBatch) C.FKitwrightMixedBatch->CommandBegun = true;
      C.FPage.KitwrightActionProgress(AProgress.Percent, C.GetKitwrightProductName(AProgress.ProductId),
                                      AProgress.ProductPercent, QStringLiteral("Install"));
    });
  });
}

QString TORVDashboardBrowser::GetKitwrightProductName(const QString& AID) const {
  const auto lock = GUI->LockProducts();
  const TGUIProductList& products = GUI->Products();
  for (std::size_t i = 0; i < products.size(); ++i)
    if (products[i].Id() == AID) return products[i].Name();
  return {};
}

// Values are trimmed: the package manager may print blanks after the
// commas, and the options dialog compares them with IDE identifiers.
void TORVDashboardBrowser::ReadDelphiVersions(QStringList& AValues) {
  QStringList values;
  if (!GUI->ConfigRead(kDelphiVersions, values))
    throw Exception(QStringLiteral("Failed to load Delphi version selection"));
  for (QString& value : values) value = value.trimmed();
  AValues = values;
}

// An empty selection means all installed versions.
void TORVDashboardBrowser::WriteDelphiVersions(const QStringList& AValues) {
  if (!GUI->ConfigWrite(kDelphiVersions, {AValues.join(QStringLiteral(", "))}))
    throw Exception(QStringLiteral("Failed to save Delphi version selection"));
}

QString TORVDashboardBrowser::GetKitwrightVersion() { return GUI->GetInfo().Version().Normalized(); }

void TORVDashboardBrowser::OpenKitwrightConfig() { GUI->ExecuteConfigure(); }

// --- the batch message ---------------------------------------------------------

void TORVDashboardBrowser::HandleMultiAction(const TORVDashboardBridgeMessage& AMessage) {
  const int answer = TORVZYNDashUtils::Message(
      FPorts.dialogs,
      QStringLiteral("The selected products will be installed/uninstalled for all selected IDEs on your "
                     "system, do you want to proceed?"),
      mtWarning, {mbYes, mbNo}, 0);
  if (answer == mrNo) {
    FPage.ProductInstallAbort();
    return;
  }
  const auto data = TORVZYNDashUtils::ParseJSON(AMessage.CustomData());
  if (!data || !data->is_array()) return;
  FCatalogue.ScanDownloads();
  FCatalogue.ScanInstalls();

  // The message's working state, alive until its deferred work has run.
  auto records = std::make_shared<TBatchRecords>();
  TORVDashboardActions steps;
  for (const nlohmann::ordered_json& item : *data) {
    const QString eventName = PageActionText(item, "EventName");
    const QString name = PageActionText(item, "Name");
    const QString version = PageActionText(item, "Version");
    const QString id = PageActionText(item, "KitwrightID");
    if (eventName.isEmpty() || name.isEmpty() || version.isEmpty()) continue;
    const TORVDashboardDownload* download = FCatalogue.FindDownload(name, version, PageActionRegistered(item));
    const TORVDashboardInstall* install = FCatalogue.FindInstall(name);

    // Classic steps take part in the ordering; RunKitwrightBatch carries
    // out only the steps with a package-manager identifier.
    const QString kind = QLocale().toUpper(eventName);
    using enum TORVDashboardActionMode;
    if (kind == QLatin1String("INSTALLKITWRIGHTPRODUCT"))
      steps.push_back({name, amInstall, records->Keep(download), nullptr, id});
    else if (kind == QLatin1String("UNINSTALLKITWRIGHTPRODUCT"))
      steps.push_back({name, amUninstall, nullptr, records->Keep(install), id});
    else if (kind == kInstall && download)
      steps.push_back({name, amInstall, records->Keep(download), nullptr, {}});
    else if (kind == QLatin1String("UPDATE") && download && hasUninstaller(install))
      steps.push_back({name, amUpdate, records->Keep(download), records->Keep(install), {}});
    else if (kind == kUninstall && hasUninstaller(install))
      steps.push_back({name, amUninstall, nullptr, records->Keep(install), {}});
  }

  const TORVDashboardActions batch = OrderActions(steps);
  if (batch.empty()) return;
  Defer([batch, records](TORVDashboardBrowser& AController) { AController.RunKitwrightBatch(batch); });
}

}  // namespace orv
