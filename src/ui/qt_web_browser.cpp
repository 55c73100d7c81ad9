#include "ui/qt_web_browser.h"

#include "lib/text_escape.h"
#include "lib/utils.h"
#include "lib/web_browser_error_page.h"
#include "platform/dialogs.h"
#include "ui/qt_download.h"
#include "ui/qt_web_page.h"
#include "ui/variant_json.h"
#include "ui/web_data_folder.h"

#include <QtWebEngineCore/qtwebenginecoreglobal.h>
#include <QAction>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace orv {

namespace {

struct EngineInfo {
  bool Loaded = false;
  QString Version;
};

EngineInfo& Info() {
  static EngineInfo info;
  return info;
}

// The engine's error code for a request that took too long (net::ERR_TIMED_OUT).
constexpr int kTimedOutErrorCode = -7;

// Where the error page's Options link leads. It is never loaded: a name
// under .invalid resolves nowhere, should anything get past the check.
const QUrl& ErrorPageOptionsLink() {
  static const QUrl link(QStringLiteral("https://options.orv-dashboard.invalid/"));
  return link;
}

// Chromium reads its switches once, when the first engine of the process
// starts; later engines share them.
bool gEngineStarted = false;

const char kReadyPage[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><style>"
    "html,body{margin:0;height:100%;background:#d7ebf6;font-family:sans-serif}"
    "body{display:flex;align-items:center;justify-content:center}"
    "h1{text-transform:uppercase;text-align:center}"
    "</style></head><body>"
    "<h1>Edge Chromium #VERSIONPLACEHOLDER is successfully initialized!</h1>"
    "</body></html>";

// The engine cannot start without its helper process; Qt would abort the
// program instead of reporting it.
bool EngineProcessPresent() {
  const QString configured = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
  QStringList candidates;
  if (!configured.isEmpty()) {
    candidates << configured;
  } else {
    candidates << QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + QStringLiteral("/QtWebEngineProcess")
               << QCoreApplication::applicationDirPath() + QStringLiteral("/QtWebEngineProcess");
  }
  for (const QString& path : candidates) {
    const QFileInfo file(path);
    if (file.isFile() && file.isExecutable()) return true;
  }
  return false;
}

QString DefaultCacheFolder() {
  const QString program = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
  return QDir::tempPath() + QLatin1Char('/') + program + QLatin1Char('/');
}

class TORVZYNDashQtWebBrowserService : public TORVZYNDashWebBrowserFactoryService {
public:
  explicit TORVZYNDashQtWebBrowserService(Dialogs* ADialogs) : FDialogs(ADialogs) {}

protected:
  std::shared_ptr<IORVZYNDashCustomWebBrowser> DoCreateWebBrowser(TORVZYNDashCustomWebBrowser& AValue) override {
    return std::make_shared<TORVZYNDashQtWebBrowser>(AValue, FDialogs);
  }

private:
  Dialogs* FDialogs;
};

}  // namespace

bool QtWebEngineLoaded() { return Info().Loaded; }
QString QtWebEngineBrowserVersion() { return Info().Version; }

void RegisterQtWebBrowserService(Dialogs* ADialogs) {
  Info().Loaded = EngineProcessPresent();
  Info().Version = Info().Loaded ? QString::fromLatin1(qWebEngineChromiumVersion()) : QString();
  auto* services = TORVZYNDashWebBrowserPlatformServices::Current();
  if (services && !services->SupportsPlatformService(IORVZYNDashWebBrowserService::IID())) {
    services->AddPlatformService(IORVZYNDashWebBrowserService::IID(),
                                 std::make_shared<TORVZYNDashQtWebBrowserService>(ADialogs));
  }
}

void UnregisterQtWebBrowserService() {
  if (auto* services = TORVZYNDashWebBrowserPlatformServices::Current())
    services->RemovePlatformService(IORVZYNDashWebBrowserService::IID());
  Info() = EngineInfo();
}

TORVZYNDashQtWebBrowserInitializationError::TORVZYNDashQtWebBrowserInitializationError()
    : TORVZYNDashWebBrowserError(
          QStringLiteral("Could not initialize Edge Chromium! Please check Edge Chromium installation and "
                         "verify correct version number."),
          QStringLiteral("INIT_ERROR")) {}

TORVZYNDashQtWebBrowserEngineMissingError::TORVZYNDashQtWebBrowserEngineMissingError()
    : TORVZYNDashWebBrowserError(
          QStringLiteral("Could not initialize Edge Chromium! Please check if QtWebEngineProcess is correctly "
                         "distributed and accessible."),
          QStringLiteral("DLL_ERROR")) {}

// Marks code that the engine called; releasing the engine then waits for
// the event loop.
class TORVZYNDashQtWebBrowser::EngineCall {
public:
  explicit EngineCall(TORVZYNDashQtWebBrowser& ABrowser) : FBrowser(ABrowser) { ++FBrowser.FEngineCallDepth; }
  ~EngineCall() { --FBrowser.FEngineCallDepth; }
  EngineCall(const EngineCall&) = delete;
  EngineCall& operator=(const EngineCall&) = delete;

private:
  TORVZYNDashQtWebBrowser& FBrowser;
};

// ---- construction ----------------------------------------------------------

TORVZYNDashQtWebBrowser::TORVZYNDashQtWebBrowser(TORVZYNDashCustomWebBrowser& AWebControl, Dialogs* ADialogs)
    : FWebControl(AWebControl), FDialogs(ADialogs), FCacheFolder(DefaultCacheFolder()) {
  FFullCacheFolderName = FullDataFolderName(FCacheFolder, FCacheFolderName);
  FNavigationTimer.setSingleShot(true);
  connect(&FNavigationTimer, &QTimer::timeout, this, [this] { NavigationTimedOut(); });
  FEngineLifetime.End();  // no engine yet
}

TORVZYNDashQtWebBrowser::~TORVZYNDashQtWebBrowser() {
  ReleaseEngine();
  // A claim must not outlive its backend: it would keep the folder from
  // ever being cleared again.
  CachedFolders::ReleaseAll(this);
}

void TORVZYNDashQtWebBrowser::SetCacheFolderName(const QString& AValue) {
  FCacheFolderName = AValue;
  FFullCacheFolderName = FullDataFolderName(FCacheFolder, FCacheFolderName);
}

void TORVZYNDashQtWebBrowser::SetCacheFolder(const QString& AValue) {
  FCacheFolder = AValue;
  FFullCacheFolderName = FullDataFolderName(FCacheFolder, FCacheFolderName);
}

QWidget* TORVZYNDashQtWebBrowser::HostWidget() const { return qobject_cast<QWidget*>(FWebControl.Parent()); }

void TORVZYNDashQtWebBrowser::ShowMessage(const QString& AText) const {
  if (FDialogs) FDialogs->Message(AText, mtInformation, {mbOK}, 0);
}

// ---- engine start ----------------------------------------------------------

void TORVZYNDashQtWebBrowser::Initialize() {
  if (FIsInitializing) return;
  if (FView) {
    // The engine survived a parent change: move it into the new host.
    if (QWidget* host = HostWidget(); host && host != FView->parentWidget()) {
      FView->setParent(host);
      FHost = host;
      host->installEventFilter(this);
    }
    UpdateBounds();
    UpdateVisibility();
    return;
  }
  if (!QtWebEngineLoaded()) {
    FWebControl.DoError(TORVZYNDashQtWebBrowserEngineMissingError());
    ShowMessage(TORVZYNDashQtWebBrowserEngineMissingError().Message());
    return;
  }
  FIsInitializing = true;
  CreateEngine();
}

// The engine starts at once, so that its processes come up while the window
// is being shown; what the component hears of it (ready or failed) comes
// from the event loop, never inside the call that asked for the engine.
void TORVZYNDashQtWebBrowser::CreateEngine() {
  QWidget* host = HostWidget();
  if (!host) {
    QMetaObject::invokeMethod(
        this, [this] { EngineStartFailed(); }, Qt::QueuedConnection);
    return;
  }
  const QStringList arguments = FWebControl.Settings().AdditionalBrowserArguments();
  if (!gEngineStarted && !arguments.isEmpty()) {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    for (const QString& argument : arguments) flags += ' ' + argument.toLocal8Bit();
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
  }
  gEngineStarted = true;

  const QString folder = QDir(FFullCacheFolderName).absolutePath();
  const QString storageName =
      QStringLiteral("orv-") +
      QString::fromLatin1(QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));

