#pragma once

#include "pkgmgr/gui_logger.h"
#include "pkgmgr/orv_runner.h"
#include "pkgmgr/orv_runners.h"
#include "pkgmgr/product_info.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace orv {

enum class TProductFilter : std::uint8_t { All, Installed };

// One message of the environment's log, with the command output that
// belongs to it (often empty).
class TGUILogItem {
public:
  TGUILogItem(QString AText, TLogLevel ALevel, QString AOutput)
      : FText(std::move(AText)), FLevel(ALevel), FOutput(std::move(AOutput)) {}

  const QString& Text() const { return FText; }
  TLogLevel Level() const { return FLevel; }
  const QString& Output() const { return FOutput; }

private:
  QString FText;
  TLogLevel FLevel;
  QString FOutput;
};

// The selection: rows of the environment's Products, not owned.
using TGUIProductSelection = std::vector<const TGUIProduct*>;

// Rebuilds the rows from the local and remote product lists: local
// products first, in list order, then remote ones that are not local.
void MergeProducts(TGUIProductList& Rows, const TProductInfoList& Local, const TProductInfoList& Remote);
// With the Installed filter drops every row without a local version.
void ApplyProductFilter(TGUIProductList& Rows, TProductFilter Filter);

// The one object through which the dashboard drives the package manager.
// It creates a runner per command, runs commands on the calling thread or
// on background threads, counts the commands in progress, turns runner
// failures into error log items and reports through callbacks, which run
// on the thread doing the work.
//
// Threads: every background thread shares ownership of the environment's
// state (rows, selection, log, cached information, active runners), so a
// command that outlives the destructor touches no freed memory. The
// destructor cancels the commands (and from then on none starts, such as
// the refresh that ends a build), waits for them and for the callbacks in
// flight (ShutdownWait at most, for both together), then detaches the
// callbacks: a late thread raises nothing into a destroyed owner. A handler
// still running then (one that blocks, or waits for the destroying thread)
// is left to finish; the environment reports nothing after it, but the
// handler's own code must not count on its owner or the environment still
// existing.
class TGUIEnvironment {
public:
  struct TProductProgressInfo {
    std::int32_t Percent = 0;
    QString ProductId;
    std::int32_t ProductPercent = 0;
  };

  using TProductsProc = std::function<void(const TGUIProductList& Products)>;
  using TRequestCredentialsEvent = std::function<void(QString& Email, QString& Code, bool& Accepted)>;
  using TGetSelectedProductsProc = std::function<void(TGUIProductSelection& Selection)>;
  using TCommandOutputProc = std::function<void(const QString& Line)>;
  using TProgressProc = std::function<void(std::int32_t Percent)>;
  using TProductProgressProc = std::function<void(const TProductProgressInfo& Progress)>;
  using TLogItemEvent = std::function<void(const TGUILogItem& Item)>;
  using TRunnerProc = std::function<void(TOrvRunner& Runner)>;
  using TNotifyProc = std::function<void()>;

  // ShutdownWait bounds the destructor: its waits for running commands and
  // for handlers in flight together.
  explicit TGUIEnvironment(std::chrono::milliseconds ShutdownWait = std::chrono::seconds(10));
  ~TGUIEnvironment();
  TGUIEnvironment(const TGUIEnvironment&) = delete;
  TGUIEnvironment& operator=(const TGUIEnvironment&) = delete;

  // Events; assign them before starting commands. Any may be empty.
  void SetOnProductsUpdated(TProductsProc Value);
  void SetOnRequestCredentials(TRequestCredentialsEvent Value);
  void SetOnGetSelectedProducts(TGetSelectedProductsProc Value);
  void SetOnLogItemGenerated(TLogItemEvent Value);
  void SetOnCommandOutput(TCommandOutputProc Value);
  void SetOnRunStart(TNotifyProc Value);
  void SetOnRunFinish(TNotifyProc Value);
  void SetOnNewVersionDetected(TNotifyProc Value);
  void SetOnRunnerCreated(TRunnerProc Value);

  // The merged rows. A refresh rebuilds them on a background thread: read
  // them inside OnProductsUpdated or OnGetSelectedProducts, or while
  // holding LockProducts. Don't call the selection predicates while
  // holding a lock that those handlers take.
  const TGUIProductList& Products() const;
  std::unique_lock<std::recursive_mutex> LockProducts() const;
  // A snapshot of every log item since creation.
  std::vector<TGUILogItem> LogItems() const;

  // Credentials when the package manager has none (on the calling
  // thread), then a product refresh in the background once idle.
  void Start();
  bool IsRunning() const;
  // Cancels the command of the innermost runner now running.
  void CancelRun();

  void ExecuteFullBuild(TProductProgressProc ProgressCallback = {});
  void ExecutePartialBuild(TProductProgressProc ProgressCallback = {});
  void ExecuteInstall(TProductProgressProc ProgressCallback = {});
  void ExecuteUninstall(TProgressProc ProgressCallback = {});
  // Waits in the background until idle. Progress is 0 before the command
  // and 100 after it succeeded; RelaunchCallback runs when the package
  // manager updated itself.
  void ExecuteSelfUpdate(TProgressProc ProgressCallback = {}, TNotifyProc RelaunchCallback = {});
  void ExecuteRequestCredentials();
  void ExecuteConfigure();
  void ChangeProductFilter(TProductFilter Filter);
  bool IsFilterActive(TProductFilter Filter) const;

  bool CanInstallSelected();
  bool CanUninstallSelected();
  bool CanBuild();
  bool CanApplyFilter() const;
  bool CanRequestCredentials() const;
  bool CanConfigure() const;

  // A list-valued configuration parameter ("[a,b]"); false after a
  // failure, which is logged, and then Values is left as it was.
  bool ConfigRead(const QString& ParamName, QStringList& Values);
  bool ConfigWrite(const QString& ParamName, const QStringList& Values);

  // The package manager's information, fetched on first use and cached
  // until configure or new credentials.
  TOrvInfo GetInfo();

private:
  class TState;

  void ExecuteBuild(bool FullBuild, TProductProgressProc ProgressCallback);

  std::shared_ptr<TState> FState;
  std::chrono::milliseconds FShutdownWait;
};

}  // namespace orv
