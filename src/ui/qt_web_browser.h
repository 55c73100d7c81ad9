#pragma once

#include "lib/download.h"
#include "lib/web_browser.h"
#include "platform/lifetime.h"
#include "ui/host_object_channel.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QWebEngineDownloadRequest;
class QWebEngineLoadingInfo;
class QWebEngineNewWindowRequest;
class QWebEngineProfile;
class QWebEngineView;

namespace orv {

class Dialogs;
class QtDownloadOperation;
class QtWebPage;

// Facts about the installed engine, fixed at program start (shown by the
// options dialog and on the ready page).
bool QtWebEngineLoaded();
QString QtWebEngineBrowserVersion();

// Registers the Qt WebEngine browser factory service, unless a browser
// service is registered already. Message boxes about engine failures go to
// ADialogs; none are shown when it is null. Call once at program start,
// after the QApplication exists; Unregister at program end.
void RegisterQtWebBrowserService(Dialogs* ADialogs);
void UnregisterQtWebBrowserService();

// The engine's own host object "bridge": the page assigns an address to
// its ObjectMessage, which becomes the backend's current address and is
// announced as a navigation about to start.
class TORVZYNDashRemoteObject : public IHostObject {
public:
  using MessageSet = std::function<void(const QString& AMessage)>;
  explicit TORVZYNDashRemoteObject(MessageSet AMessageSet) : FMessageSet(std::move(AMessageSet)) {}
  QStringList propertyNames() const override { return {QStringLiteral("ObjectMessage")}; }
  QString getProperty(const QString&) override { return FMessage; }
  void setProperty(const QString&, const QString& AValue) override {
    FMessage = AValue;
    FMessageSet(AValue);
  }

private:
  MessageSet FMessageSet;
  QString FMessage;
};

class TORVZYNDashQtWebBrowserInitializationError : public TORVZYNDashWebBrowserError {
public:
  TORVZYNDashQtWebBrowserInitializationError();
};

class TORVZYNDashQtWebBrowserEngineMissingError : public TORVZYNDashWebBrowserError {
public:
  TORVZYNDashQtWebBrowserEngineMissingError();
};

// The browser component's backend over Qt WebEngine: one view, page and
// profile (with its own data folder) per engine, created by Initialize and
// hosted in the component's parent widget.
class TORVZYNDashQtWebBrowser : public QObject,
                                public IORVZYNDashCustomWebBrowser,
                                public IORVZYNDashCustomWebBrowserSettings {
public:
  TORVZYNDashQtWebBrowser(TORVZYNDashCustomWebBrowser& AWebControl, Dialogs* ADialogs);
  ~TORVZYNDashQtWebBrowser() override;

  void SetUserAgent(const QString& AValue) override;
  QString UserAgent() const override;
  void SetURL(const QString& AValue) override { FURL = AValue; }
  QString URL() const override { return FURL; }
  void SetEnableContextMenu(bool AValue) override;
  bool EnableContextMenu() const override { return FEnableContextMenu; }
  void SetEnableShowDebugConsole(bool AValue) override;
  bool EnableShowDebugConsole() const override { return FEnableShowDebugConsole; }
  void SetEnableAcceleratorKeys(bool AValue) override;
  bool EnableAcceleratorKeys() const override { return FEnableAcceleratorKeys; }
  void SetCacheFolderName(const QString& AValue) override;
  QString CacheFolderName() const override { return FCacheFolderName; }
  void SetAutoClearCache(bool AValue) override { FAutoClearCache = AValue; }
  bool AutoClearCache() const override { return FAutoClearCache; }
  void SetCacheFolder(const QString& AValue) override;
  QString CacheFolder() const override { return FCacheFolder; }
  void SetAllowExternalDrop(bool AValue) override;
  bool AllowExternalDrop() const override { return FAllowExternalDrop; }
  void SetHostObjectOrigin(const QString& AValue) override { FChannel.SetAllowedOrigin(AValue); }
  QString HostObjectOrigin() const override { return FChannel.AllowedOrigin(); }
  QString FullCacheFolderName() const { return FFullCacheFolderName; }

  void Navigate(const QString& AURL) override;
  void Navigate() override { Navigate(FURL); }
  void LoadHTML(const QString& AHTML) override;
  void GoForward() override;
  void GoBack() override;
  void Reload() override;
  void StopLoading() override;
  bool CanGoBack() const override;
  bool CanGoForward() const override;
  void ShowErrorPage(const QString& AURL, const QString& AReason) override;

  void AddBridge(const QString& ABridgeName, std::shared_ptr<IHostObject> ABridgeObject) override;
  void RemoveBridge(const QString& ABridgeName) override;

  void UpdateBounds() override;
  void UpdateVisibility() override;
  void BeforeParentChange() override;

  void Initialize() override;
  void DeInitialize() override;
  void ClearCache() override;
  void ShowDebugConsole() override;

  void ExecuteJavaScript(const QString& AScript, TORVZYNDashWebBrowserJavaScriptCompleteEvent AResult) override;

  // The profile and the view; null without an engine.
  void* NativeEnvironment() const override;
  void* NativeBrowser() const override;

  // Answers the page's host-object calls (from the page's prompt hook).
  QString HandleHostObjectCall(const QUrl& ASecurityOrigin, QStringView ARequest, QStringView ANotice);
  const QString& HostObjectMarker() const { return FChannel.Marker(); }
  // Navigation tracking (from the page's navigation hook); false cancels.
  bool NavigationStarting(const QUrl& AURL);

protected:
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

private:
  void CreateEngine();
  void ShowReadyPage();
  void EngineStartFailed();
  void LoadingChanged(const QWebEngineLoadingInfo& AInfo);
  void RenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus AStatus);
  // Shows the local error page for an address the main frame could not load.
  void LoadErrorPage(const QUrl& AAddress, const QString& AReason);
  // Every main-frame navigation has its own time-out, a later one replacing
  // an earlier one's.
  void StartNavigationTimer(const QUrl& AAddress);
  void NavigationTimedOut();
  void NewWindowRequested(QWebEngineNewWindowRequest& ARequest);
  void DownloadRequested(QWebEngineDownloadRequest* ARequest);
  // Deferred while the engine is calling us: its page is on the stack.
  void ReleaseEngine();
  class EngineCall;
  void DeleteDataFolder();
  void ApplyAcceleratorKeys();
  void AddAccelerators();
  QWidget* HostWidget() const;
  void ShowMessage(const QString& AText) const;

