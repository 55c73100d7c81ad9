// The page's product actions: installs, updates and uninstalls of single
// products, and batches of them, classic and package-manager ones. The
// work is deferred to the UI thread so the page's write to the bridge
// returns first.
#include "core/bridge_message.h"
#include "core/dashboard_browser.h"
#include "core/page_action_fields.h"
#include "core/product_catalogue.h"
#include "core/product_installer.h"
#include "lib/utils.h"
#include "platform/dialogs.h"
#include "platform/exception.h"

#include <QFileInfo>
#include <QLocale>

#include <deque>

namespace orv {

namespace {

const QString kInstall = QStringLiteral("INSTALL");
const QString kUninstall = QStringLiteral("UNINSTALL");

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

// A copy, not a pointer into the list: the page may rescan the installs
// while the uninstaller runs, as the UI keeps processing its events.
std::optional<TORVDashboardInstall> installCopy(const TORVDashboardProductCatalogue& ACatalogue, const QString& AName) {
  const TORVDashboardInstall* found = ACatalogue.FindInstall(AName);
  return found ? std::optional<TORVDashboardInstall>(*found) : std::nullopt;
}

}  // namespace

void TORVDashboardBrowser::HandleInstallOrUpdate(const TORVDashboardBridgeMessage& AMessage) {
  const auto data = TORVZYNDashUtils::ParseJSON(AMessage.CustomData());
  if (!data) return;
  const QString eventName = PageActionText(*data, "EventName");
  const QString name = PageActionText(*data, "Name");
  const QString version = PageActionText(*data, "Version");
  if (eventName.isEmpty() || name.isEmpty() || version.isEmpty()) return;

  FCatalogue->ScanDownloads();
  const TORVDashboardDownload* found = FCatalogue->FindDownload(name, version, PageActionRegistered(*data));
  if (!found) return;
  // A copy: a scan before the deferred work runs rebuilds the list.
  auto download = std::make_shared<TORVDashboardDownload>(*found);
  const QString mode = QLocale().toUpper(eventName);
  Defer([download, mode, name](TORVDashboardBrowser& AController) {
    if (mode == QLatin1String("UPDATE")) {
      AController.FCatalogue->ScanInstalls();
      const auto install = installCopy(*AController.FCatalogue, name);
      AController.FInstaller->UninstallProduct(install ? &*install : nullptr);
      AController.FInstaller->InstallProduct(download.get());
    } else if (mode == QLatin1String("INSTALL")) {
      AController.FInstaller->InstallProduct(download.get());
    }
  });
}

void TORVDashboardBrowser::HandleUninstall(const TORVDashboardBridgeMessage& AMessage) {
  const auto data = TORVZYNDashUtils::ParseJSON(AMessage.CustomData());
  if (!data) return;
  if (!TORVZYNDashUtils::GetJSONValue(&*data, QStringLiteral("Name")))
    throw Exception(QStringLiteral("Value 'Name' not found"));
  const QString name = PageActionText(*data, "Name");
  if (name.isEmpty()) return;
  Defer([name](TORVDashboardBrowser& AController) {
    AController.FCatalogue->ScanInstalls();
    const auto install = installCopy(*AController.FCatalogue, name);
    if (install && install->PathExists()) AController.FInstaller->UninstallProduct(&*install);
  });
}

void TORVDashboardBrowser::Defer(std::function<void(TORVDashboardBrowser&)> AWork) {
  FPipeline.Post([this, work = std::move(AWork)] { work(*this); });
}

// The page's log is the only channel the page has for failed actions.
void TORVDashboardBrowser::ReportDeferredError(const QString& AMessage) {
  TORVZYNDashUtils::Log(QStringLiteral("Product action failed: ") + AMessage);
  Log(QStringLiteral("The action failed: ") + AMessage);
}

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
  FCatalogue->ScanDownloads();
  FCatalogue->ScanInstalls();

  // The message's working state, alive until its deferred work has run.
  auto records = std::make_shared<TBatchRecords>();
  TORVDashboardActions steps;
  for (const nlohmann::ordered_json& item : *data) {
    const QString eventName = PageActionText(item, "EventName");
    const QString name = PageActionText(item, "Name");
    const QString version = PageActionText(item, "Version");
    const QString id = PageActionText(item, "KitwrightID");
    if (eventName.isEmpty() || name.isEmpty() || version.isEmpty()) continue;
    const TORVDashboardDownload* download = FCatalogue->FindDownload(name, version, PageActionRegistered(item));
    const TORVDashboardInstall* install = FCatalogue->FindInstall(name);

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
