#include "web_browser.h"

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
    : FSettings(std::make_unique<TORVZYNDashWebBrowserSettings>(*this)),
      FSelf(std::make_shared<TORVZYNDashCustomWebBrowser*>(this)) {
  if (auto* services = TORVZYNDashWebBrowserPlatformServices::Current()) {
    FService = services->GetPlatformService<IORVZYNDashWebBrowserService>(
        IORVZYNDashWebBrowserService::IID());
  }
  if (FService) FWebBrowser = FService->CreateWebBrowser(*this);
}

TORVZYNDashCustomWebBrowser::~TORVZYNDashCustomWebBrowser() {
  FSelf.reset();
  if (FService && FWebBrowser) FService->DestroyWebBrowser(FWebBrowser);
  FDownloads.clear();
  if (FWebBrowser) FWebBrowser->DeInitialize();
  FWebBrowser.reset();
  FScriptList.clear();
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

QString TORVZYNDashCustomWebBrowser::URL() const {
  return FWebBrowser ? FWebBrowser->URL() : FURL;
}

void TORVZYNDashCustomWebBrowser::SetURL(const QString& AValue) {
  FURL = AValue;
  if (!FWebBrowser) return;
  FWebBrowser->SetURL(AValue);
  if (!AValue.isEmpty()) Navigate();
}

QString TORVZYNDashCustomWebBrowser::UserAgent() const {
  return FWebBrowser ? FWebBrowser->UserAgent() : QString();
}

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

bool TORVZYNDashCustomWebBrowser::AutoClearCache() const {
  return FWebBrowser && FWebBrowser->AutoClearCache();
}

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
  ++FEngineGeneration;
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

bool TORVZYNDashCustomWebBrowser::CanGoBack() const {
  return FWebBrowser && FWebBrowser->CanGoBack();
}

bool TORVZYNDashCustomWebBrowser::CanGoForward() const {
  return FWebBrowser && FWebBrowser->CanGoForward();
}

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
  if (!NativeBrowser()) return nullptr;
  return dynamic_cast<IDownloadEvents*>(FWebBrowser.get());
}

// ---- script queue ----------------------------------------------------------

void TORVZYNDashCustomWebBrowser::ExecuteJavaScript(
    const QString& AScript, TORVZYNDashWebBrowserJavaScriptCompleteEvent ACompleteEvent,
    bool AImmediate) {
  if (!FWebBrowser) return;
  if (AImmediate && FInitialized) {
    FWebBrowser->ExecuteJavaScript(AScript, std::move(ACompleteEvent), {});
    return;
  }
  FScriptList.push_back({AScript, std::move(ACompleteEvent)});
  if (FScriptList.size() == 1 && FInitialized) {
    RunFirstScript();
  } else if (!FInitialized) {
    // Nothing runs before the engine is ready: the entry is dropped.
    ExecuteNextScript();
  }
}

void TORVZYNDashCustomWebBrowser::ExecuteNextScript() {
  if (!FWebBrowser) return;
  if (!FScriptList.empty()) FScriptList.pop_front();
  if (!FScriptList.empty()) RunFirstScript();
}

void TORVZYNDashCustomWebBrowser::RunFirstScript() {
  const TORVZYNDashScript& entry = FScriptList.front();
  std::weak_ptr<TORVZYNDashCustomWebBrowser*> self = FSelf;
  const unsigned generation = FEngineGeneration;
  FWebBrowser->ExecuteJavaScript(entry.FScript, entry.FCompleteEvent, [self, generation] {
    auto alive = self.lock();
    if (alive && (*alive)->FEngineGeneration == generation) (*alive)->ExecuteNextScript();
  });
}

// ---- bridges ---------------------------------------------------------------

void TORVZYNDashCustomWebBrowser::AddBridge(const QString& ABridgeName,
                                           std::shared_ptr<IHostObject> ABridgeObject) {
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

void TORVZYNDashCustomWebBrowser::DoBeforeNavigate(
    TORVZYNDashCustomWebBrowserBeforeNavigateParams& Params) {
  if (OnBeforeNavigate) OnBeforeNavigate(*this, Params);
}

void TORVZYNDashCustomWebBrowser::DoNavigateComplete(
    TORVZYNDashCustomWebBrowserNavigateCompleteParams& Params) {
  if (OnNavigateComplete) OnNavigateComplete(*this, Params);
}

void TORVZYNDashCustomWebBrowser::DoNewWindowRequested(
    TORVZYNDashWebBrowserNewWindowRequestedParams& Params) {
  if (OnNewWindowRequested) OnNewWindowRequested(*this, Params);
}

void TORVZYNDashCustomWebBrowser::DoDownloadStarted(TORVZYNDashWebBrowserDownloadItem& ADownload,
                                                    bool& ASilent, bool& APause, bool& AResume,
                                                    bool& ACancel) {
  if (OnDownloadStarted) OnDownloadStarted(*this, ADownload, ASilent, APause, AResume, ACancel);
}

void TORVZYNDashCustomWebBrowser::DoDownloadStateChanged(TORVZYNDashWebBrowserDownloadItem& ADownload) {
  if (OnDownloadStateChanged) OnDownloadStateChanged(*this, ADownload);
}

void TORVZYNDashCustomWebBrowser::DoDownloadBytesReceivedChanged(
    TORVZYNDashWebBrowserDownloadItem& ADownload) {
  if (OnDownloadBytesReceivedChanged) OnDownloadBytesReceivedChanged(*this, ADownload);
}

}  // namespace orv
