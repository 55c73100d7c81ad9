#pragma once

#include "core/batch_action.h"
#include "core/dashboard_page.h"
#include "core/dashboard_ports.h"
#include "core/ide_record.h"
#include "core/product_catalogue.h"
#include "core/product_installer.h"
#include "core/product_records.h"
#include "lib/cloud_kitwright.h"
#include "lib/web_browser.h"
#include "pkgmgr/gui_environment.h"
#include "settings/dashboard_settings.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace orv {

class TORVDashboardBridge;
class TORVDashboardBridgeMessage;
class TORVDashboardOptionsDialog;

// What the dashboard is busy with, one bit each in TORVDashboardStatuses.
enum TORVDashboardStatus : std::uint8_t { sDownloading, sInstalling, sRunning };

// The dashboard controller, one per main window: owns the browser control,
// the bridge the page talks to and everything the page's commands work on.
// Created and destroyed on the UI thread; ExecuteScript and Log may be
// called from any thread.
class TORVDashboardBrowser {
public:
  // The name the page reaches the bridge by.
  static const QString BridgeName;  // DashboardBridge

  // AOwner is the main window: the browser control lives in it. APlugin
  // puts the engine's data below the temporary folder instead of beside the
  // program. ASiteURL is the vendor's web site, AApiURL its REST API host
  // (scheme, host, port each).
  TORVDashboardBrowser(QObject* AOwner, bool APlugin, const TORVDashboardPorts& APorts, QString ASiteURL,
                       const QString& AApiURL);
  ~TORVDashboardBrowser();
  TORVDashboardBrowser(const TORVDashboardBrowser&) = delete;
  TORVDashboardBrowser& operator=(const TORVDashboardBrowser&) = delete;

  // The page's log element; see TORVDashboardPage.
  void Log(const QString& AMessage) { FPage.Log(AMessage); }
  static QString GetVersion();
  QString GetIDEVersion() const { return {}; }
  QString GetIDETheme() const { return FActiveTheme; }
  void SetIDETheme(const QString& ATheme);
  void LaunchSearch(const QString& AQuery);
  bool IsRunning() const;
  TORVDashboardWebBrowser& WebBrowser() { return *FWebBrowser; }

  // Runs a script in the page later, on the UI thread, without waiting.
  void ExecuteScript(const QString& AScript) { FPage.ExecuteScript(AScript); }
  // One message the page wrote to the bridge.
  void HandleMessage(const QString& AMessage);
  // The answer to the last query message.
  QString GetQueryAnswer();
  void ShowNotification(const QString& ATitle, const QString& ABody);

  // The options dialog as the page opens it (query "GETOPTIONSDIALOG"): with
  // a box per installed Delphi IDE and the reaction to a changed package-
  // manager folder; after it closed the choice of versions is stored and the
  // page reloaded. Returns after the dialog closed.
  void ShowOptionsDialog();
  // Fills the dialog's package-manager state and IDE boxes.
  void LoadIDESelection(TORVDashboardOptionsDialog& AForm);
  // Stores the dialog's choice of Delphi versions.
  void SaveIDESelection(TORVDashboardOptionsDialog& AForm);
  // The open dialog's package-manager folder changed.
  void KitwrightDirChanged();

  // The main window is being destroyed: page calls are dropped from now on.
  void OwnerDestroying() { FPage.OwnerDestroying(); }

  // The dashboard page and the search page on the vendor's site.
  QString DashboardURL() const;
  QString SearchURL(const QString& AQuery) const;

  // The folder the browser keeps its data in (a trailing delimiter).
  static QString CacheFolderFor(bool APlugin);

  const TORVDashboardSettings& Settings() const { return FSettings; }
  std::uint8_t Status() const { return FStatus.load(); }
  bool HasStatus(TORVDashboardStatus AStatus) const { return FStatus.load() & (1u << AStatus); }
  void Include(TORVDashboardStatus AStatus) { FStatus.fetch_or(std::uint8_t(1u << AStatus)); }
  void Exclude(TORVDashboardStatus AStatus) { FStatus.fetch_and(std::uint8_t(~(1u << AStatus))); }
  const QString& Action() const { return FAction; }
  const QString& ProductAction() const { return FProductAction; }
  const TORVZYNIDEList& IDEList() const { return idelist; }
  TORVDashboardProductCatalogue& Catalogue() { return FCatalogue; }
  const TORVDashboardActiveDownloadList& ActiveDownloads() const { return FActiveDownloadList; }

  // A byte count as the download log shows it ("1.00 KB"); empty when
  // negative.
  static QString FormatByteSize(std::int64_t ABytes);

