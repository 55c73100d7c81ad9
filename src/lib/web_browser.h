#pragma once

#include "lib/download.h"
#include "lib/log_rate_limit.h"
#include "lib/web_browser_backend.h"
#include "lib/web_browser_host_object.h"
#include "lib/web_browser_services.h"
#include "platform/lifetime.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QTimer;

namespace orv {

class TORVZYNDashCustomWebBrowser;

enum TORVZYNDashControlAlignment { caNone, caTop, caBottom, caLeft, caRight, caClient };

struct TORVZYNDashWebBrowserNewWindowRequestedParams {
  QString URL;
  bool Handled = false;
  bool IsUserInitiated = false;
};

// A message the page wrote to its console.
struct TORVZYNDashWebBrowserConsoleMessage {
  enum TLevel { Info, Warning, Error };
  TLevel Level = Info;
  QString Message;
  QString Source;  // the script's address
  int Line = 0;
};

// How the page's engine process ended.
enum class TORVZYNDashWebBrowserProcessFailedKind { Exited, Failed, Crashed, Killed };

struct TORVZYNDashCustomWebBrowserBeforeNavigateParams {
  QString URL;
  bool Cancel = false;
};

struct TORVZYNDashCustomWebBrowserNavigateCompleteParams {
  QString URL;
  bool Success = false;
  int ErrorCode = 0;
};

// What went wrong in the engine. Subclasses bring their own default texts.
class TORVZYNDashWebBrowserError {
public:
  TORVZYNDashWebBrowserError(QString AMessage, QString AType)
      : FMessage(std::move(AMessage)), FType(std::move(AType)) {}
  explicit TORVZYNDashWebBrowserError(QString AMessage)
      : TORVZYNDashWebBrowserError(std::move(AMessage), DefaultType()) {}
  static TORVZYNDashWebBrowserError CreateDefault() {
    return TORVZYNDashWebBrowserError(DefaultMessage(), DefaultType());
  }
  virtual ~TORVZYNDashWebBrowserError() = default;

  const QString& Message() const { return FMessage; }
  const QString& Type() const { return FType; }

  static QString DefaultMessage() { return QStringLiteral("Error Message"); }
  static QString DefaultType() { return QStringLiteral("ERROR_TYPE"); }

private:
  QString FMessage;
  QString FType;
};

enum class TORVZYNDashDownloadState { InProgress, Interrupted, Completed, Cancelled };

// One download as the backend last reported it.
struct TORVZYNDashWebBrowserDownloadItem {
  QString URL;
  QString MimeType;
  QString ResultFilePath;
  TORVZYNDashDownloadState State = TORVZYNDashDownloadState::InProgress;
  qint64 TotalBytes = -1;
  qint64 BytesReceived = 0;
};

using TORVZYNDashWebBrowserDownloads = std::vector<std::unique_ptr<TORVZYNDashWebBrowserDownloadItem>>;

class TORVZYNDashWebBrowserSettings {
public:
  explicit TORVZYNDashWebBrowserSettings(TORVZYNDashCustomWebBrowser& AOwner) : FOwner(AOwner) {}

  bool EnableContextMenu() const;
  void SetEnableContextMenu(bool AValue);
  bool EnableShowDebugConsole() const;
  void SetEnableShowDebugConsole(bool AValue);
  bool EnableAcceleratorKeys() const;
  void SetEnableAcceleratorKeys(bool AValue);
  bool AllowExternalDrop() const;
  void SetAllowExternalDrop(bool AValue);
  bool UsePopupMenuAsContextMenu() const { return FUsePopupMenuAsContextMenu; }
  void SetUsePopupMenuAsContextMenu(bool AValue) { FUsePopupMenuAsContextMenu = AValue; }
  const QString& Language() const { return FLanguage; }
  void SetLanguage(const QString& AValue) { FLanguage = AValue; }
  const QStringList& AdditionalBrowserArguments() const { return FAdditionalBrowserArguments; }
  void SetAdditionalBrowserArguments(const QStringList& AValue) { FAdditionalBrowserArguments = AValue; }

private:
  friend class TORVZYNDashCustomWebBrowser;
  // Pushes the stored values to the engine (not the getters, which would
  // read the new engine's defaults back).
  void Apply();

