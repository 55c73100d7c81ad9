#include "lib/web_browser.h"

#include "lib/utils.h"
#include "lib/web_browser_error_page.h"

#include <QTimer>

#include <array>
#include <utility>

namespace orv {

// ---- settings --------------------------------------------------------------

bool TORVZYNDashWebBrowserSettings::EnableContextMenu() const {
  return FOwner.Initialized() ? FOwner.EnableContextMenu() : FEnableContextMenu;
}

void TORVZYNDashWebBrowserSettings::SetEnableContextMenu(bool AValue) {
  FEnableContextMenu = AValue;
  FOwner.SetEnableContextMenu(AValue);
}

bool TORVZYNDashWebBrowserSettings::EnableShowDebugConsole() const {
  return FOwner.Initialized() ? FOwner.EnableShowDebugConsole() : FEnableShowDebugConsole;
}

void TORVZYNDashWebBrowserSettings::SetEnableShowDebugConsole(bool AValue) {
  FEnableShowDebugConsole = AValue;
  FOwner.SetEnableShowDebugConsole(AValue);
}

bool TORVZYNDashWebBrowserSettings::EnableAcceleratorKeys() const {
  return FOwner.Initialized() ? FOwner.EnableAcceleratorKeys() : FEnableAcceleratorKeys;
}

void TORVZYNDashWebBrowserSettings::SetEnableAcceleratorKeys(bool AValue) {
  FEnableAcceleratorKeys = AValue;
  FOwner.SetEnableAcceleratorKeys(AValue);
}

bool TORVZYNDashWebBrowserSettings::AllowExternalDrop() const {
  if (auto* facet = FOwner.SettingsFacet()) return facet->AllowExternalDrop();
  return FAllowExternalDrop;
}

void TORVZYNDashWebBrowserSettings::SetAllowExternalDrop(bool AValue) {
  FAllowExternalDrop = AValue;
  if (auto* facet = FOwner.SettingsFacet()) facet->SetAllowExternalDrop(AValue);
}

void TORVZYNDashWebBrowserSettings::Apply() {
  SetEnableAcceleratorKeys(FEnableAcceleratorKeys);
  SetEnableContextMenu(FEnableContextMenu);
  SetEnableShowDebugConsole(FEnableShowDebugConsole);
  SetAllowExternalDrop(FAllowExternalDrop);
}

// ---- construction ----------------------------------------------------------

TORVZYNDashCustomWebBrowser::TORVZYNDashCustomWebBrowser()
    : FSettings(std::make_unique<TORVZYNDashWebBrowserSettings>(*this)) {
  FLostPageReloadTimer = std::make_unique<QTimer>();
  FLostPageReloadTimer->setSingleShot(true);
  // The timer goes with the control, and its connection with it.
  QObject::connect(FLostPageReloadTimer.get(), &QTimer::timeout, [this] { ReloadLostPage(FLostPageURL); });
  if (auto* services = TORVZYNDashWebBrowserPlatformServices::Current()) {
    FService = services->GetPlatformService<IORVZYNDashWebBrowserService>(IORVZYNDashWebBrowserService::IID());
  }
  if (FService) FWebBrowser = FService->CreateWebBrowser(*this);
}

TORVZYNDashCustomWebBrowser::~TORVZYNDashCustomWebBrowser() {
  FLifetime.End();
  if (FService && FWebBrowser) FService->DestroyWebBrowser(FWebBrowser);
  FDownloads.clear();
  if (FWebBrowser) FWebBrowser->DeInitialize();
  FWebBrowser.reset();
  FScriptList.clear();
  FHeldScripts.clear();
  FRunningScripts.clear();
  FSettings.reset();
}

// ---- the control -----------------------------------------------------------

void TORVZYNDashCustomWebBrowser::SetParent(QObject* AParent) {
  if (FWebBrowser) FWebBrowser->BeforeParentChange();
  FParent = AParent;
  if (FParent) Initialize();
}

void TORVZYNDashCustomWebBrowser::SetBoundsRect(const QRect& AValue) {
  FBounds = AValue;
  if (FWebBrowser) FWebBrowser->UpdateBounds();
}

void TORVZYNDashCustomWebBrowser::SetControlAlignment(TORVZYNDashControlAlignment AValue) {
  FControlAlignment = AValue;
  if (FWebBrowser) FWebBrowser->UpdateBounds();
}

QRect TORVZYNDashCustomWebBrowser::AlignedBounds(const QSize& AParentSize) const {
  const int pw = AParentSize.width();
  const int ph = AParentSize.height();
  switch (FControlAlignment) {
    case caTop: return {0, 0, pw, FBounds.height()};
    case caBottom: return {0, ph - FBounds.height(), pw, FBounds.height()};
    case caLeft: return {0, 0, FBounds.width(), ph};
    case caRight: return {pw - FBounds.width(), 0, FBounds.width(), ph};
    case caClient: return {0, 0, pw, ph};
    case caNone: break;
  }
  return FBounds;
}

void TORVZYNDashCustomWebBrowser::SetVisible(bool AValue) {
  FVisible = AValue;
  if (FWebBrowser) FWebBrowser->UpdateVisibility();
}

// ---- properties ------------------------------------------------------------

QString TORVZYNDashCustomWebBrowser::URL() const { return FWebBrowser ? FWebBrowser->URL() : FURL; }

void TORVZYNDashCustomWebBrowser::SetURL(const QString& AValue) {
  FURL = AValue;
  if (!FWebBrowser) return;
  FWebBrowser->SetURL(AValue);
  if (!AValue.isEmpty()) Navigate();
}

QString TORVZYNDashCustomWebBrowser::UserAgent() const { return FWebBrowser ? FWebBrowser->UserAgent() : QString(); }

void TORVZYNDashCustomWebBrowser::SetUserAgent(const QString& AValue) {
  if (FWebBrowser) FWebBrowser->SetUserAgent(AValue);
}

bool TORVZYNDashCustomWebBrowser::EnableContextMenu() const {
  return FWebBrowser ? FWebBrowser->EnableContextMenu() : FEnableContextMenu;
}

void TORVZYNDashCustomWebBrowser::SetEnableContextMenu(bool AValue) {
  FEnableContextMenu = AValue;
  FSettings->FEnableContextMenu = AValue;
  if (FWebBrowser) FWebBrowser->SetEnableContextMenu(AValue);
}

bool TORVZYNDashCustomWebBrowser::EnableShowDebugConsole() const {
  return FWebBrowser ? FWebBrowser->EnableShowDebugConsole() : FEnableShowDebugConsole;
}

void TORVZYNDashCustomWebBrowser::SetEnableShowDebugConsole(bool AValue) {
  FEnableShowDebugConsole = AValue;
  if (FWebBrowser) FWebBrowser->SetEnableShowDebugConsole(AValue);
}

bool TORVZYNDashCustomWebBrowser::EnableAcceleratorKeys() const {
  return FWebBrowser ? FWebBrowser->EnableAcceleratorKeys() : FEnableAcceleratorKeys;
}

void TORVZYNDashCustomWebBrowser::SetEnableAcceleratorKeys(bool AValue) {
  FEnableAcceleratorKeys = AValue;
  if (FWebBrowser) FWebBrowser->SetEnableAcceleratorKeys(AValue);
}

QString TORVZYNDashCustomWebBrowser::CacheFolder() const {
  return FWebBrowser ? FWebBrowser->CacheFolder() : QString();
}

void TORVZYNDashCustomWebBrowser::SetCacheFolder(const QString& AValue) {
  if (FWebBrowser) FWebBrowser->SetCacheFolder(AValue);
}

QString TORVZYNDashCustomWebBrowser::CacheFolderName() const {
  return FWebBrowser ? FWebBrowser->CacheFolderName() : QString();
}

void TORVZYNDashCustomWebBrowser::SetCacheFolderName(const QString& AValue) {
  if (FWebBrowser) FWebBrowser->SetCacheFolderName(AValue);
}

bool TORVZYNDashCustomWebBrowser::AutoClearCache() const { return FWebBrowser && FWebBrowser->AutoClearCache(); }

void TORVZYNDashCustomWebBrowser::SetAutoClearCache(bool AValue) {
  if (FWebBrowser) FWebBrowser->SetAutoClearCache(AValue);
}

QString TORVZYNDashCustomWebBrowser::HostObjectOrigin() const {
  return FWebBrowser ? FWebBrowser->HostObjectOrigin() : QString();
}

void TORVZYNDashCustomWebBrowser::SetHostObjectOrigin(const QString& AValue) {
  if (FWebBrowser) FWebBrowser->SetHostObjectOrigin(AValue);
}

IORVZYNDashCustomWebBrowserSettings* TORVZYNDashCustomWebBrowser::SettingsFacet() const {
  return dynamic_cast<IORVZYNDashCustomWebBrowserSettings*>(FWebBrowser.get());
}

// ---- life cycle ------------------------------------------------------------

void TORVZYNDashCustomWebBrowser::Initialize() {
  if (FWebBrowser) FWebBrowser->Initialize();
}

void TORVZYNDashCustomWebBrowser::DeInitialize() {
  FInitialized = false;
  FInitializeEventCalled = false;
  // A script that was running in the released engine never reports back;
  // left in the queue it would hold back every script of the next engine.
  FScriptList.clear();
  FHeldScripts.clear();
  FRunningScripts.clear();
  FQueuedTicket = 0;
  FReloadingLostPage = false;
  // A new engine gets the whole series of reloads again.
  FLostPageReloadTimer->stop();
  FLostPageReloads = 0;
  FPageLoadedAt.reset();
  FDownloadStarting->Clear();
  if (FWebBrowser) FWebBrowser->DeInitialize();
}

void TORVZYNDashCustomWebBrowser::ClearCache() {
  if (FWebBrowser) FWebBrowser->ClearCache();
}

void TORVZYNDashCustomWebBrowser::DoEngineInitialized() {
  FInitialized = true;
  FSettings->Apply();
  if (OnInitialized && !FInitializeEventCalled) {
    FInitializeEventCalled = true;
    OnInitialized(*this);
  }
}

// ---- navigation ------------------------------------------------------------

void TORVZYNDashCustomWebBrowser::Navigate(const QString& AURL) {
  if (FWebBrowser) FWebBrowser->Navigate(AURL);
}

void TORVZYNDashCustomWebBrowser::Navigate() {
  if (FWebBrowser) FWebBrowser->Navigate();
}

void TORVZYNDashCustomWebBrowser::LoadHTML(const QString& AHTML) {
  if (FWebBrowser) FWebBrowser->LoadHTML(AHTML);
}

void TORVZYNDashCustomWebBrowser::Reload() {
  if (FWebBrowser) FWebBrowser->Reload();
}

void TORVZYNDashCustomWebBrowser::StopLoading() {
  if (FWebBrowser) FWebBrowser->StopLoading();
}

void TORVZYNDashCustomWebBrowser::GoBack() {
  if (FWebBrowser) FWebBrowser->GoBack();
}

void TORVZYNDashCustomWebBrowser::GoForward() {
  if (FWebBrowser) FWebBrowser->GoForward();
}

bool TORVZYNDashCustomWebBrowser::CanGoBack() const { return FWebBrowser && FWebBrowser->CanGoBack(); }

bool TORVZYNDashCustomWebBrowser::CanGoForward() const { return FWebBrowser && FWebBrowser->CanGoForward(); }

void TORVZYNDashCustomWebBrowser::ShowDebugConsole() {
  if (FWebBrowser) FWebBrowser->ShowDebugConsole();
}

void* TORVZYNDashCustomWebBrowser::NativeEnvironment() const {
  return FWebBrowser ? FWebBrowser->NativeEnvironment() : nullptr;
}

void* TORVZYNDashCustomWebBrowser::NativeBrowser() const {
  return FWebBrowser ? FWebBrowser->NativeBrowser() : nullptr;
}

IDownloadEvents* TORVZYNDashCustomWebBrowser::DownloadEvents() const {
  return NativeBrowser() ? FDownloadStarting.get() : nullptr;
}

// ---- script queue ----------------------------------------------------------

namespace {

// What a script that failed or was lost reports, as a script that throws does.
const QString kFailedScriptResult = QStringLiteral("null");

}  // namespace

void TORVZYNDashCustomWebBrowser::ExecuteJavaScript(const QString& AScript,
                                                    TORVZYNDashWebBrowserJavaScriptCompleteEvent ACompleteEvent,
                                                    bool AImmediate) {
  // Nothing runs before the engine is ready: the script is dropped.
  if (!FWebBrowser || !FInitialized) return;
  TORVZYNDashScript script{AScript, std::move(ACompleteEvent)};
  if (!AImmediate) {
    FScriptList.push_back(std::move(script));
    RunNextScript();
  } else if (FReloadingLostPage) {
    FHeldScripts.push_back(std::move(script));
  } else {
    SendScript(std::move(script));
  }
}

void TORVZYNDashCustomWebBrowser::RunNextScript() {
  if (FQueuedTicket != 0 || FScriptList.empty() || !PageReady()) return;
  TORVZYNDashScript next = std::move(FScriptList.front());
  FScriptList.pop_front();
  FQueuedTicket = SendScript(std::move(next));
}

quint64 TORVZYNDashCustomWebBrowser::SendScript(TORVZYNDashScript AScript) {
  const quint64 ticket = ++FLastScriptTicket;
  FRunningScripts.emplace(ticket, std::move(AScript.FCompleteEvent));
  FWebBrowser->ExecuteJavaScript(AScript.FScript, [self = FLifetime.Observe(), ticket](const QString& AResult) {
    if (auto* alive = self.Get()) alive->ScriptCompleted(ticket, AResult);
  });
  return ticket;
}

void TORVZYNDashCustomWebBrowser::ScriptCompleted(quint64 ATicket, const QString& AResult) {
  auto entry = FRunningScripts.extract(ATicket);
  if (entry.empty()) return;
  const auto self = FLifetime.Observe();
  if (entry.mapped()) entry.mapped()(AResult);
  if (self.Ended() || ATicket != FQueuedTicket) return;
  FQueuedTicket = 0;
  RunNextScript();
}

void TORVZYNDashCustomWebBrowser::FailRunningScripts() {
  auto lost = std::exchange(FRunningScripts, {});
  FQueuedTicket = 0;
  const auto self = FLifetime.Observe();
  for (auto& [ticket, completeEvent] : lost) {
    if (completeEvent) completeEvent(kFailedScriptResult);
    if (self.Ended()) return;
  }
}

namespace {

// The waits before the reloads of a page whose renderer ended, one after
// another: a renderer that died once has its page back at once, one that
// dies on every load is not restarted in a tight loop.
constexpr std::array<std::chrono::milliseconds, TORVZYNDashCustomWebBrowser::kLostPageReloads> kLostPageReloadDelays{
    std::chrono::milliseconds(0), std::chrono::seconds(1), std::chrono::seconds(4)};
// A page that stayed up this long after loading has recovered: when its
// renderer ends again, the series of reloads starts anew.
constexpr auto kPageRecoveredAfter = std::chrono::seconds(30);

}  // namespace

void TORVZYNDashCustomWebBrowser::DoRenderProcessTerminated(TORVZYNDashWebBrowserProcessFailedKind AKind) {
  if (OnProcessFailed) {
    const auto self = FLifetime.Observe();
    OnProcessFailed(*this, AKind);
    if (self.Ended()) return;
  }
  FReloadingLostPage = true;
  if (FPageLoadedAt && std::chrono::steady_clock::now() - *FPageLoadedAt >= kPageRecoveredAfter) FLostPageReloads = 0;
  FPageLoadedAt.reset();
  const QString url = URL();
  const QString page = url.isEmpty() ? QStringLiteral("the page") : url;
  const auto self = FLifetime.Observe();
  FailRunningScripts();
  if (self.Ended()) return;
  if (FLostPageReloads == kLostPageReloads) {
    TORVZYNDashUtils::Log(QStringLiteral("The page's renderer ended after %1 reloads of %2; showing the error page")
                              .arg(FLostPageReloads)
                              .arg(page));
    if (FWebBrowser) FWebBrowser->ShowErrorPage(url, RendererEndedReason(FLostPageReloads + 1));
    // Nothing reports the error page's load: the scripts go on in it.
    ResumeScriptsAfterReload();
    return;
  }
  const std::chrono::milliseconds delay = kLostPageReloadDelays[FLostPageReloads++];
  if (delay.count() == 0) {
    TORVZYNDashUtils::Log(QStringLiteral("The page's renderer ended; loading %1 again").arg(page));
    ReloadLostPage(url);
    return;
  }
  TORVZYNDashUtils::Log(QStringLiteral("The page's renderer ended again; loading %1 again in %2 s")
                            .arg(page)
                            .arg(delay.count() / 1000.0));
  FLostPageURL = url;
  FLostPageReloadTimer->start(delay);
}

void TORVZYNDashCustomWebBrowser::ReloadLostPage(const QString& AURL) {
  if (AURL.isEmpty()) {
    Reload();
  } else {
    Navigate(AURL);
  }
}

void TORVZYNDashCustomWebBrowser::DoErrorPageOptions(const QString& AURL) {
  if (OnErrorPageOptions) {
    const auto self = FLifetime.Observe();
    OnErrorPageOptions(*this);
    if (self.Ended()) return;
  }
  Navigate(AURL);
}

void TORVZYNDashCustomWebBrowser::DoConsoleMessage(const TORVZYNDashWebBrowserConsoleMessage& AMessage) {
  if (OnGetConsoleMessage) {
    const auto self = FLifetime.Observe();
    OnGetConsoleMessage(*this, AMessage);
    if (self.Ended()) return;
  }
  int leftOut = 0;
  if (!FConsoleLogLimit.Admit(LogRateLimit::Clock::now(), leftOut)) return;
  if (leftOut > 0) TORVZYNDashUtils::Log(QStringLiteral("Page console: %1 messages left out").arg(leftOut));
  static const char* const levels[] = {"info", "warning", "error"};
  // Long messages are cut: one line of the log per message.
  constexpr qsizetype kLongest = 1000;
  const auto oneLine = [](const QString& AText) {
    QString line = AText.left(kLongest);
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
  };
  TORVZYNDashUtils::Log(
      QStringLiteral("Page console %1: %2 (%3:%4)")
          .arg(QLatin1String(levels[AMessage.Level]), oneLine(AMessage.Message), oneLine(AMessage.Source))
          .arg(AMessage.Line));
}

void TORVZYNDashCustomWebBrowser::DoDocumentReplaced() {
  const auto self = FLifetime.Observe();
  FailRunningScripts();
  if (!self.Ended()) RunNextScript();
}

// The page that was loaded again after its renderer ended is there (or
// could not be loaded): the scripts that waited for it go first.
void TORVZYNDashCustomWebBrowser::ResumeScriptsAfterReload() {
  if (!FReloadingLostPage) return;
  FReloadingLostPage = false;
  for (TORVZYNDashScript& script : std::exchange(FHeldScripts, {})) SendScript(std::move(script));
  RunNextScript();
}

// ---- bridges ---------------------------------------------------------------

void TORVZYNDashCustomWebBrowser::AddBridge(const QString& ABridgeName, std::shared_ptr<IHostObject> ABridgeObject) {
  if (!FWebBrowser) return;
  FWebBrowser->RemoveBridge(ABridgeName);
  FWebBrowser->AddBridge(ABridgeName, std::move(ABridgeObject));
}

void TORVZYNDashCustomWebBrowser::RemoveBridge(const QString& ABridgeName) {
  if (FWebBrowser) FWebBrowser->RemoveBridge(ABridgeName);
}

// ---- events ----------------------------------------------------------------

void TORVZYNDashCustomWebBrowser::DoError(const TORVZYNDashWebBrowserError& AError) {
  if (OnError) OnError(*this, AError);
}

void TORVZYNDashCustomWebBrowser::DoBeforeNavigate(TORVZYNDashCustomWebBrowserBeforeNavigateParams& Params) {
  // Another page takes the place of the lost one that waited to be loaded.
  FLostPageReloadTimer->stop();
  if (OnBeforeNavigate) OnBeforeNavigate(*this, Params);
}

void TORVZYNDashCustomWebBrowser::DoNavigateComplete(TORVZYNDashCustomWebBrowserNavigateCompleteParams& Params) {
  if (Params.Success && !FPageLoadedAt) FPageLoadedAt = std::chrono::steady_clock::now();
  ResumeScriptsAfterReload();
  if (OnNavigateComplete) OnNavigateComplete(*this, Params);
}

void TORVZYNDashCustomWebBrowser::DoNewWindowRequested(TORVZYNDashWebBrowserNewWindowRequestedParams& Params) {
  if (OnNewWindowRequested) OnNewWindowRequested(*this, Params);
}

void TORVZYNDashCustomWebBrowser::DoDownloadStarted(TORVZYNDashWebBrowserDownloadItem& ADownload, bool& ASilent,
                                                    bool& APause, bool& AResume, bool& ACancel) {
  if (OnDownloadStarted) OnDownloadStarted(*this, ADownload, ASilent, APause, AResume, ACancel);
}

void TORVZYNDashCustomWebBrowser::DoDownloadStateChanged(TORVZYNDashWebBrowserDownloadItem& ADownload) {
  if (OnDownloadStateChanged) OnDownloadStateChanged(*this, ADownload);
}

void TORVZYNDashCustomWebBrowser::DoDownloadBytesReceivedChanged(TORVZYNDashWebBrowserDownloadItem& ADownload) {
  if (OnDownloadBytesReceivedChanged) OnDownloadBytesReceivedChanged(*this, ADownload);
}

void TORVZYNDashCustomWebBrowser::DoDownloadStarting(const std::shared_ptr<IDownloadStarting>& AArgs) {
  FDownloadStarting->Raise(AArgs);
}

}  // namespace orv
