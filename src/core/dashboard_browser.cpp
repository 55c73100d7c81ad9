#include "core/dashboard_browser.h"

#include "core/account_products.h"
#include "core/dashboard_bridge.h"
#include "core/download_tracker.h"
#include "core/kitwright_coordinator.h"
#include "core/options_session.h"
#include "core/product_catalogue.h"
#include "core/product_installer.h"
#include "lib/utils.h"
#include "lib/web_browser.h"
#include "platform/exception.h"
#include "platform/notifications.h"
#include "platform/program_folder.h"
#include "platform/registry.h"

#include <QCoreApplication>
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
      FPipeline(APorts.ui),
      FPage(FPipeline, [browser = FWebBrowser.get()](const QString& AScript) { browser->ExecuteJavaScript(AScript); }),
      FSiteURL(std::move(ASiteURL)),
      FSettings(APorts.registry, APorts.folders),
      FOwner(AOwner),
      FActiveTheme(QStringLiteral("Light")),
      FBridge(std::make_shared<TORVDashboardBridge>()),
      FCatalogue(std::make_unique<TORVDashboardProductCatalogue>(APorts.registry, FSettings, APorts.processes, this)),
      FInstaller(
          std::make_unique<TORVDashboardProductInstaller>(FSettings, APorts.elevated, APorts.notifications, FPage)),
      FAccountProducts(std::make_unique<TORVDashboardAccountProducts>(FSettings, APorts.ui, AApiURL, this)) {
  FPipeline.SetOnError([this](const std::exception& AError) {
    const auto* own = dynamic_cast<const Exception*>(&AError);
    ReportDeferredError(own ? own->message() : QString::fromUtf8(AError.what()));
  });
  // A settings file that cannot be read or written must not keep the
  // window from opening. The application tells the user about a file it
  // cannot read; a file it cannot write (a full disk) is told here, once
  // the window is up, since every setting changed in this run may be lost.
  try {
    FSettings.WriteDashboardVersion(GetVersion());
  } catch (const ERegistryWriteError& e) {
    TORVZYNDashUtils::Log(QStringLiteral("Cannot store the dashboard's version: ") + e.message());
    FPipeline.Post([this, reason = e.message()] {
      TORVZYNDashUtils::Message(
          FPorts.dialogs,
          reason + QStringLiteral("\n\nORV Dashboard cannot save its settings; changes made now may be lost."),
          mtWarning, {mbOK}, 0);
    });
  } catch (const ERegistryException& e) {
    TORVZYNDashUtils::Log(QStringLiteral("Cannot store the dashboard's version: ") + e.message());
  }

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

  FKitwrightCoordinator = std::make_unique<TORVDashboardKitwrightCoordinator>(FSettings, FStatus, FPipeline, FPage);
  FDownloads = std::make_unique<TORVDashboardDownloadTracker>(
      FSettings, FPage, APorts.shell, FStatus, this,
      [this](const QString& AMessage) { ReportDeferredError(AMessage); });
  FOptionsSession = std::make_unique<TORVDashboardOptionsSession>(
      APorts.optionsDialogs, FSettings, *FKitwrightCoordinator, idelist, [this] { FWebBrowser->Reload(); });

  try {
    FCatalogue->BuildIDEList(idelist);
  } catch (const ERegistryException& e) {
    idelist.Clear();
    TORVZYNDashUtils::Log(QStringLiteral("Cannot read the Delphi IDEs: ") + e.message());
  }
}

TORVDashboardBrowser::~TORVDashboardBrowser() {
  // Work still queued for the UI thread is dropped, and the handlers of a
  // command still running post nothing any more.
  FPipeline.Close();
  FDownloads->CancelDownloads();
  // Cancels a running command and waits for it, before anything its
  // handlers touch goes.
  FOptionsSession.reset();
  FKitwrightCoordinator.reset();
  FAccountProducts.reset();
  idelist.Clear();
  FDownloads->RemoveDownloadHandler(FWebBrowser->DownloadEvents());
  FDownloads.reset();
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

void TORVDashboardBrowser::ShowOptionsDialog() { FOptionsSession->ShowOptionsDialog(); }

void TORVDashboardBrowser::StartKitwright() { FKitwrightCoordinator->StartKitwright(); }

void TORVDashboardBrowser::RunKitwrightBatch(const TORVDashboardActions& AActions) {
  FKitwrightCoordinator->RunKitwrightBatch(AActions);
}

void TORVDashboardBrowser::ReadDelphiVersions(QStringList& AValues) {
  FKitwrightCoordinator->ReadDelphiVersions(AValues);
}

void TORVDashboardBrowser::WriteDelphiVersions(const QStringList& AValues) {
  FKitwrightCoordinator->WriteDelphiVersions(AValues);
}

QString TORVDashboardBrowser::GetKitwrightVersion() { return FKitwrightCoordinator->GetKitwrightVersion(); }

QString TORVDashboardBrowser::GetKitwrightProductName(const QString& AID) const {
  return FKitwrightCoordinator->GetKitwrightProductName(AID);
}

void TORVDashboardBrowser::OpenKitwrightConfig() { FKitwrightCoordinator->OpenKitwrightConfig(); }

bool TORVDashboardBrowser::IsRunning() const { return Status() != 0 || FKitwrightCoordinator->IsRunning(); }

void TORVDashboardBrowser::ShowNotification(const QString& ATitle, const QString& ABody) {
  FPorts.notifications.Show(QStringLiteral("ORVDashboard"), ATitle, ABody);
}

QString TORVDashboardBrowser::DashboardURL() const { return FSiteURL + QStringLiteral("/site/dashboard"); }

QString TORVDashboardBrowser::SearchURL(const QString& AQuery) const {
  return FSiteURL + QStringLiteral("/site/dashboard/?q=") + TORVZYNDashUtils::URLEncode(AQuery);
}

QString TORVDashboardBrowser::CacheFolderFor(bool APlugin) {
  if (APlugin) return TORVZYNDashUtils::AddBackslash(TORVZYNDashUtils::GetTempPath()) + QStringLiteral("IDEPlugin");
  // Beside the program as on Windows, but only for a copy the user owns
  // outside the system's folders: an installed program, even run as root,
  // keeps its data in the user's cache folder.
  const QString programFolder = QCoreApplication::applicationDirPath();
  if (DataBesideProgram(ProgramFolderFactsOf(programFolder))) return TORVZYNDashUtils::AddBackslash(programFolder);
  return TORVZYNDashUtils::AddBackslash(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)) +
         QStringLiteral("orvsoftware") + TORVZYNDashUtils::PathDelimiter;
}

void TORVDashboardBrowser::DoBrowserInitialized(TORVZYNDashCustomWebBrowser&) {
  FDownloads->RegisterDownloadHandler(FWebBrowser->DownloadEvents());
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