  TORVZYNDashCustomWebBrowser& FOwner;
  bool FAllowExternalDrop = true;
  bool FEnableAcceleratorKeys = true;
  bool FEnableContextMenu = true;
  bool FEnableShowDebugConsole = true;
  bool FUsePopupMenuAsContextMenu = false;
  QString FLanguage;
  QStringList FAdditionalBrowserArguments;
};

// The browser control. It owns no engine: a backend made by the registered
// browser factory service does the work, and calls back the Do-operations
// to raise events. Everything runs on the UI thread.
class TORVZYNDashCustomWebBrowser {
public:
  using TNotifyEvent = std::function<void(TORVZYNDashCustomWebBrowser& Sender)>;
  using TNewWindowRequestedEvent =
      std::function<void(TORVZYNDashCustomWebBrowser& Sender, TORVZYNDashWebBrowserNewWindowRequestedParams& Params)>;
  using TBeforeNavigateEvent =
      std::function<void(TORVZYNDashCustomWebBrowser& Sender, TORVZYNDashCustomWebBrowserBeforeNavigateParams& Params)>;
  using TNavigateCompleteEvent = std::function<void(TORVZYNDashCustomWebBrowser& Sender,
                                                    TORVZYNDashCustomWebBrowserNavigateCompleteParams& Params)>;
  using TErrorEvent =
      std::function<void(TORVZYNDashCustomWebBrowser& Sender, const TORVZYNDashWebBrowserError& AError)>;
  using TDownloadStartedEvent =
      std::function<void(TORVZYNDashCustomWebBrowser& Sender, TORVZYNDashWebBrowserDownloadItem& ADownload,
                         bool& ASilent, bool& APause, bool& AResume, bool& ACancel)>;
  using TDownloadEvent =
      std::function<void(TORVZYNDashCustomWebBrowser& Sender, TORVZYNDashWebBrowserDownloadItem& ADownload)>;
  using TConsoleMessageEvent =
      std::function<void(TORVZYNDashCustomWebBrowser& Sender, const TORVZYNDashWebBrowserConsoleMessage& AMessage)>;
  using TProcessFailedEvent =
      std::function<void(TORVZYNDashCustomWebBrowser& Sender, TORVZYNDashWebBrowserProcessFailedKind AKind)>;

  TORVZYNDashCustomWebBrowser(const TORVZYNDashCustomWebBrowser&) = delete;
  TORVZYNDashCustomWebBrowser& operator=(const TORVZYNDashCustomWebBrowser&) = delete;
  virtual ~TORVZYNDashCustomWebBrowser();

  // The control: the host it lives in (a widget for a widget backend),
  // its bounds, alignment and visibility.
  QObject* Parent() const { return FParent.data(); }
  // Detaches the engine from the old host, changes the host, then starts
  // the engine.
  void SetParent(QObject* AParent);
  QRect BoundsRect() const { return FBounds; }
  void SetBoundsRect(const QRect& AValue);
  TORVZYNDashControlAlignment ControlAlignment() const { return FControlAlignment; }
  void SetControlAlignment(TORVZYNDashControlAlignment AValue);
  // The rectangle the control takes in a parent of the given size.
  QRect AlignedBounds(const QSize& AParentSize) const;
  bool Visible() const { return FVisible; }
  void SetVisible(bool AValue);

  TORVZYNDashWebBrowserSettings& Settings() { return *FSettings; }
  const TORVZYNDashWebBrowserSettings& Settings() const { return *FSettings; }
  const TORVZYNDashWebBrowserDownloads& Downloads() const { return FDownloads; }
  TORVZYNDashWebBrowserDownloads& Downloads() { return FDownloads; }

  QString URL() const;
  void SetURL(const QString& AValue);
  QString UserAgent() const;
  void SetUserAgent(const QString& AValue);
  bool EnableContextMenu() const;
  void SetEnableContextMenu(bool AValue);
  bool EnableShowDebugConsole() const;
  void SetEnableShowDebugConsole(bool AValue);
  bool EnableAcceleratorKeys() const;
  void SetEnableAcceleratorKeys(bool AValue);
  QString CacheFolder() const;
  void SetCacheFolder(const QString& AValue);
  QString CacheFolderName() const;
  void SetCacheFolderName(const QString& AValue);
  bool AutoClearCache() const;
  void SetAutoClearCache(bool AValue);
  QString HostObjectOrigin() const;
  void SetHostObjectOrigin(const QString& AValue);
  // A main-frame navigation that has not completed after this many
  // milliseconds gives up and shows the error page; 0 waits for ever.
  static constexpr int kDefaultNavigationTimeout = 30000;
  int NavigationTimeout() const { return FNavigationTimeout; }
  void SetNavigationTimeout(int AMilliseconds) { FNavigationTimeout = AMilliseconds; }

