#include "core/kitwright_coordinator.h"

#include "core/dashboard_page.h"
#include "core/ui_pipeline.h"
#include "lib/utils.h"
#include "platform/exception.h"
#include "platform/registry.h"
#include "settings/dashboard_settings.h"

#include <QLocale>

namespace orv {

namespace {

const QString kDelphiVersions = QStringLiteral("configuration for all products:delphi versions");
const QString kInstall = QStringLiteral("INSTALL");
const QString kUninstall = QStringLiteral("UNINSTALL");

QString statusText(TProductStatus AStatus) {
  switch (AStatus) {
    case TProductStatus::NotInstalled: return QStringLiteral("not installed");
    case TProductStatus::Available: return QStringLiteral("available");
    case TProductStatus::Installed: return QStringLiteral("installed");
  }
  return {};
}

void enqueue(TORVKitwrightInstallList& AQueue, const TORVDashboardActions& AActions) {
  for (const TORVDashboardAction& action : AActions) {
    auto entry = std::make_unique<TORVKitwrightInstall>();
    entry->SetName(action.ProductName);
    entry->SetID(action.ProductID);
    AQueue.Add(std::move(entry));
  }
}

}  // namespace

QString KitwrightOutputMarkup(const QString& ALine) {
  const QString lower = QLocale().toLower(ALine);
  if (lower.contains(QLatin1String("error:")) || lower.contains(QLatin1String("errors")))
    return QStringLiteral("<span style=\"color: red;\">") + ALine + QStringLiteral("</span>");
  return ALine;
}

TORVDashboardKitwrightCoordinator::TORVDashboardKitwrightCoordinator(const TORVDashboardSettings& ASettings,
                                                                     TORVDashboardStatuses& AStatus,
                                                                     UiPipeline& APipeline, TORVDashboardPage& APage)
    : FSettings(ASettings),
      FStatus(AStatus),
      FPipeline(APipeline),
      FPage(APage),
      GUI(std::make_unique<TGUIEnvironment>()) {
  // The environment outlives none of these calls: it goes first, and its
  // destructor waits for the handlers in flight.
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

TORVDashboardKitwrightCoordinator::~TORVDashboardKitwrightCoordinator() { GUI.reset(); }

void TORVDashboardKitwrightCoordinator::Post(std::function<void()> AEffect) { FPipeline.Post(std::move(AEffect)); }

// --- the environment's events ------------------------------------------------

// Raised under the environment's row lock: the rows are read here, the
// list the queries answer from is replaced on the UI thread.
void TORVDashboardKitwrightCoordinator::HandleProductsUpdated(const TGUIProductList& AProducts) {
  std::vector<TORVKitwrightProductStatus> rows;
  rows.reserve(AProducts.size());
  for (std::size_t i = 0; i < AProducts.size(); ++i) {
    const TGUIProduct& product = AProducts[i];
    rows.emplace_back(product.Name(), product.LocalVersion().IsNull() ? QString() : product.LocalVersion().Normalized(),
                      product.Id(), statusText(product.Status()));
  }
  Post([this, rows = std::move(rows)] {
    FKitwrightProductStatusList.Clear();
    for (const TORVKitwrightProductStatus& row : rows)
      FKitwrightProductStatusList.Add(std::make_unique<TORVKitwrightProductStatus>(row));
  });
}

// The stored account is handed over without asking the user.
void TORVDashboardKitwrightCoordinator::HandleRequestCredentials(QString& AEmail, QString& ACode, bool& AAccepted) {
  AEmail = FSettings.ReadUserName();
  ACode = FSettings.ReadPassword();
  AAccepted = true;
}

// The first request after a command was started receives its products;
// both queues are empty afterwards.
void TORVDashboardKitwrightCoordinator::HandleGetSelectedProducts(const TGUIProductList& AProducts,
                                                                  TGUIProductSelection& ASelection) {
  ASelection.clear();
  const std::lock_guard lock(FQueueLock);
  for (TORVKitwrightInstallList* queue : {&FKitwrightUninstallList, &FKitwrightInstallList}) {
    for (const auto& entry : *queue)
      for (std::size_t i = 0; i < AProducts.size(); ++i)
        if (AProducts[i].Id() == entry->ID()) ASelection.push_back(&AProducts[i]);
    queue->Clear();
  }
}

void TORVDashboardKitwrightCoordinator::HandleRunnerCreated(TOrvRunner& ARunner) {
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

void TORVDashboardKitwrightCoordinator::HandleRunStart() {
  Post([this] { FStatus.Include(sRunning); });
}

// The environment became idle. While a batch waits or runs, the end is its
// own to tell; otherwise the page hears of every command's end.
void TORVDashboardKitwrightCoordinator::HandleRunFinish() {
  Post([this] {
    FStatus.Exclude(sRunning);
    if (!FBatches.empty()) {
      Advance();
      return;
    }
    FStatus.Exclude(sInstalling);
    if (FKitwrightAction == kInstall || FKitwrightAction == kUninstall) FKitwrightAction.clear();
    FPage.KitwrightActionFinished();
  });
}

void TORVDashboardKitwrightCoordinator::SendKitwrightOutput(const QString& ALine) {
  Post([this, line = KitwrightOutputMarkup(ALine)] {
    FPage.KitwrightOutput(line);
    ++outputcount;
  });
}

void TORVDashboardKitwrightCoordinator::HandleNewVersionDetected() {
  TORVZYNDashUtils::Log(QStringLiteral("new version detected"));
}

// --- batches -------------------------------------------------------------------

void TORVDashboardKitwrightCoordinator::RunKitwrightBatch(const TORVDashboardActions& AActions) {
  TBatch batch;
  for (const TORVDashboardAction& action : AActions) {
    if (action.ProductID.isEmpty()) continue;
    if (action.Action == TORVDashboardActionMode::amUninstall)
      batch.Uninstalls.push_back(action);
    else if (action.Action == TORVDashboardActionMode::amInstall)
      batch.Installs.push_back(action);
  }
  if (batch.Uninstalls.empty() && batch.Installs.empty()) return;
  FStatus.Include(sInstalling);
  FBatches.push_back(std::move(batch));
  if (FBatches.size() == 1) Advance();
}

// Each step waits for the environment to be idle, so a command never runs
// beside a refresh that is still reading the rows its selection needs.
// The uninstall command's failure does not stop the installs: a product it
// failed to remove is still there, and one it removed must come back.
void TORVDashboardKitwrightCoordinator::Advance() {
  while (!FBatches.empty()) {
    const bool commandEnded = FStep == TStep::Waiting || FCommandBegun;
    if (!commandEnded || GUI->IsRunning()) return;
    const TBatch& batch = FBatches.front();
    if (FStep == TStep::Waiting && !batch.Uninstalls.empty()) {
      StartCommand(TStep::Uninstalling, batch.Uninstalls);
      return;
    }
    if (FStep != TStep::Installing && !batch.Installs.empty()) {
      StartCommand(TStep::Installing, batch.Installs);
      return;
    }
    FinishBatch();
  }
}

void TORVDashboardKitwrightCoordinator::StartCommand(TStep AStep, const TORVDashboardActions& AActions) {
  FStep = AStep;
  FCommandBegun = false;
  const bool uninstall = AStep == TStep::Uninstalling;
  {
    const std::lock_guard lock(FQueueLock);
    enqueue(uninstall ? FKitwrightUninstallList : FKitwrightInstallList, AActions);
  }
  FKitwrightAction = uninstall ? kUninstall : kInstall;
  if (uninstall) {
    GUI->ExecuteUninstall([this](std::int32_t APercent) {
      Post([this, APercent] {
        FCommandBegun = true;
        FPage.KitwrightActionProgress(APercent, QString(), 0, QStringLiteral("Uninstall"));
      });
    });
  } else {
    GUI->ExecuteInstall([this](const TGUIEnvironment::TProductProgressInfo& AProgress) {
      Post([this, AProgress] {
        FCommandBegun = true;
        FPage.KitwrightActionProgress(AProgress.Percent, GetKitwrightProductName(AProgress.ProductId),
                                      AProgress.ProductPercent, QStringLiteral("Install"));
      });
    });
  }
}

void TORVDashboardKitwrightCoordinator::FinishBatch() {
  FBatches.pop_front();
  FStep = TStep::Waiting;
  if (FBatches.empty()) {
    FStatus.Exclude(sInstalling);
    FKitwrightAction.clear();
  }
  FPage.KitwrightActionFinished();
}

// --- operations ----------------------------------------------------------------

void TORVDashboardKitwrightCoordinator::StartKitwright() {
  if (!FSettings.KitwrightExists()) return;
  // Decided before the self-update below: its thread may have begun by the
  // time it returns, and must not keep the refresh from starting. A batch
  // that waits or runs refreshes the rows itself.
  const bool idle = !GUI->IsRunning() && FBatches.empty();
  try {
    GUI->ExecuteSelfUpdate();
  } catch (const std::exception&) {
    TORVZYNDashUtils::Log(QStringLiteral("ORV Kitwright self update error"));
  }
  if (idle) GUI->Start();
}

QString TORVDashboardKitwrightCoordinator::GetKitwrightProductName(const QString& AID) const {
  const auto lock = GUI->LockProducts();
  const TGUIProductList& products = GUI->Products();
  for (std::size_t i = 0; i < products.size(); ++i)
    if (products[i].Id() == AID) return products[i].Name();
  return {};
}

// Values are trimmed: the package manager may print blanks after the
// commas, and the options dialog compares them with IDE identifiers.
void TORVDashboardKitwrightCoordinator::ReadDelphiVersions(QStringList& AValues) {
  QStringList values;
  if (!GUI->ConfigRead(kDelphiVersions, values))
    throw Exception(QStringLiteral("Failed to load Delphi version selection"));
  for (QString& value : values) value = value.trimmed();
  AValues = values;
}

// An empty selection means all installed versions.
void TORVDashboardKitwrightCoordinator::WriteDelphiVersions(const QStringList& AValues) {
  if (!GUI->ConfigWrite(kDelphiVersions, {AValues.join(QStringLiteral(", "))}))
    throw Exception(QStringLiteral("Failed to save Delphi version selection"));
}

QString TORVDashboardKitwrightCoordinator::GetKitwrightVersion() { return GUI->GetInfo().Version().Normalized(); }

void TORVDashboardKitwrightCoordinator::OpenKitwrightConfig() { GUI->ExecuteConfigure(); }

bool TORVDashboardKitwrightCoordinator::IsRunning() const { return GUI->IsRunning(); }

}  // namespace orv
