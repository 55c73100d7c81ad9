#pragma once

#include "core/batch_action.h"
#include "core/dashboard_page.h"
#include "core/dashboard_ports.h"
#include "core/dashboard_status.h"
#include "core/ide_record.h"
#include "core/ui_pipeline.h"
#include "settings/dashboard_settings.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace orv {

class TORVDashboardAccountProducts;
class TORVDashboardBridge;
class TORVDashboardBridgeMessage;
class TORVDashboardDownloadTracker;
class TORVDashboardKitwrightCoordinator;
class TORVDashboardOptionsSession;
class TORVDashboardProductCatalogue;
class TORVDashboardProductInstaller;
class TORVDashboardWebBrowser;
class TORVZYNDashCustomWebBrowser;
struct TORVZYNDashWebBrowserNewWindowRequestedParams;

// The dashboard controller, one per main window: owns the browser control,
// the bridge the page talks to and the rooms that do the page's work (the
// package manager, downloads, the account's products, the options dialog),
// and wires them. The page's messages, the query table and the product
// actions are its own (dashboard_messages/queries/actions.cpp). Created and
// destroyed on the UI thread; ExecuteScript and Log may be called from any
// thread.
class TORVDashboardBrowser {
public:
  static const QString BridgeName;  // DashboardBridge

  // AOwner is the main window. APlugin puts the engine's data below the
  // temporary folder instead of beside the program. ASiteURL is the vendor's
  // web site, AApiURL its REST API host (scheme, host, port each).
  TORVDashboardBrowser(QObject* AOwner, bool APlugin, const TORVDashboardPorts& APorts, QString ASiteURL,
                       const QString& AApiURL);
  ~TORVDashboardBrowser();
  TORVDashboardBrowser(const TORVDashboardBrowser&) = delete;
  TORVDashboardBrowser& operator=(const TORVDashboardBrowser&) = delete;

  void Log(const QString& AMessage) { FPage.Log(AMessage); }
  static QString GetVersion();
  QString GetIDEVersion() const { return {}; }
  QString GetIDETheme() const { return FActiveTheme; }
  void SetIDETheme(const QString& ATheme);
  void LaunchSearch(const QString& AQuery);
  bool IsRunning() const;
  TORVDashboardWebBrowser& WebBrowser() { return *FWebBrowser; }

  void ExecuteScript(const QString& AScript) { FPage.ExecuteScript(AScript); }
  // A message the page wrote to the bridge; the answer to the last query.
  void HandleMessage(const QString& AMessage);
  QString GetQueryAnswer();
  // Right after a query message: its answer, when computing it only reads
  // (the queries that open, start, ask or write something answer only when
  // the page reads), with the read's own effects held back until
  // QueryAnswerTaken says the page used the answer.
  std::optional<QString> AnswerQueryAhead();
  void QueryAnswerTaken();
  void ShowNotification(const QString& ATitle, const QString& ABody);
  void ShowOptionsDialog();  // returns after the dialog closed
  // The main window is being destroyed: page calls are dropped from now on.
  void OwnerDestroying() { FPage.OwnerDestroying(); }

  // The package manager's operations, on the UI thread.
  void StartKitwright();
  void RunKitwrightBatch(const TORVDashboardActions& AActions);
  void ReadDelphiVersions(QStringList& AValues);
  void WriteDelphiVersions(const QStringList& AValues);
  QString GetKitwrightVersion();
  QString GetKitwrightProductName(const QString& AID) const;
  void OpenKitwrightConfig();

  QString DashboardURL() const;
  QString SearchURL(const QString& AQuery) const;
  // The folder the browser keeps its data in (a trailing delimiter).
  static QString CacheFolderFor(bool APlugin);

  const TORVDashboardSettings& Settings() const { return FSettings; }
  std::uint8_t Status() const { return FStatus.Value(); }
  TORVDashboardStatuses& Statuses() { return FStatus; }
  const QString& Action() const { return FAction; }
  const TORVZYNIDEList& IDEList() const { return idelist; }

