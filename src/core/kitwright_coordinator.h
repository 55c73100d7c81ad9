#pragma once

#include "core/batch_action.h"
#include "core/dashboard_status.h"
#include "core/product_records.h"
#include "pkgmgr/gui_environment.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <memory>
#include <mutex>

namespace orv {

class TORVDashboardPage;
class TORVDashboardSettings;
class UiPipeline;

// An output line as the page shows it: lines that mention errors in red.
QString KitwrightOutputMarkup(const QString& ALine);

// The dashboard's side of the package manager: owns the environment, turns
// its events into the controller's state and page calls, and carries out
// the batches the page hands over, one after another.
//
// Threads: the environment raises its events on the thread running the
// command. The handlers post what they do through the pipeline, so the
// effects run on the UI thread in the order the events were raised; the UI
// thread owns the status changes, the batch state, the status rows and the
// output count. Only the selection handler answers on the raising thread:
// it touches the queues, under FQueueLock, and the rows it is handed.
// Lock order: the environment's row lock (held while it asks for the
// selection) before FQueueLock; nothing calls into the environment while
// holding FQueueLock.
//
// A batch waits until the environment is idle, then runs its uninstall
// command and its install command, each with the batch's own products,
// fixed when the batch was handed over. Batches handed over meanwhile
// follow in order. The page hears KitwrightActionFinished once per batch,
// after its last command; other commands' ends are the batch's business
// while one waits or runs.
class TORVDashboardKitwrightCoordinator {
public:
  TORVDashboardKitwrightCoordinator(const TORVDashboardSettings& ASettings, TORVDashboardStatuses& AStatus,
                                    UiPipeline& APipeline, TORVDashboardPage& APage);
  // Cancels a running command and waits for it.
  ~TORVDashboardKitwrightCoordinator();
  TORVDashboardKitwrightCoordinator(const TORVDashboardKitwrightCoordinator&) = delete;
  TORVDashboardKitwrightCoordinator& operator=(const TORVDashboardKitwrightCoordinator&) = delete;

  // On the UI thread. A self-update, and a product refresh when nothing
  // runs or waits.
  void StartKitwright();
  // Takes the steps that carry a package-manager identifier as one batch.
  void RunKitwrightBatch(const TORVDashboardActions& AActions);
  // The Delphi-version selection; both raise an Exception when the package
  // manager fails.
  void ReadDelphiVersions(QStringList& AValues);
  void WriteDelphiVersions(const QStringList& AValues);
  QString GetKitwrightVersion();
  QString GetKitwrightProductName(const QString& AID) const;
  void OpenKitwrightConfig();

  // True while the environment runs a command.
  bool IsRunning() const;
  const QString& KitwrightAction() const { return FKitwrightAction; }
  const TORVKitwrightProductStatusList& ProductStatusList() const { return FKitwrightProductStatusList; }
  int OutputCount() const { return outputcount; }

private:
  // The environment's events.
  void HandleProductsUpdated(const TGUIProductList& AProducts);
  void HandleRequestCredentials(QString& AEmail, QString& ACode, bool& AAccepted);
  void HandleGetSelectedProducts(const TGUIProductList& AProducts, TGUIProductSelection& ASelection);
  void HandleRunnerCreated(TOrvRunner& ARunner);
  void HandleRunStart();
  void HandleRunFinish();
  void SendKitwrightOutput(const QString& ALine);
  void HandleNewVersionDetected();

  // Runs AEffect on the UI thread after every effect posted before it.
  void Post(std::function<void()> AEffect);

  struct TBatch {
    TORVDashboardActions Uninstalls;
    TORVDashboardActions Installs;
  };
  enum class TStep { Waiting, Uninstalling, Installing };
  // Moves the first batch on as far as the environment lets it.
  void Advance();
  void StartCommand(TStep AStep, const TORVDashboardActions& AActions);
  void FinishBatch();

  const TORVDashboardSettings& FSettings;
  TORVDashboardStatuses& FStatus;
  UiPipeline& FPipeline;
  TORVDashboardPage& FPage;

  QString FKitwrightAction;
  std::mutex FQueueLock;
  TORVKitwrightInstallList FKitwrightInstallList;
  TORVKitwrightInstallList FKitwrightUninstallList;
  TORVKitwrightProductStatusList FKitwrightProductStatusList;
  int outputcount = 0;

  // The batches handed over, the first one waiting or running; UI thread.
  std::deque<TBatch> FBatches;
  TStep FStep = TStep::Waiting;
  // The command started last has reported; until then, the environment's
  // idle moments belong to other commands.
  bool FCommandBegun = false;

  // Last: destroyed first, waiting for the handlers in flight.
  std::unique_ptr<TGUIEnvironment> GUI;
};

}  // namespace orv