  TORVZYNDashCustomWebBrowser& FWebControl;
  Dialogs* FDialogs;
  HostObjectChannel FChannel;

  bool FIsInitializing = false;
  // Set until the ready page is shown or a navigation replaces it.
  bool FShowingReadyPage = false;
  QString FSaveURL;
  QString FCustomBridge;
  std::shared_ptr<TORVZYNDashRemoteObject> FRemoteObject;
  QString FURL;
  QString FUserAgent;
  bool FEnableContextMenu = true;
  bool FEnableShowDebugConsole = true;
  bool FEnableAcceleratorKeys = true;
  bool FAllowExternalDrop = true;
  QString FCacheFolderName = QStringLiteral("EdgeCache");
  bool FAutoClearCache = true;
  QString FCacheFolder;
  QString FFullCacheFolderName;

  // The engine: the view owns its page, the page owns its profile, so one
  // deletion releases them in the order the engine needs.
  QPointer<QWebEngineView> FView;
  QPointer<QtWebPage> FPage;
  QPointer<QWebEngineProfile> FProfile;
  QPointer<QWidget> FHost;
  std::vector<QPointer<QWidget>> FEngineWindows;  // popups and developer tools
  std::vector<std::shared_ptr<QtDownloadOperation>> FDownloadOperations;
  int FEngineCallDepth = 0;
  // Runs while a main-frame navigation to FPendingNavigation is under way.
  QTimer FNavigationTimer;
  QUrl FPendingNavigation;
  // The error page is loaded quietly: it is no navigation of the control,
  // which keeps naming the address that failed (FErrorAddress).
  QUrl FErrorPage;
  QUrl FErrorAddress;
  // Renewed with each engine and ended when it is released: late reports of
  // a released engine are dropped.
  Lifetime<TORVZYNDashQtWebBrowser> FEngineLifetime{*this};
};

}  // namespace orv