  FHost = host;
  FEngineLifetime.Renew();
  // The built-in host object comes with every engine; a registration of the
  // owner's under the same name replaces it.
  if (!FRemoteObject)
    FRemoteObject = std::make_shared<TORVZYNDashRemoteObject>([this](const QString& AMessage) {
      FURL = AMessage;
      TORVZYNDashCustomWebBrowserBeforeNavigateParams params{AMessage, false};
      EngineCall call(*this);
      FWebControl.DoBeforeNavigate(params);
    });
  FChannel.Add(QStringLiteral("bridge"), FRemoteObject);
  FView = new QWebEngineView(host);
  auto* profile = new QWebEngineProfile(storageName);
  profile->setPersistentStoragePath(folder);
  profile->setCachePath(folder + QStringLiteral("/Cache"));
  if (!FUserAgent.isEmpty()) profile->setHttpUserAgent(FUserAgent);
  const QString language = FWebControl.Settings().Language();
  if (!language.isEmpty()) profile->setHttpAcceptLanguage(language);
  FPage = new QtWebPage(
      profile, FView, FChannel.Marker(),
      [this](const QUrl& origin, QStringView request, QStringView notice) {
        return HandleHostObjectCall(origin, request, notice);
      },
      [this](const QUrl& url) { return NavigationStarting(url); },
      [this](QWebEnginePage::JavaScriptConsoleMessageLevel level, const QString& message, int line,
             const QString& source) {
        using TLevel = TORVZYNDashWebBrowserConsoleMessage::TLevel;
        const TLevel kind = level == QWebEnginePage::ErrorMessageLevel     ? TLevel::Error
                            : level == QWebEnginePage::WarningMessageLevel ? TLevel::Warning
                                                                           : TLevel::Info;
        EngineCall call(*this);
        FWebControl.DoConsoleMessage({kind, message, source, line});
      });
  profile->setParent(FPage);
  FProfile = profile;
  FView->setPage(FPage);
  // Failed addresses get the backend's own page, not the engine's.
  FPage->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);

  QWebEngineScript proxy;
  proxy.setName(QStringLiteral("orv-host-objects"));
  proxy.setSourceCode(FChannel.ProxyScript());
  proxy.setInjectionPoint(QWebEngineScript::DocumentCreation);
  proxy.setWorldId(QWebEngineScript::MainWorld);
  proxy.setRunsOnSubFrames(false);
  FPage->scripts().insert(proxy);

  connect(FPage, &QWebEnginePage::loadingChanged, this,
          [this](const QWebEngineLoadingInfo& info) { LoadingChanged(info); });
  connect(FPage, &QWebEnginePage::newWindowRequested, this,
          [this](QWebEngineNewWindowRequest& request) { NewWindowRequested(request); });
  connect(FPage, &QWebEnginePage::renderProcessTerminated, this,
          [this](QWebEnginePage::RenderProcessTerminationStatus status) { RenderProcessTerminated(status); });
  // Emitted whenever the main frame gets a new host, which is when Qt drops
  // the replies of the scripts the old one was running.
  connect(FPage, &QWebEnginePage::renderProcessPidChanged, this, [this] {
    EngineCall call(*this);
    FWebControl.DoDocumentReplaced();
  });
  connect(profile, &QWebEngineProfile::downloadRequested, this,
          [this](QWebEngineDownloadRequest* request) { DownloadRequested(request); });

  AddAccelerators();
  SetEnableContextMenu(FEnableContextMenu);
  SetEnableShowDebugConsole(FEnableShowDebugConsole);
  SetAllowExternalDrop(FAllowExternalDrop);
  host->installEventFilter(this);
  UpdateBounds();
  UpdateVisibility();

  // The ready page shows until the first navigation replaces it, which
  // starts at once: nothing waits for the ready page to load.
  ShowReadyPage();
  if (!FURL.isEmpty()) Navigate();
  UpdateVisibility();
  QMetaObject::invokeMethod(
      this,
      [this, engine = FEngineLifetime.Observe()] {
        if (engine.Ended()) return;
        FIsInitializing = false;
        FWebControl.DoEngineInitialized();
      },
      Qt::QueuedConnection);
}

