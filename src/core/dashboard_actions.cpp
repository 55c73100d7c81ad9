// The page's classic product actions: installs, updates and uninstalls of
// single products. The work is deferred to the UI thread so the page's
// write to the bridge returns first.
#include "core/bridge_message.h"
#include "core/dashboard_browser.h"
#include "core/page_action_fields.h"
#include "lib/utils.h"
#include "platform/exception.h"
#include "platform/ui_thread.h"

#include <QLocale>

namespace orv {

void TORVDashboardBrowser::HandleInstallOrUpdate(const TORVDashboardBridgeMessage& AMessage) {
  const auto data = TORVZYNDashUtils::ParseJSON(AMessage.CustomData());
  if (!data) return;
  const QString eventName = PageActionText(*data, "EventName");
  const QString name = PageActionText(*data, "Name");
  const QString version = PageActionText(*data, "Version");
  if (eventName.isEmpty() || name.isEmpty() || version.isEmpty()) return;

  FCatalogue.ScanDownloads();
  const TORVDashboardDownload* found = FCatalogue.FindDownload(name, version, PageActionRegistered(*data));
  if (!found) return;
  // A copy: a scan before the deferred work runs rebuilds the list.
  auto download = std::make_shared<TORVDashboardDownload>(*found);
  const QString mode = QLocale().toUpper(eventName);
  Defer([download, mode, name](TORVDashboardBrowser& AController) {
    if (mode == QLatin1String("UPDATE")) {
      AController.FCatalogue.ScanInstalls();
      const auto install = AController.FindInstallCopy(name);
      AController.FInstaller.UninstallProduct(install ? &*install : nullptr);
      AController.FInstaller.InstallProduct(download.get());
    } else if (mode == QLatin1String("INSTALL")) {
      AController.FInstaller.InstallProduct(download.get());
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
    AController.FCatalogue.ScanInstalls();
    const auto install = AController.FindInstallCopy(name);
    if (install && install->PathExists()) AController.FInstaller.UninstallProduct(&*install);
  });
}

// A copy, not a pointer into the list: the page may rescan the installs
// while the uninstaller runs, as the UI keeps processing its events.
std::optional<TORVDashboardInstall> TORVDashboardBrowser::FindInstallCopy(const QString& AName) const {
  const TORVDashboardInstall* found = FCatalogue.FindInstall(AName);
  return found ? std::optional<TORVDashboardInstall>(*found) : std::nullopt;
}

void TORVDashboardBrowser::Defer(std::function<void(TORVDashboardBrowser&)> AWork) {
  FPorts.ui.post([self = FSelf, work = std::move(AWork)] {
    if (TORVDashboardBrowser* controller = self->load()) controller->RunReportingErrors(work);
  });
}

void TORVDashboardBrowser::RunReportingErrors(const std::function<void(TORVDashboardBrowser&)>& AWork) {
  try {
    AWork(*this);
  } catch (const Exception& e) {
    ReportDeferredError(e.message());
  } catch (const std::exception& e) {
    ReportDeferredError(QString::fromUtf8(e.what()));
  }
}

// The page's log is the only channel the page has for failed actions.
void TORVDashboardBrowser::ReportDeferredError(const QString& AMessage) {
  TORVZYNDashUtils::Log(QStringLiteral("Product action failed: ") + AMessage);
  Log(QStringLiteral("The action failed: ") + AMessage);
}

}  // namespace orv