  bool Initialized() const { return FInitialized; }
  bool CanDestroyDispatch() const { return FCanDestroyDispatch; }

  void Initialize();
  void DeInitialize();
  void ClearCache();

  void Navigate(const QString& AURL);
  void Navigate();
  void LoadHTML(const QString& AHTML);
  void Reload();
  void StopLoading();
  void GoBack();
  void GoForward();
  bool CanGoBack() const;
  bool CanGoForward() const;
  void ShowDebugConsole();

  // Never blocks. Queued scripts run one at a time in call order while the
  // engine is ready; an immediate one bypasses the queue. A script that
  // throws, or that is lost with its page (the renderer ended, or another
  // document took the page's place), completes with "null". While the page
  // is being loaded again after its renderer ended, scripts wait for it.
  void ExecuteJavaScript(const QString& AScript, TORVZYNDashWebBrowserJavaScriptCompleteEvent ACompleteEvent = {},
                         bool AImmediate = false);

  // Registers ABridgeObject under ABridgeName for the page; registering a
  // name again replaces the earlier object.
  void AddBridge(const QString& ABridgeName, std::shared_ptr<IHostObject> ABridgeObject);
  void RemoveBridge(const QString& ABridgeName);

  void* NativeEnvironment() const;
  void* NativeBrowser() const;
  // The engine's download notifications; null while there is no engine.
  // Handlers registered here go with the engine they were registered on.
  IDownloadEvents* DownloadEvents() const;

  // Events, raised only when assigned.
  TNotifyEvent OnInitialized;
  TNewWindowRequestedEvent OnNewWindowRequested;
  TBeforeNavigateEvent OnBeforeNavigate;
  TNavigateCompleteEvent OnNavigateComplete;
  TErrorEvent OnError;
  TDownloadStartedEvent OnDownloadStarted;
  TDownloadEvent OnDownloadStateChanged;
  TDownloadEvent OnDownloadBytesReceivedChanged;
  TConsoleMessageEvent OnGetConsoleMessage;
  TProcessFailedEvent OnProcessFailed;
  // Assigned, the error page offers Options beside Retry: a click raises
  // this (the settings may be what keeps the site away), and once it has
  // returned the address is loaded again.
  TNotifyEvent OnErrorPageOptions;

  // Called by the backend.
  virtual void DoEngineInitialized();
  virtual void DoError(const TORVZYNDashWebBrowserError& AError);
  virtual void DoBeforeNavigate(TORVZYNDashCustomWebBrowserBeforeNavigateParams& Params);
  virtual void DoNavigateComplete(TORVZYNDashCustomWebBrowserNavigateCompleteParams& Params);
  virtual void DoNewWindowRequested(TORVZYNDashWebBrowserNewWindowRequestedParams& Params);
  virtual void DoDownloadStarted(TORVZYNDashWebBrowserDownloadItem& ADownload, bool& ASilent, bool& APause,
                                 bool& AResume, bool& ACancel);
  virtual void DoDownloadStateChanged(TORVZYNDashWebBrowserDownloadItem& ADownload);
  virtual void DoDownloadBytesReceivedChanged(TORVZYNDashWebBrowserDownloadItem& ADownload);
  // After DoDownloadStarted: whoever tracks downloads through
  // DownloadEvents() decides; what the handlers leave in AArgs takes effect.
  virtual void DoDownloadStarting(const std::shared_ptr<IDownloadStarting>& AArgs);
  // The page's renderer ended: OnProcessFailed is raised, then the scripts
  // it was running fail and the page that was shown is loaded again: at
  // once the first time, after growing waits the next times, and after
  // kLostPageReloads reloads that did not keep it up the error page shows
  // in its place.
  virtual void DoRenderProcessTerminated(TORVZYNDashWebBrowserProcessFailedKind AKind);
  static constexpr int kLostPageReloads = 3;
  // The user chose Options on the error page shown for AURL.
  virtual void DoErrorPageOptions(const QString& AURL);
  bool OffersErrorPageOptions() const { return static_cast<bool>(OnErrorPageOptions); }
  // The page wrote to its console: OnGetConsoleMessage is raised, and the
  // message goes to the program's log (a page that prints in a loop has
  // most of its lines left out and counted).
  virtual void DoConsoleMessage(const TORVZYNDashWebBrowserConsoleMessage& AMessage);
  // Another document took the page's place (a cross-site navigation moves
  // it to another renderer): the scripts the old one was running fail.
  virtual void DoDocumentReplaced();
  virtual bool ShowsReadyPage() const { return true; }

protected:
  TORVZYNDashCustomWebBrowser();