// The ready page is written into the engine's first, empty document: no
// page of its own to load, so no renderer of its own either (a separate
// page would get a process that lingers beside the site's).
void TORVZYNDashQtWebBrowser::ShowReadyPage() {
  QString script = QStringLiteral("true");
  if (FWebControl.ShowsReadyPage()) {
    QString page = QString::fromLatin1(kReadyPage);
    page.replace(QStringLiteral("#VERSIONPLACEHOLDER"), QtWebEngineBrowserVersion().toHtmlEscaped());
    script = QStringLiteral("document.documentElement.innerHTML = %1; true").arg(JsStringLiteral(page));
  }
  FShowingReadyPage = true;
  // The answer shows that the engine's renderer works; none comes if it
  // could not start.
  FPage->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                       [this, engine = FEngineLifetime.Observe()](const QVariant& AShown) {
                         if (engine.Ended() || !FShowingReadyPage) return;
                         EngineCall call(*this);
                         FShowingReadyPage = false;
                         if (!AShown.toBool()) EngineStartFailed();
                       });
}

void TORVZYNDashQtWebBrowser::EngineStartFailed() {
  ReleaseEngine();
  FIsInitializing = false;
  FShowingReadyPage = false;
  FWebControl.DoError(TORVZYNDashQtWebBrowserInitializationError());
}