  // The package manager (dashboard_kitwright.cpp), on the UI thread.
  // A self-update, and a product refresh when the environment is idle.
  void StartKitwright();
  // Queues the steps that carry a package-manager identifier and starts
  // their command: the uninstalls first, the installs once those ended.
  void RunKitwrightBatch(const TORVDashboardActions& AActions);
  // The Delphi-version selection; both raise an Exception when the package
  // manager fails.
  void ReadDelphiVersions(QStringList& AValues);
  void WriteDelphiVersions(const QStringList& AValues);
  QString GetKitwrightVersion();
  QString GetKitwrightProductName(const QString& AID) const;
  void OpenKitwrightConfig();
  const QString& KitwrightAction() const { return FKitwrightAction; }
  const TORVKitwrightProductStatusList& KitwrightProductStatusList() const { return FKitwrightProductStatusList; }
  int OutputCount() const { return outputcount; }

  // Handlers of the environment's events, raised on the thread that runs
  // the command (a worker thread, or the UI thread for a synchronous one).
  // Every effect on the controller's state and every page call is posted
  // to the UI thread and runs there in the order the events were raised
  // (PostKitwrightEffect). Only the three that must act before the command
  // goes on work on the raising thread: the selection (the guarded queues
  // and the rows it is given), the credentials and the runner's paths (the
  // settings, which any thread may read).
  void HandleProductsUpdated(const TGUIProductList& AProducts);
  void HandleRequestCredentials(QString& AEmail, QString& ACode, bool& AAccepted);
  void HandleGetSelectedProducts(const TGUIProductList& AProducts, TGUIProductSelection& ASelection);
  void HandleRunnerCreated(TOrvRunner& ARunner);
  void HandleRunStart();
  void HandleRunFinish();
  void SendKitwrightOutput(const QString& ALine);
  void HandleNewVersionDetected();

private:
  using TMessageHandler = void (TORVDashboardBrowser::*)(const TORVDashboardBridgeMessage&);
  struct TActionRoute {
    const char16_t* EventName;
    TMessageHandler Handler;
  };
  static const TActionRoute ActionRoutes[];

  // A query's answer; ClearsAction forgets the query once it is answered.
  struct TQueryRoute {
    const char16_t* Name;
    QString (*Answer)(TORVDashboardBrowser& AController);
    bool ClearsAction;
  };
  static const TQueryRoute QueryRoutes[];
  static const TQueryRoute* FindQuery(QStringView AName);

  void DoBrowserInitialized(TORVZYNDashCustomWebBrowser& Sender);
  // The vendor API client's events: the account's products.
  void ConnectKitwright();
  void HandleGetToken(TORVZYNCloudKitwright& Sender, const QString& AToken,
                      TORVZYNDashCloudBaseRequestResult* ARequestResult);
  void HandleGetProducts(TORVZYNCloudKitwright& Sender, const TORVKitwrightProductList& AProducts,
                         TORVZYNDashCloudBaseRequestResult* ARequestResult);
  // The account's products into FRegisteredList: the ones fetched before,
  // or, without a token yet, from the vendor.
  void RefreshRegisteredList();
  void HandleNewWindowRequested(TORVZYNDashCustomWebBrowser& Sender,
                                TORVZYNDashWebBrowserNewWindowRequestedParams& Params);
  // Message handlers of the dispatch table.
  void AnnounceDownload(const TORVDashboardBridgeMessage& AMessage);
  void HandleMultiAction(const TORVDashboardBridgeMessage& AMessage);
  void HandleInstallOrUpdate(const TORVDashboardBridgeMessage& AMessage);
  void HandleUninstall(const TORVDashboardBridgeMessage& AMessage);

  // Runs AWork later on the UI thread, after the page's call has returned,
  // unless the controller is gone by then. An error of the work is reported
  // in the page's log instead of reaching the event loop.
  void Defer(std::function<void(TORVDashboardBrowser&)> AWork);
  // Work on the UI thread outside a page's call: its error goes to the
  // page's log.
  void RunReportingErrors(const std::function<void(TORVDashboardBrowser&)>& AWork);
  void ReportDeferredError(const QString& AMessage);
  std::optional<TORVDashboardInstall> FindInstallCopy(const QString& AName) const;

  // Download tracking (dashboard_downloads.cpp).
  void RegisterDownloadHandler();
  void RemoveDownloadHandler();
  void CancelDownloads();
  void HandleEngineEvent(const std::function<void()>& AWork);
  void DownloadStarting(const std::shared_ptr<IDownloadStarting>& AArgs);
  void DownloadInProgress(TORVDashboardActiveDownload& ADownload);
  void DownloadBytesChanged(TORVDashboardActiveDownload& ADownload);
  void DownloadCompleted(TORVDashboardActiveDownload& ADownload);
  void DownloadInterrupted(TORVDashboardActiveDownload& ADownload);
  void EndDownload(TORVDashboardActiveDownload& ADownload);

