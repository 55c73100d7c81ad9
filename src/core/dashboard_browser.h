#pragma once

#include "core/dashboard_page.h"
#include "core/dashboard_ports.h"
#include "core/ide_record.h"
#include "core/product_catalogue.h"
#include "core/product_installer.h"
#include "core/product_records.h"
#include "lib/web_browser.h"
#include "settings/dashboard_settings.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

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
  // program. ASiteURL is the vendor's web site (scheme, host, port).
  TORVDashboardBrowser(QObject* AOwner, bool APlugin, const TORVDashboardPorts& APorts, QString ASiteURL);
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
  // The options dialog while the page has it open.
  TORVDashboardOptionsDialog* frm = nullptr;
  // The package manager (KitwrightIdentity) the open dialog shows.
  QString FOptionsKitwright;
  QString FActiveTheme;
  std::atomic<std::uint8_t> FStatus{0};
  QString FAction;
  QString FProductAction;
  QString FKitwrightAction;
  std::shared_ptr<TORVDashboardBridge> FBridge;
  TORVDashboardActiveDownloadList FActiveDownloadList;
  TORVDashboardProductCatalogue FCatalogue;  // FDownloadList and FInstallList
  TORVDashboardProductInstaller FInstaller;
  TORVDashboardRegisteredList FRegisteredList;
  TORVKitwrightInstallList FKitwrightInstallList;
  TORVKitwrightInstallList FKitwrightUninstallList;
  TORVKitwrightProductStatusList FKitwrightProductStatusList;
  DownloadEventToken FDownloadStartingEventHandlerToken = 0;
  std::atomic<int> outputcount{0};

  // Deferred actions posted to the UI thread share this; the destructor
  // clears it, so work that arrives after the controller is gone does
  // nothing.
  const std::shared_ptr<std::atomic<TORVDashboardBrowser*>> FSelf;
};

}  // namespace orv