void TORVZYNDashQtWebBrowser::LoadingChanged(const QWebEngineLoadingInfo& AInfo) {
  EngineCall call(*this);
  if (AInfo.url() == FErrorPage) return;
  if (AInfo.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
    // A load the navigation hook did not see (a reload, the history).
    if (!FNavigationTimer.isActive()) StartNavigationTimer(AInfo.url());
    return;
  }
  // A load cut short by a later navigation leaves that one's time-out running.
  if (AInfo.url() == FPendingNavigation || AInfo.status() == QWebEngineLoadingInfo::LoadSucceededStatus)
    FNavigationTimer.stop();
  const bool success = AInfo.status() == QWebEngineLoadingInfo::LoadSucceededStatus;
  TORVZYNDashCustomWebBrowserNavigateCompleteParams params{FSaveURL, success, AInfo.errorCode()};
  FWebControl.DoNavigateComplete(params);
  FURL = FSaveURL;
  if (AInfo.status() != QWebEngineLoadingInfo::LoadFailedStatus) return;
  // Out of the engine's signal, unless another navigation has begun since.
  QMetaObject::invokeMethod(
      this,
      [this, engine = FEngineLifetime.Observe(), address = AInfo.url(), reason = AInfo.errorString()] {
        if (!engine.Ended() && !FPage->isLoading()) LoadErrorPage(address, reason);
      },
      Qt::QueuedConnection);
}

void TORVZYNDashQtWebBrowser::ShowErrorPage(const QString& AURL, const QString& AReason) {
  if (FPage) LoadErrorPage(QUrl(AURL), AReason);
}

void TORVZYNDashQtWebBrowser::LoadErrorPage(const QUrl& AAddress, const QString& AReason) {
  FNavigationTimer.stop();
  const QUrl options = FWebControl.OffersErrorPageOptions() ? ErrorPageOptionsLink() : QUrl();
  const QByteArray page = NavigationErrorPage(AAddress, AReason, options).toUtf8();
  FErrorPage = QUrl(QStringLiteral("data:text/html;charset=utf-8;base64,") + QString::fromLatin1(page.toBase64()));
  FErrorAddress = AAddress;
  FPage->load(FErrorPage);
}