  // The package manager's side.
  void AttachKitwrightHandlers();
  using TKitwrightEffect = std::function<void(TORVDashboardBrowser&)>;
  // Runs AEffect on the UI thread after every effect posted before it.
  void PostKitwrightEffect(TKitwrightEffect AEffect);
  void KitwrightRunFinished();
  void StartKitwrightUninstall(const TORVDashboardActions& AUninstalls);
  void StartKitwrightInstall(const TORVDashboardActions& AInstalls);
  bool KitwrightUninstallFailedSince(std::size_t ALogMark) const;
  // The options dialog (dashboard_options.cpp). The IDs of the IDEs checked
  // in the dialog, in list order, none with "All versions"; each installed
  // IDE's Selected keeps its box's state.
  QStringList ChosenDelphiVersions(TORVDashboardOptionsDialog& AForm);
  // The package manager the settings name, as a canonical path; empty when
  // there is none.
  QString KitwrightIdentity() const;

  // Query answers.
  QString StatusText() const;
  QString KitwrightLogFile() const;
  QString KitwrightLogURL() const;
  QString KitwrightLogText() const;
  // {"Products": [...]} around the JSON of each record of the list.
  template <class TList>
  static QString ProductListAnswer(const TList& AList);

  // Declared first so the browser control outlives everything the
  // controller frees, as the main window's component would.
  std::unique_ptr<TORVDashboardWebBrowser> FWebBrowser;
  TORVDashboardPorts FPorts;
  // Before everything that calls the page, and gone before the browser.
  TORVDashboardPage FPage;
  QString FSiteURL;
  TORVDashboardSettings FSettings;
  QPointer<QObject> FOwner;

  TORVZYNIDEList idelist;
  QStringList kitwrightconfig;
  // Destroyed first in the destructor: its handlers reach into the
  // controller.
  std::unique_ptr<TGUIEnvironment> GUI;
  // The options dialog while the page has it open.
  TORVDashboardOptionsDialog* frm = nullptr;
  // The package manager (KitwrightIdentity) the open dialog shows.
  QString FOptionsKitwright;
  QString FActiveTheme;
  std::atomic<std::uint8_t> FStatus{0};
  std::unique_ptr<TORVZYNCloudKitwright> FKitwright;
  // A failed products answer is being tried once more.
  bool FRetryingProducts = false;
  QString FAction;
  QString FProductAction;
  QString FKitwrightAction;
  std::shared_ptr<TORVDashboardBridge> FBridge;
  TORVDashboardActiveDownloadList FActiveDownloadList;
  TORVDashboardProductCatalogue FCatalogue;  // FDownloadList and FInstallList
  TORVDashboardProductInstaller FInstaller;
  TORVDashboardRegisteredList FRegisteredList;
  // The queues are drained by the selection handler on a worker thread,
  // under this lock. Lock order: the environment's row lock (held while it
  // asks for the selection) before this one; nothing calls into the
  // environment while holding it.
  std::mutex FKitwrightQueueLock;
  TORVKitwrightInstallList FKitwrightInstallList;
  TORVKitwrightInstallList FKitwrightUninstallList;
  TORVKitwrightProductStatusList FKitwrightProductStatusList;
  DownloadEventToken FDownloadStartingEventHandlerToken = 0;
  // A batch that both removes and installs, from its start until its
  // install command has ended; on the UI thread. The environment's idle
  // moments before a command it started has begun belong to other
  // commands.
  struct TKitwrightMixedBatch {
    TORVDashboardActions Installs;
    std::size_t LogMark = 0;      // the environment's log before the uninstall
    bool InstallStarted = false;  // the installs were handed over
    bool CommandBegun = false;    // the command started last reported its start
  };
  std::optional<TKitwrightMixedBatch> FKitwrightMixedBatch;
  int outputcount = 0;
  // The effects of the environment's handlers on their way to the UI
  // thread, in the order they were raised; one posted task runs them all.
  struct TKitwrightEffects {
    std::mutex Lock;
    std::vector<TKitwrightEffect> Pending;
  };
  const std::shared_ptr<TKitwrightEffects> FKitwrightEffects;

  // Deferred actions posted to the UI thread share this; the destructor
  // clears it, so work that arrives after the controller is gone does
  // nothing.
  const std::shared_ptr<std::atomic<TORVDashboardBrowser*>> FSelf;
};

}  // namespace orv
