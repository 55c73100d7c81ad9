// The page's classic product actions: installs, updates and uninstalls of
// single products. The work is deferred to the UI thread so the page's
// write to the bridge returns first.
#include "core/bridge_message.h"
#include "core/dashboard_browser.h"
#include "lib/utils.h"
#include "platform/exception.h"
#include "platform/ui_thread.h"

#include <QLocale>

namespace orv {

namespace {

using nlohmann::ordered_json;

QString textMember(const ordered_json& AObject, const char* AName) {
  return TORVZYNDashUtils::GetJSONProp(&AObject, QString::fromLatin1(AName));
}

// True when missing or null, as the page omits it for registered editions.
bool registeredMember(const ordered_json& AObject) {
  const ordered_json* value = TORVZYNDashUtils::GetJSONValue(&AObject, QStringLiteral("Registered"));
  return !value || !value->is_boolean() || value->get<bool>();
}

}  // namespace

void TORVDashboardBrowser::HandleInstallOrUpdate(const TORVDashboardBridgeMessage& AMessage) {
  const auto data = TORVZYNDashUtils::ParseJSON(AMessage.CustomData());
  if (!data) return;
  const QString eventName = textMember(*data, "EventName");
  const QString name = textMember(*data, "Name");
  const QString version = textMember(*data, "Version");
  if (eventName.isEmpty() || name.isEmpty() || version.isEmpty()) return;

  FCatalogue.ScanDownloads();
  const TORVDashboardDownload* found = FCatalogue.FindDownload(name, version, registeredMember(*data));
  if (!found) return;
  // A copy: a scan before the deferred work runs rebuilds the list.
  auto download = std::make_shared<TORVDashboardDownload>(*found);
  const QString mode = QLocale().toUpper(eventName);
  FPorts.ui.post([self = FSelf, download, mode, name] {
    TORVDashboardBrowser* controller = self->load();
    if (!controller) return;
    if (mode == QLatin1String("UPDATE")) {
      controller->FCatalogue.ScanInstalls();
      controller->FInstaller.UninstallProduct(controller->FCatalogue.FindInstall(name));
      controller->FInstaller.InstallProduct(download.get());
    } else if (mode == QLatin1String("INSTALL")) {
      controller->FInstaller.InstallProduct(download.get());
    }
  });
}

void TORVDashboardBrowser::HandleUninstall(const TORVDashboardBridgeMessage& AMessage) {
  const auto data = TORVZYNDashUtils::ParseJSON(AMessage.CustomData());
  if (!data) return;
  if (!TORVZYNDashUtils::GetJSONValue(&*data, QStringLiteral("Name")))
    throw Exception(QStringLiteral("Value 'Name' not found"));
  const QString name = textMember(*data, "Name");
  if (name.isEmpty()) return;
  FPorts.ui.post([self = FSelf, name] {
    TORVDashboardBrowser* controller = self->load();
    if (!controller) return;
    controller->FCatalogue.ScanInstalls();
    const TORVDashboardInstall* install = controller->FCatalogue.FindInstall(name);
    if (install && install->PathExists()) controller->FInstaller.UninstallProduct(install);
  });
}

}  // namespace orv