void TORVZYNDashQtWebBrowser::StartNavigationTimer(const QUrl& AAddress) {
  const int timeout = FWebControl.NavigationTimeout();
  if (timeout <= 0) return;
  FPendingNavigation = AAddress;
  FNavigationTimer.start(timeout);
}

void TORVZYNDashQtWebBrowser::NavigationTimedOut() {
  TORVZYNDashUtils::Log(QStringLiteral("No answer from %1; showing the error page").arg(FPendingNavigation.toString()));
  LoadErrorPage(FPendingNavigation, NavigationTimeoutReason(FWebControl.NavigationTimeout()));
  // The engine folds the abandoned navigation into the error page's load
  // and never reports it.
  TORVZYNDashCustomWebBrowserNavigateCompleteParams params{FSaveURL, false, kTimedOutErrorCode};
  FWebControl.DoNavigateComplete(params);
}

void TORVZYNDashQtWebBrowser::RenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus AStatus) {
  EngineCall call(*this);
  if (FShowingReadyPage) {
    EngineStartFailed();
    return;
  }
  using TKind = TORVZYNDashWebBrowserProcessFailedKind;
  const TKind kind = AStatus == QWebEnginePage::NormalTerminationStatus     ? TKind::Exited
                     : AStatus == QWebEnginePage::AbnormalTerminationStatus ? TKind::Failed
                     : AStatus == QWebEnginePage::KilledTerminationStatus   ? TKind::Killed
                                                                            : TKind::Crashed;
  // Out of the engine's signal: the page cannot be loaded again inside it.
  QMetaObject::invokeMethod(
      this,
      [this, engine = FEngineLifetime.Observe(), kind] {
        if (!engine.Ended()) FWebControl.DoRenderProcessTerminated(kind);
      },
      Qt::QueuedConnection);
}

bool TORVZYNDashQtWebBrowser::NavigationStarting(const QUrl& AURL) {
  EngineCall call(*this);
  if (AURL == FErrorPage) return true;
  if (AURL == ErrorPageOptionsLink()) {
    // Only the error page offers it; a modal dialog cannot run inside the
    // engine's call.
    if (FPage->url() == FErrorPage) {
      QMetaObject::invokeMethod(
          this,
          [this, engine = FEngineLifetime.Observe(), address = FErrorAddress.toString()] {
            if (!engine.Ended()) FWebControl.DoErrorPageOptions(address);
          },
          Qt::QueuedConnection);
    }
    return false;
  }
  FShowingReadyPage = false;
  FSaveURL = AURL.toString();
  FURL = FSaveURL;
  TORVZYNDashCustomWebBrowserBeforeNavigateParams params{FSaveURL, false};
  FWebControl.DoBeforeNavigate(params);
  if (!params.Cancel) StartNavigationTimer(AURL);
  return !params.Cancel;
}

void TORVZYNDashQtWebBrowser::NewWindowRequested(QWebEngineNewWindowRequest& ARequest) {
  EngineCall call(*this);
  TORVZYNDashWebBrowserNewWindowRequestedParams params{ARequest.requestedUrl().toString(), false,
                                                       ARequest.isUserInitiated()};
  FWebControl.DoNewWindowRequested(params);
  if (params.Handled || !FProfile || !FHost) return;
  // Not handled: the engine's own behaviour, a window of its own.
  auto* window = new QWebEngineView(FHost);
  window->setWindowFlag(Qt::Window);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setPage(new QWebEnginePage(FProfile, window));
  ARequest.openIn(window->page());
  window->resize(800, 600);
  window->show();
  FEngineWindows.emplace_back(window);
}

// ---- release ---------------------------------------------------------------