  // The rooms.
  TORVDashboardKitwrightCoordinator& Kitwright() const { return *FKitwrightCoordinator; }
  TORVDashboardDownloadTracker& Downloads() const { return *FDownloads; }
  TORVDashboardOptionsSession& OptionsSession() const { return *FOptionsSession; }

private:
  // Dispatch tables of the page's messages and queries.
  using TMessageHandler = void (TORVDashboardBrowser::*)(const TORVDashboardBridgeMessage&);
  struct TActionRoute {
    const char16_t* EventName;
    TMessageHandler Handler;
  };
  static const TActionRoute ActionRoutes[];
  // A query's answer; ClearsAction forgets the query once it is answered.
  // AnswerAhead computes the answer without the read's effects on the
  // controller, leaving them in FAheadEffect; null for a query whose work
  // reaches beyond its answer.
  struct TQueryRoute {
    const char16_t* Name;
    QString (*Answer)(TORVDashboardBrowser& AController);
    bool ClearsAction;
    QString (*AnswerAhead)(TORVDashboardBrowser& AController, const TQueryRoute& ARoute);
  };
  static const TQueryRoute QueryRoutes[];
  // For a query whose answer is all its work: the same work, ahead.
  static QString AnswerAsIs(TORVDashboardBrowser& AController, const TQueryRoute& ARoute);
  static const TQueryRoute* FindQuery(QStringView AName);

  void DoBrowserInitialized(TORVZYNDashCustomWebBrowser& Sender);
  void HandleNewWindowRequested(TORVZYNDashCustomWebBrowser& Sender,
                                TORVZYNDashWebBrowserNewWindowRequestedParams& Params);
  void AnnounceDownload(const TORVDashboardBridgeMessage& AMessage);
  void HandleMultiAction(const TORVDashboardBridgeMessage& AMessage);
  void HandleInstallOrUpdate(const TORVDashboardBridgeMessage& AMessage);
  void HandleUninstall(const TORVDashboardBridgeMessage& AMessage);

  // Runs AWork on the UI thread after the page's call returned, unless the
  // controller is gone by then; its error goes to the page's log.
  void Defer(std::function<void(TORVDashboardBrowser&)> AWork);
  void ReportDeferredError(const QString& AMessage);

  // First: the browser control outlives everything the controller frees.
  std::unique_ptr<TORVDashboardWebBrowser> FWebBrowser;
  TORVDashboardPorts FPorts;
  // Closed first in the destructor, dropping work queued for the UI thread.
  UiPipeline FPipeline;
  TORVDashboardPage FPage;
  QString FSiteURL;
  TORVDashboardSettings FSettings;
  QPointer<QObject> FOwner;
  TORVZYNIDEList idelist;
  QString FActiveTheme;
  TORVDashboardStatuses FStatus;
  QString FAction;
  // Whether the last message was a query, which may be answered ahead, and
  // the query so answered with the rest of its read, until the page says.
  bool FQuerySent = false;
  const TQueryRoute* FAheadQuery = nullptr;
  std::function<void(TORVDashboardBrowser&)> FAheadEffect;
  std::shared_ptr<TORVDashboardBridge> FBridge;
  // FDownloadList and FInstallList, and the classic installs.
  std::unique_ptr<TORVDashboardProductCatalogue> FCatalogue;
  std::unique_ptr<TORVDashboardProductInstaller> FInstaller;
  std::unique_ptr<TORVDashboardAccountProducts> FAccountProducts;
  std::unique_ptr<TORVDashboardKitwrightCoordinator> FKitwrightCoordinator;
  std::unique_ptr<TORVDashboardDownloadTracker> FDownloads;
  std::unique_ptr<TORVDashboardOptionsSession> FOptionsSession;
};

}  // namespace orv