  bool FCanDestroyDispatch = true;

private:
  struct TORVZYNDashScript {
    QString FScript;
    TORVZYNDashWebBrowserJavaScriptCompleteEvent FCompleteEvent;
  };

  bool PageReady() const { return FInitialized && !FReloadingLostPage; }
  void RunNextScript();
  // Hands the script to the engine; returns its ticket.
  quint64 SendScript(TORVZYNDashScript AScript);
  void ScriptCompleted(quint64 ATicket, const QString& AResult);
  void FailRunningScripts();
  void ResumeScriptsAfterReload();
  void ReloadLostPage(const QString& AURL);
  IORVZYNDashCustomWebBrowserSettings* SettingsFacet() const;
  friend class TORVZYNDashWebBrowserSettings;

  bool FInitializeEventCalled = false;
  bool FInitialized = false;
  // Queued scripts not yet handed to the engine.
  std::deque<TORVZYNDashScript> FScriptList;
  // Immediate scripts that wait for a page being loaded again.
  std::vector<TORVZYNDashScript> FHeldScripts;
  // Scripts the engine is running, by ticket; a ticket is never used twice,
  // so a completion that arrives after its script failed, or after its
  // engine was released, finds nothing. FQueuedTicket is the queue's own
  // (0: none running).
  std::map<quint64, TORVZYNDashWebBrowserJavaScriptCompleteEvent> FRunningScripts;
  quint64 FLastScriptTicket = 0;
  quint64 FQueuedTicket = 0;
  // The renderer ended and its page is being loaded again.
  bool FReloadingLostPage = false;
  // Reloads of a lost page since the page last stayed up, and when it
  // first loaded after its renderer last ended.
  int FLostPageReloads = 0;
  std::optional<std::chrono::steady_clock::time_point> FPageLoadedAt;
  // Holds a reload of FLostPageURL back while it runs.
  std::unique_ptr<QTimer> FLostPageReloadTimer;
  QString FLostPageURL;
  std::shared_ptr<IORVZYNDashWebBrowserService> FService;
  std::shared_ptr<IORVZYNDashCustomWebBrowser> FWebBrowser;
  QString FURL;
  bool FEnableShowDebugConsole = true;
  bool FEnableAcceleratorKeys = true;
  bool FEnableContextMenu = true;
  std::unique_ptr<TORVZYNDashWebBrowserSettings> FSettings;
  TORVZYNDashWebBrowserDownloads FDownloads;
  // Its tokens count on for the control's lifetime: a token of a released
  // engine never names a handler registered on a later one.
  std::unique_ptr<DownloadStartingEvents> FDownloadStarting = std::make_unique<DownloadStartingEvents>();
  QPointer<QObject> FParent;
  QRect FBounds{0, 0, 500, 350};
  TORVZYNDashControlAlignment FControlAlignment = caNone;
  bool FVisible = true;
  int FNavigationTimeout = kDefaultNavigationTimeout;
  // Completion reports that reach a backend outliving this control are
  // ignored; so is the rest of a completion whose handler destroyed it.
  LogRateLimit FConsoleLogLimit{50, std::chrono::seconds(10)};
  Lifetime<TORVZYNDashCustomWebBrowser> FLifetime{*this};
};

// The published browser control.
class TORVZYNDashWebBrowser : public TORVZYNDashCustomWebBrowser {
public:
  TORVZYNDashWebBrowser() = default;
};

// The dashboard's browser: the host objects it registers belong to the
// dashboard and survive engine restarts.
class TORVDashboardWebBrowser : public TORVZYNDashWebBrowser {
public:
  TORVDashboardWebBrowser() { FCanDestroyDispatch = false; }
};

}  // namespace orv