void TORVZYNDashQtWebBrowser::ReleaseEngine() {
  FEngineLifetime.End();
  // Downloads end with their engine. The local list keeps each operation
  // alive while it reports, whatever its listeners do meanwhile.
  const auto operations = std::move(FDownloadOperations);
  FDownloadOperations.clear();
  for (const auto& operation : operations) operation->EngineReleased();
  for (const QPointer<QWidget>& window : FEngineWindows) delete window.data();
  FEngineWindows.clear();
  if (FHost) FHost->removeEventFilter(this);
  if (FView) {
    // An engine that was still starting will never report back.
    FIsInitializing = false;
    disconnect(FPage, nullptr, this, nullptr);
    disconnect(FProfile, nullptr, this, nullptr);
    FView->hide();
    if (FEngineCallDepth > 0) {
      FView->deleteLater();
    } else {
      delete FView.data();
    }
  }
  FView.clear();
  FPage.clear();
  FProfile.clear();
  FShowingReadyPage = false;
  FNavigationTimer.stop();
  FErrorPage.clear();
  FErrorAddress.clear();
}

void TORVZYNDashQtWebBrowser::DeInitialize() {
  ReleaseEngine();
  // The name of the owner's host object survives, as the current address
  // and the settings do.
  if (FWebControl.CanDestroyDispatch()) FChannel.Clear();
  if (FAutoClearCache) {
    DeleteDataFolder();
    CachedFolders::ReleaseLast(this);
  }
}

void TORVZYNDashQtWebBrowser::DeleteDataFolder() {
  if (CachedFolders::ClaimedByOther(FFullCacheFolderName, this)) return;
  orv::DeleteDataFolder(FFullCacheFolderName, FCacheFolder);
}

void TORVZYNDashQtWebBrowser::ClearCache() {
  DeleteDataFolder();
  CachedFolders::Claim(FFullCacheFolderName, this);
}

// ---- navigation and scripts ------------------------------------------------

void TORVZYNDashQtWebBrowser::Navigate(const QString& AURL) {
  if (FPage && !AURL.isEmpty()) FPage->load(QUrl(AURL));
}

void TORVZYNDashQtWebBrowser::LoadHTML(const QString& AHTML) {
  if (FPage) FPage->setHtml(AHTML);
}

void TORVZYNDashQtWebBrowser::GoForward() {
  if (FPage) FPage->triggerAction(QWebEnginePage::Forward);
}

void TORVZYNDashQtWebBrowser::GoBack() {
  if (FPage) FPage->triggerAction(QWebEnginePage::Back);
}

void TORVZYNDashQtWebBrowser::Reload() {
  if (FPage) FPage->triggerAction(QWebEnginePage::Reload);
}

void TORVZYNDashQtWebBrowser::StopLoading() {
  if (FPage) FPage->triggerAction(QWebEnginePage::Stop);
}

bool TORVZYNDashQtWebBrowser::CanGoBack() const { return FPage && FPage->history()->canGoBack(); }

bool TORVZYNDashQtWebBrowser::CanGoForward() const { return FPage && FPage->history()->canGoForward(); }

void TORVZYNDashQtWebBrowser::ExecuteJavaScript(const QString& AScript,
                                                TORVZYNDashWebBrowserJavaScriptCompleteEvent AResult) {
  if (!FPage) return;
  // Nothing arrives once the engine has been released, even if the engine
  // still answers pending scripts while it goes away.
  FPage->runJavaScript(AScript, QWebEngineScript::MainWorld,
                       [this, engine = FEngineLifetime.Observe(), result = std::move(AResult)](const QVariant& value) {
                         if (engine.Ended()) return;
                         EngineCall call(*this);
                         if (result) result(VariantJson(value));
                       });
}

void* TORVZYNDashQtWebBrowser::NativeEnvironment() const { return FProfile.data(); }

void* TORVZYNDashQtWebBrowser::NativeBrowser() const { return FView.data(); }

// ---- host objects ----------------------------------------------------------

void TORVZYNDashQtWebBrowser::AddBridge(const QString& ABridgeName, std::shared_ptr<IHostObject> ABridgeObject) {
  if (!FView || ABridgeName.isEmpty() || !ABridgeObject) return;
  FChannel.Add(ABridgeName, std::move(ABridgeObject));
  FCustomBridge = ABridgeName;
}

