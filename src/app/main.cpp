// ORV Dashboard: one window showing the vendor's dashboard page, with the
// application as the page's native back end.
#include "app/command_line.h"
#include "app/debug_log.h"
#include "app/desktop_identity.h"
#include "app/main_window.h"
#include "app/settings_check.h"
#include "app/single_instance.h"
#include "core/dashboard_browser.h"
#include "lib/cloud_base_curl.h"
#include "lib/web_browser.h"
#include "lib/web_browser_services.h"
#include "platform/qt_ui_thread.h"
#include "platform/registry_hive.h"
#include "platform/system_elevated.h"
#include "platform/system_known_folders.h"
#include "platform/system_processes.h"
#include "ui/options/options_form.h"
#include "ui/ports/dbus_notifications.h"
#include "ui/ports/qt_dialogs.h"
#include "ui/ports/qt_shell.h"
#include "ui/qt_web_browser.h"

#include <QApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

namespace {

// The address from the option, else the variable, else the vendor's own;
// no trailing slash.
QString configuredURL(const QString& AOption, const char* AVariable, const QString& ADefault) {
  const QString configured = AOption.isEmpty() ? qEnvironmentVariable(AVariable) : AOption;
  QString url = configured.isEmpty() ? ADefault : configured;
  while (url.endsWith(QLatin1Char('/'))) url.chop(1);
  return url;
}

}  // namespace

int main(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const auto commandLine = orv::ParseDashboardCommandLine(arguments);
  if (!commandLine.options) return commandLine.exitCode;
  const orv::TDashboardCommandLine& options = *commandLine.options;
  // Product setups started later find the same hive through the variable.
  if (!options.registryFile.isEmpty()) qputenv("ORV_REGISTRY_FILE", QFile::encodeName(options.registryFile));

  // Chromium refuses to start its sandbox as root.
  if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QApplication app(argc, argv);
  orv::SetDesktopIdentity();
  orv::InstallDebugLog(options.verbose);

  orv::SingleInstance instance(orv::TORVDashboardBrowser::CacheFolderFor(false));
  if (instance.ActivateRunning()) {
    std::puts("ORV Dashboard is already running; its window has been brought to the front.");
    return 0;
  }

  orv::RegistryHive registry(orv::RegistryHive::DefaultFileName());
  orv::SystemKnownFolders folders;
  orv::QtUiThread ui;
  orv::QtDialogs dialogs;
  orv::QtShell shell(dialogs, ui);
  orv::DBusNotifications notifications;
  orv::SystemProcesses processes;
  orv::SystemElevated elevated(ui);
  orv::RegisterQtWebBrowserService(&dialogs);
  orv::RegisterCurlCloudBaseService();

  const QString site =
      configuredURL(options.siteURL, "ORV_DASHBOARD_SITE_URL", QStringLiteral("https://www.orvsoftware.com"));
  orv::TQtOptionsDialogs optionsDialogs(
      {registry, folders, shell, dialogs, site, orv::QtWebEngineLoaded(), orv::QtWebEngineBrowserVersion()});

  int result = 0;
  {
    orv::TFrmDashboardApp window(
        {registry, folders, ui, dialogs, shell, notifications, processes, elevated, optionsDialogs}, site,
        configuredURL({}, "ORV_DASHBOARD_API_URL", QStringLiteral("https://api.orvsoftware.com")));
    window.show();
    instance.Listen([&window] {
      window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
      window.raise();
      window.activateWindow();
    });
    // Once the window is up, so the user sees what the warning is about.
    QTimer::singleShot(0, &window, [&] { ReportUnusableSettings(registry, dialogs); });
    result = QApplication::exec();
  }
  orv::UnregisterCurlCloudBaseService();
  orv::UnregisterQtWebBrowserService();
  orv::TORVZYNDashWebBrowserPlatformServices::ReleaseCurrent();
  return result;
}
