#include "core/dashboard_browser.h"

#include "core/dashboard_bridge.h"
#include "lib/utils.h"
#include "platform/notifications.h"
#include "platform/registry.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace orv {

const QString TORVDashboardBrowser::BridgeName = QStringLiteral("DashboardBridge");

namespace {

// The version the dashboard reports, whatever the executable says.
constexpr int kVersion[] = {1, 2, 1, 0};

}  // namespace

TORVDashboardBrowser::TORVDashboardBrowser(QObject* AOwner, bool APlugin, const TORVDashboardPorts& APorts,
                                           QString ASiteURL, const QString& AApiURL)
    : FWebBrowser(std::make_unique<TORVDashboardWebBrowser>()),
      FPorts(APorts),
      FPage(APorts.ui, [browser = FWebBrowser.get()](const QString& AScript) { browser->ExecuteJavaScript(AScript); }),
      FSiteURL(std::move(ASiteURL)),
      FSettings(APorts.registry, APorts.folders),
      FOwner(AOwner),
      FActiveTheme(QStringLiteral("Light")),
      FKitwright(std::make_unique<TORVZYNCloudKitwright>(APorts.ui, AApiURL)),
      FBridge(std::make_shared<TORVDashboardBridge>()),
      FCatalogue(APorts.registry, FSettings, APorts.processes, this),
      FInstaller(FSettings, APorts.elevated, APorts.notifications, FPage),
      FKitwrightEffects(std::make_shared<TKitwrightEffects>()),
      FSelf(std::make_shared<std::atomic<TORVDashboardBrowser*>>(this)) {
  // A settings file that cannot be read or written must not keep the
  // window from opening; the application tells the user about the file.
  try {
    FSettings.WriteDashboardVersion(GetVersion());
  } catch (const ERegistryException& e) {
    TORVZYNDashUtils::Log(QStringLiteral("Cannot store the dashboard's version: ") + e.message());
  }

  ConnectKitwright();
  FBridge->FDashboardBrowser = this;

  FWebBrowser->SetAutoClearCache(false);
  FWebBrowser->Settings().SetAllowExternalDrop(false);
  FWebBrowser->Settings().SetEnableContextMenu(false);
  FWebBrowser->Settings().SetEnableShowDebugConsole(false);
  FWebBrowser->SetCacheFolder(CacheFolderFor(APlugin));
  FWebBrowser->SetHostObjectOrigin(FSiteURL);
  FWebBrowser->OnInitialized = [this](TORVZYNDashCustomWebBrowser& Sender) { DoBrowserInitialized(Sender); };
  FWebBrowser->OnNewWindowRequested = [this](TORVZYNDashCustomWebBrowser& Sender,
                                             TORVZYNDashWebBrowserNewWindowRequestedParams& Params) {
    HandleNewWindowRequested(Sender, Params);
  };

  GUI = std::make_unique<TGUIEnvironment>();
  AttachKitwrightHandlers();

  try {
    FCatalogue.BuildIDEList(idelist);
  } catch (const ERegistryException& e) {
    idelist.Clear();
    TORVZYNDashUtils::Log(QStringLiteral("Cannot read the Delphi IDEs: ") + e.message());
  }
}

TORVDashboardBrowser::~TORVDashboardBrowser() {
  // Page calls still queued for the UI thread find nobody to call.
  FSelf->store(nullptr);
  CancelDownloads();
  // Cancels a running command and waits for it, before anything its
  // handlers touch goes.
  GUI.reset();
  FRegisteredList.Clear();
  FKitwrightInstallList.Clear();
  FKitwrightUninstallList.Clear();
  FKitwrightProductStatusList.Clear();
  FKitwright.reset();
  idelist.Clear();
  RemoveDownloadHandler();
  // The engine may still hold the bridge; it must not reach us any more.
  FBridge->FDashboardBrowser = nullptr;
  FWebBrowser->OnInitialized = nullptr;
  FWebBrowser->OnNewWindowRequested = nullptr;
}

QString TORVDashboardBrowser::GetVersion() {
  QStringList parts;
  for (int part : kVersion) parts << QString::number(part);
  return parts.join(QLatin1Char('.'));
}

void TORVDashboardBrowser::SetIDETheme(const QString& ATheme) {
  FActiveTheme = ATheme;
  FPage.SetActiveTheme(ATheme);
}

void TORVDashboardBrowser::LaunchSearch(const QString& AQuery) { FWebBrowser->Navigate(SearchURL(AQuery)); }

bool TORVDashboardBrowser::IsRunning() const { return Status() != 0 || GUI->IsRunning(); }

void TORVDashboardBrowser::ShowNotification(const QString& ATitle, const QString& ABody) {
  FPorts.notifications.Show(QStringLiteral("ORVDashboard"), ATitle, ABody);
}

QString TORVDashboardBrowser::DashboardURL() const { return FSiteURL + QStringLiteral("/site/dashboard"); }

QString TORVDashboardBrowser::SearchURL(const QString& AQuery) const {
  return FSiteURL + QStringLiteral("/site/dashboard/?q=") + TORVZYNDashUtils::URLEncode(AQuery);
}

QString TORVDashboardBrowser::CacheFolderFor(bool APlugin) {
  if (APlugin) return TORVZYNDashUtils::AddBackslash(TORVZYNDashUtils::GetTempPath()) + QStringLiteral("IDEPlugin");
  // Beside the program as on Windows; an installed program's folder is not
  // the user's to write, so the engine's data then goes to the cache folder.
  const QString programFolder = QCoreApplication::applicationDirPath();
  if (!programFolder.isEmpty() && QFileInfo(programFolder).isWritable())
    return TORVZYNDashUtils::AddBackslash(programFolder);
  return TORVZYNDashUtils::AddBackslash(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)) +
         QStringLiteral("orvsoftware") + TORVZYNDashUtils::PathDelimiter;
}

void TORVDashboardBrowser::DoBrowserInitialized(TORVZYNDashCustomWebBrowser&) {
  RegisterDownloadHandler();
  FWebBrowser->AddBridge(BridgeName, FBridge);
  FWebBrowser->SetURL(DashboardURL());
}

void TORVDashboardBrowser::HandleNewWindowRequested(TORVZYNDashCustomWebBrowser&,
                                                    TORVZYNDashWebBrowserNewWindowRequestedParams& Params) {
  Params.Handled = true;
  // Only web and mail addresses go to the desktop: any other scheme would
  // start whatever program claims it, on a request a script can make alone.
  static const QStringList allowedSchemes{QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("mailto")};
  if (allowedSchemes.contains(QUrl(Params.URL).scheme(), Qt::CaseInsensitive))
    TORVZYNDashUtils::OpenURL(FPorts.shell, Params.URL);
  else
    TORVZYNDashUtils::Log(QStringLiteral("Refused to open a new window for ") + Params.URL);
}

}  // namespace orv