void TORVZYNDashQtWebBrowser::RemoveBridge(const QString& ABridgeName) {
  if (ABridgeName.isEmpty()) return;
  FChannel.Remove(ABridgeName);
  if (ABridgeName == FCustomBridge) FCustomBridge.clear();
}

QString TORVZYNDashQtWebBrowser::HandleHostObjectCall(const QUrl& ASecurityOrigin, QStringView ARequest,
                                                      QStringView ANotice) {
  EngineCall call(*this);
  return FChannel.Handle(ASecurityOrigin, ARequest, ANotice);
}

// ---- settings --------------------------------------------------------------

void TORVZYNDashQtWebBrowser::SetUserAgent(const QString& AValue) {
  FUserAgent = AValue;
  if (FProfile) FProfile->setHttpUserAgent(AValue);
}

QString TORVZYNDashQtWebBrowser::UserAgent() const { return FProfile ? FProfile->httpUserAgent() : FUserAgent; }

void TORVZYNDashQtWebBrowser::SetEnableContextMenu(bool AValue) {
  FEnableContextMenu = AValue;
  if (FView) FView->setContextMenuPolicy(AValue ? Qt::DefaultContextMenu : Qt::NoContextMenu);
}

void TORVZYNDashQtWebBrowser::SetEnableShowDebugConsole(bool AValue) {
  FEnableShowDebugConsole = AValue;
  if (FPage) FPage->action(QWebEnginePage::InspectElement)->setVisible(AValue);
  ApplyAcceleratorKeys();
}

void TORVZYNDashQtWebBrowser::SetEnableAcceleratorKeys(bool AValue) {
  FEnableAcceleratorKeys = AValue;
  ApplyAcceleratorKeys();
}

void TORVZYNDashQtWebBrowser::SetAllowExternalDrop(bool AValue) {
  FAllowExternalDrop = AValue;
  if (!FView) return;
  FView->setAcceptDrops(AValue);
  if (QWidget* proxy = FView->focusProxy()) proxy->setAcceptDrops(AValue);
}

void TORVZYNDashQtWebBrowser::ShowDebugConsole() {
  if (!FPage || !FEnableShowDebugConsole || !FHost) return;
  if (QWebEnginePage* tools = FPage->devToolsPage()) {
    if (auto* window = qobject_cast<QWidget*>(tools->parent())) window->show();
    return;
  }
  auto* window = new QWebEngineView(FHost);
  window->setWindowFlag(Qt::Window);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setPage(new QWebEnginePage(FProfile, window));
  FPage->setDevToolsPage(window->page());
  window->resize(900, 600);
  window->show();
  FEngineWindows.emplace_back(window);
}

// The browser shortcuts of the engine: reload, history and developer
// tools, live while accelerator keys are enabled.
void TORVZYNDashQtWebBrowser::AddAccelerators() {
  struct Accelerator {
    QList<QKeySequence> keys;
    std::function<void()> run;
    bool debug;
  };
  const Accelerator accelerators[] = {
      {{QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)}, [this] { Reload(); }, false},
      {{QKeySequence(Qt::ALT | Qt::Key_Left)}, [this] { GoBack(); }, false},
      {{QKeySequence(Qt::ALT | Qt::Key_Right)}, [this] { GoForward(); }, false},
      {{QKeySequence(Qt::Key_F12), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I)},
       [this] { ShowDebugConsole(); },
       true},
  };
  for (const Accelerator& accelerator : accelerators) {
    auto* action = new QAction(FView);
    action->setShortcuts(accelerator.keys);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    action->setProperty("orvDebugAccelerator", accelerator.debug);
    connect(action, &QAction::triggered, this, accelerator.run);
    FView->addAction(action);
  }
  ApplyAcceleratorKeys();
}

void TORVZYNDashQtWebBrowser::ApplyAcceleratorKeys() {
  if (!FView) return;
  for (QAction* action : FView->actions()) {
    const bool debug = action->property("orvDebugAccelerator").toBool();
    action->setEnabled(FEnableAcceleratorKeys && (!debug || FEnableShowDebugConsole));
  }
}

// ---- bounds and visibility -------------------------------------------------

void TORVZYNDashQtWebBrowser::UpdateBounds() {
  if (!FView || !FHost) return;
  FView->setGeometry(FWebControl.AlignedBounds(FHost->size()));
}

void TORVZYNDashQtWebBrowser::UpdateVisibility() {
  if (!FView) {
    if (FWebControl.Visible() && HostWidget()) Initialize();
    return;
  }
  FView->setVisible(FWebControl.Visible());
}

void TORVZYNDashQtWebBrowser::BeforeParentChange() {
  if (!FView) return;
  FView->hide();
  if (FHost) FHost->removeEventFilter(this);
  FView->setParent(nullptr);
  FHost.clear();
}

bool TORVZYNDashQtWebBrowser::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AWatched == FHost && AEvent->type() == QEvent::Resize) UpdateBounds();
  return QObject::eventFilter(AWatched, AEvent);
}

// ---- downloads -------------------------------------------------------------

void TORVZYNDashQtWebBrowser::DownloadRequested(QWebEngineDownloadRequest* ARequest) {
  EngineCall call(*this);
  for (const auto& known : FDownloadOperations) {
    if (known->Id() == ARequest->id()) {
      known->Resume(ARequest);
      return;
    }
  }
  auto operation = QtDownloadOperation::Create(ARequest);
  auto starting = std::make_shared<QtDownloadStarting>(ARequest, operation);
  FDownloadOperations.push_back(operation);

  // The component's own record of the download comes first.
  auto& downloads = FWebControl.Downloads();
  downloads.push_back(std::make_unique<TORVZYNDashWebBrowserDownloadItem>());
  TORVZYNDashWebBrowserDownloadItem* item = downloads.back().get();
  item->URL = ARequest->url().toString();
  item->MimeType = ARequest->mimeType();
  item->ResultFilePath = starting->ResultFilePath();
  item->TotalBytes = ARequest->totalBytes();
  item->BytesReceived = ARequest->receivedBytes();
  const QString proposed = item->ResultFilePath;
  bool silent = false, pause = false, resume = false, cancel = false;
  FWebControl.DoDownloadStarted(*item, silent, pause, resume, cancel);
  if (item->ResultFilePath != proposed) starting->SetResultFilePath(item->ResultFilePath);
  starting->SetHandled(silent);
  if (cancel) {
    starting->Cancel();
    item->State = TORVZYNDashDownloadState::Cancelled;
    FWebControl.DoDownloadStateChanged(*item);
  } else {
    // The item may be gone by the time the engine reports (the component
    // drops its records when it is destroyed).
    auto itemAlive = [this, item] {
      for (const auto& download : FWebControl.Downloads())
        if (download.get() == item) return true;
      return false;
    };
    std::weak_ptr<QtDownloadOperation> weak = operation;
    operation->AddStateChanged([this, item, weak, itemAlive] {
      auto op = weak.lock();
      if (!op || !itemAlive()) return;
      switch (op->State()) {
        case DownloadState::InProgress: item->State = TORVZYNDashDownloadState::InProgress; break;
        case DownloadState::Interrupted: item->State = TORVZYNDashDownloadState::Interrupted; break;
        case DownloadState::Completed: item->State = TORVZYNDashDownloadState::Completed; break;
      }
      item->ResultFilePath = op->ResultFilePath();
      FWebControl.DoDownloadStateChanged(*item);
    });
    operation->AddBytesReceivedChanged([this, item, weak, itemAlive] {
      auto op = weak.lock();
      if (!op || !itemAlive()) return;
      item->BytesReceived = op->BytesReceived();
      item->TotalBytes = op->TotalBytesToReceive();
      FWebControl.DoDownloadBytesReceivedChanged(*item);
    });
  }

  // Then whoever tracks downloads; what they leave takes effect.
  FWebControl.DoDownloadStarting(starting);
  starting->Start();
  if (pause && !cancel && !resume) ARequest->pause();
}

}  // namespace orv
