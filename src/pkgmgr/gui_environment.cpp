#include "pkgmgr/gui_environment.h"

#include "lib/text_trim.h"
#include "pkgmgr/multi_logger.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <optional>
#include <thread>
#include <utility>

namespace orv {

namespace {

using namespace std::chrono_literals;

// The class names that error log items show for each runner class.
template <class T>
QString RunnerClassName();
template <>
QString RunnerClassName<TOrvListRunner>() {
  return QStringLiteral("TOrvListRunner");
}
template <>
QString RunnerClassName<TOrvListRemoteRunner>() {
  return QStringLiteral("TOrvListRemoteRunner");
}
template <>
QString RunnerClassName<TOrvInfoRunner>() {
  return QStringLiteral("TOrvInfoRunner");
}
template <>
QString RunnerClassName<TOrvCredentialsRunner>() {
  return QStringLiteral("TOrvCredentialsRunner");
}
template <>
QString RunnerClassName<TOrvBuildRunner>() {
  return QStringLiteral("TOrvBuildRunner");
}
template <>
QString RunnerClassName<TOrvInstallRunner>() {
  return QStringLiteral("TOrvInstallRunner");
}
template <>
QString RunnerClassName<TOrvUninstallRunner>() {
  return QStringLiteral("TOrvUninstallRunner");
}
template <>
QString RunnerClassName<TOrvSelfUpdateRunner>() {
  return QStringLiteral("TOrvSelfUpdateRunner");
}
template <>
QString RunnerClassName<TOrvConfigureRunner>() {
  return QStringLiteral("TOrvConfigureRunner");
}
template <>
QString RunnerClassName<TOrvConfigReadRunner>() {
  return QStringLiteral("TOrvConfigReadRunner");
}
template <>
QString RunnerClassName<TOrvConfigWriteRunner>() {
  return QStringLiteral("TOrvConfigWriteRunner");
}

QString ExceptionMessage(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) return own->message();
  return QString::fromUtf8(e.what());
}

QString ExceptionClassName(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) return own->className();
  return QStringLiteral("Exception");
}

}  // namespace

void MergeProducts(TGUIProductList& Rows, const TProductInfoList& Local, const TProductInfoList& Remote) {
  Rows.Clear();
  for (std::size_t i = 0; i < Local.size(); ++i) {
    const TProductInfo& product = Local[i];
    auto row = std::make_unique<TGUIProduct>();
    row->SetId(product.Id());
    row->SetName(product.Name());
    row->SetLocalVersion(product.Version());
    row->SetStatus(product.HasIDEInfo() ? TProductStatus::Installed : TProductStatus::Available);
    row->SetHasFetchInfo(!product.Local());
    Rows.Add(std::move(row));
  }
  for (std::size_t i = 0; i < Remote.size(); ++i) {
    const TProductInfo& product = Remote[i];
    TGUIProduct* row = Rows.Find(product.Id());
    if (!row) {
      auto added = std::make_unique<TGUIProduct>();
      added->SetId(product.Id());
      added->SetName(product.Name());
      row = &Rows.Add(std::move(added));
    }
    if (row->HasFetchInfo()) row->SetRemoteVersion(product.Version());
    row->SetVendorId(product.VendorId());
  }
}

void ApplyProductFilter(TGUIProductList& Rows, TProductFilter Filter) {
  if (Filter != TProductFilter::Installed) return;
  for (std::size_t i = Rows.size(); i-- > 0;)
    if (Rows[i].LocalVersion().IsNull()) Rows.RemoveAt(i);
}

// Everything the environment's threads use. The environment and each of
// its background threads hold it through a shared_ptr, so a thread that
// outlives the environment keeps it alive.
class TGUIEnvironment::TState : public std::enable_shared_from_this<TGUIEnvironment::TState> {
public:
  struct TEvents {
    TProductsProc OnProductsUpdated;
    TRequestCredentialsEvent OnRequestCredentials;
    TGetSelectedProductsProc OnGetSelectedProducts;
    TLogItemEvent OnLogItemGenerated;
    TCommandOutputProc OnCommandOutput;
    TNotifyProc OnRunStart;
    TNotifyProc OnRunFinish;
    TNotifyProc OnNewVersionDetected;
    TRunnerProc OnRunnerCreated;
  };

  // Owner callbacks. Raising one counts it as in flight (no lock is held
  // while it runs); Detach waits a while for those and stops all later ones.
  template <class F>
  void SetEvent(F TEvents::*event, F value) {
    const std::lock_guard lock(FEventsMutex);
    FEvents.*event = std::move(value);
  }
  template <class F>
  bool HasEvent(F TEvents::*event) {
    const std::lock_guard lock(FEventsMutex);
    return !FDetached && FEvents.*event;
  }
  template <class F, class... Args>
  void Raise(F TEvents::*event, Args&&... args) {
    F handler;
    {
      const std::lock_guard lock(FEventsMutex);
      if (FDetached || !(FEvents.*event)) return;
      handler = FEvents.*event;
      ++FEventsInFlight;
    }
    const TInFlight done(*this);
    // Destroyed before done, so that a Detach that saw the handlers end
    // leaves no closure of the owner's behind.
    const F call = std::move(handler);
    call(std::forward<Args>(args)...);
  }
  // A callback the owner passed to an operation (progress, relaunch).
  template <class F, class... Args>
  void Call(const F& callback, Args&&... args) {
    if (!callback) return;
    {
      const std::lock_guard lock(FEventsMutex);
      if (FDetached) return;
      ++FEventsInFlight;
    }
    const TInFlight done(*this);
    callback(std::forward<Args>(args)...);
  }
  // Stops all later callbacks, after waiting until the deadline at most
  // for those in flight. One still running then (it blocks, or waits for
  // the destroying thread) ends on its own; whatever its thread does next
  // raises nothing.
  void Detach(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(FEventsMutex);
    FDetached = true;
    FEventsIdle.wait_until(lock, deadline, [this] { return FEventsInFlight == 0; });
    FEvents = {};
  }

  bool IsRunning() const { return FRunningCount.load() > 0; }
  // Until no command runs or the deadline passed.
  void WaitIdle(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(FIdleMutex);
    FIdle.wait_until(lock, deadline, [this] { return !IsRunning(); });
  }
  bool ShuttingDown() const { return FShuttingDown.load(); }

  // BeginRun, then the work, then EndRun also when the work raises.
  void BeginRun() {
    if (FRunningCount.fetch_add(1) != 0) return;
    try {
      Raise(&TEvents::OnRunStart);
    } catch (...) {
      EndRun();
      throw;
    }
  }
  template <class Work>
  void Counted(Work&& work) {
    BeginRun();
    EndingRun(std::forward<Work>(work));
  }
  // The work of a run counted already, then EndRun.
  template <class Work>
  void EndingRun(Work&& work) {
    try {
      work();
    } catch (...) {
      EndRun();
      throw;
    }
    EndRun();
  }
  void EndRun() {
    bool idle = false;
    {
      // Under the lock, so that WaitIdle cannot miss the change between its
      // check and its wait.
      const std::lock_guard lock(FIdleMutex);
      idle = FRunningCount.fetch_sub(1) == 1;
    }
    if (!idle) return;
    FIdle.notify_all();
    Raise(&TEvents::OnRunFinish);
  }

  template <class T, class Work>
  void ExecuteRunner(Work&& work);
  template <class T, class Work>
  void RunAsync(Work work);
  void RunBackground(std::function<void(TState&)> work);
  void StartThread(std::function<void(TState&)> body);
  void WarnIfRunning() const;

  void RefreshProducts(TProductFilter filter);
  // Progress 0, output and progress forwarding, the selected ids, the
  // command, then the final progress and a refresh.
  template <class T, class Run>
  void RunBuildCommand(T& runner, const TProgressCallback& report, Run run);

  // The selection refilled by the owner, under the rows lock.
  void UpdateSelection();
  QStringList GetSelectedProductIds();
  template <class Pred>
  bool SelectionIsNonEmptyAndAll(Pred pred);
  bool AnyRow(const std::function<bool(const TGUIProduct&)>& pred) const;

  TOrvInfo GetInfo();
  void InvalidateInfo();

  void LogMessage(TLogLevel level, const QString& text);
  void AddLogItem(std::unique_ptr<TGUILogItem> item);
  std::vector<TGUILogItem> LogItems() const;
  void NotifyNewVersion();

  // The innermost runner now running gets cancelled.
  void CancelRun();
  // Cancels every running command and every later one: commands started
  // alongside each other would otherwise outlive the destructor's wait.
  void BeginShutdown();

  std::atomic<TProductFilter> FProductFilter{TProductFilter::All};

  // Rows and selection. Held while the owner's handlers read them, so
  // recursive: a handler may lock again through LockProducts.
  mutable std::recursive_mutex FRowsMutex;
  TGUIProductList FProducts;
  TGUIProductSelection FSelected;
  // Refreshes overlap (a status query's beside a command's own): rows read
  // by a refresh that began earlier never replace those of a later one.
  std::atomic<std::uint64_t> FRefreshesBegun{0};
  std::uint64_t FRowsFromRefresh = 0;  // under FRowsMutex

  std::shared_ptr<TMultiLogger> FLogger;

private:
  struct TInFlight {
    explicit TInFlight(TState& state) : State(state) {}
    ~TInFlight() {
      const std::lock_guard lock(State.FEventsMutex);
      if (--State.FEventsInFlight == 0) State.FEventsIdle.notify_all();
    }
    TState& State;
  };

  // Makes a runner the innermost current one while it exists.
  class TCurrentRunner {
  public:
    TCurrentRunner(TState& state, TOrvRunner& runner) : FState(state), FRunner(runner) {
      const std::lock_guard lock(FState.FRunnersMutex);
      if (FState.FShuttingDown.load()) FRunner.Cancel();
      FState.FActiveRunners.push_back(&FRunner);
    }
    ~TCurrentRunner() {
      const std::lock_guard lock(FState.FRunnersMutex);
      auto& active = FState.FActiveRunners;
      active.erase(std::find(active.begin(), active.end(), &FRunner));
    }
    TCurrentRunner(const TCurrentRunner&) = delete;
    TCurrentRunner& operator=(const TCurrentRunner&) = delete;

  private:
    TState& FState;
    TOrvRunner& FRunner;
  };

  std::mutex FEventsMutex;
  std::condition_variable FEventsIdle;
  int FEventsInFlight = 0;
  bool FDetached = false;
  TEvents FEvents;

  std::atomic<std::int32_t> FRunningCount{0};
  std::mutex FIdleMutex;
  std::condition_variable FIdle;
  std::atomic<bool> FNewVersionNotified{false};
  std::atomic<bool> FShuttingDown{false};

  // Overlapping commands each remember their runner here; a list rather
  // than one remembered-and-restored pointer, because commands on
  // different threads end in any order.
  std::mutex FRunnersMutex;
  std::vector<TOrvRunner*> FActiveRunners;

  std::mutex FInfoMutex;
  std::optional<TOrvInfo> FInfo;

  mutable std::mutex FLogMutex;
  std::vector<std::unique_ptr<TGUILogItem>> FLogItems;
};

template <class T, class Work>
void TGUIEnvironment::TState::ExecuteRunner(Work&& work) {
  // Once the shutdown has begun no command starts (a worker's closing
  // refresh, a status query): it would only be cancelled, and a worker
  // that outlived the destructor's deadline would start it with nobody
  // left to tell.
  if (ShuttingDown()) return;
  const auto runner = std::make_unique<T>();
  Raise(&TEvents::OnRunnerCreated, static_cast<TOrvRunner&>(*runner));
  try {
    {
      const TCurrentRunner current(*this, *runner);
      Counted([&] { work(*runner); });
    }
    if (runner->NewVersionDetected()) NotifyNewVersion();
  } catch (const std::exception& e) {
    AddLogItem(std::make_unique<TGUILogItem>(QStringLiteral("Error running %1: %2 (%3)")
                                                 .arg(RunnerClassName<T>(), ExceptionMessage(e), ExceptionClassName(e)),
                                             TLogLevel::Error, runner->OutputText()));
  }
}

template <class T, class Work>
void TGUIEnvironment::TState::RunAsync(Work work) {
  WarnIfRunning();
  StartThread([work = std::move(work)](TState& state) {
    state.Counted([&] { state.ExecuteRunner<T>([&](T& runner) { work(state, runner); }); });
  });
}

void TGUIEnvironment::TState::RunBackground(std::function<void(TState&)> work) {
  StartThread([work = std::move(work)](TState& state) {
    while (state.IsRunning() && !state.ShuttingDown()) std::this_thread::sleep_for(1000ms);
    if (state.ShuttingDown()) return;
    state.Counted([&] { work(state); });
  });
}

void TGUIEnvironment::TState::StartThread(std::function<void(TState&)> body) {
  // Detached: the destructor must not wait longer than its limit, and the
  // shared state keeps everything the thread touches alive.
  std::thread([self = shared_from_this(), body = std::move(body)] {
    try {
      body(*self);
    } catch (const std::exception& e) {
      self->LogMessage(TLogLevel::Error, ExceptionMessage(e));
    } catch (...) {
      self->LogMessage(TLogLevel::Error, QStringLiteral("Unknown error in a background command"));
    }
  }).detach();
}

void TGUIEnvironment::TState::WarnIfRunning() const {
  if (!IsRunning()) return;
  if (const auto logger = GlobalLogger()) logger->Error(QStringLiteral("orv.exe is already running"));
}

void TGUIEnvironment::TState::RefreshProducts(TProductFilter filter) {
  const std::uint64_t refresh = ++FRefreshesBegun;
  ExecuteRunner<TOrvListRunner>([&](TOrvListRunner& local) {
    if (GetInfo().FolderInitialized()) local.RunList();
    ExecuteRunner<TOrvListRemoteRunner>([&](TOrvListRemoteRunner& remote) {
      const TOrvInfo info = GetInfo();
      if (info.FolderInitialized() && info.HasCredentials()) remote.RunListRemote();
      const std::lock_guard rows(FRowsMutex);
      if (refresh < FRowsFromRefresh) return;
      FRowsFromRefresh = refresh;
      // The selection points into the rows about to be freed.
      FSelected.clear();
      MergeProducts(FProducts, local.Products(), remote.Products());
      FProductFilter = filter;
      ApplyProductFilter(FProducts, filter);
      Raise(&TEvents::OnProductsUpdated, std::as_const(FProducts));
    });
  });
}

template <class T, class Run>
void TGUIEnvironment::TState::RunBuildCommand(T& runner, const TProgressCallback& report, Run run) {
  if (report) report(TProgressInfo{});
  runner.SetOnOutputLine([this](const QString& line) { Raise(&TEvents::OnCommandOutput, line); });
  runner.ProductIds() = GetSelectedProductIds();
  runner.SetOnProgress(report);
  run();
  if (report) report(TProgressInfo{runner.IsCanceled() ? 0 : 100, {}, 0});
  RefreshProducts(FProductFilter.load());
}

void TGUIEnvironment::TState::UpdateSelection() {
  const std::lock_guard rows(FRowsMutex);
  Raise(&TEvents::OnGetSelectedProducts, FSelected);
}

QStringList TGUIEnvironment::TState::GetSelectedProductIds() {
  const std::lock_guard rows(FRowsMutex);
  UpdateSelection();
  QStringList ids;
  for (const TGUIProduct* row : FSelected) ids << row->Id();
  return ids;
}

template <class Pred>
bool TGUIEnvironment::TState::SelectionIsNonEmptyAndAll(Pred pred) {
  if (IsRunning()) return false;
  const std::lock_guard rows(FRowsMutex);
  UpdateSelection();
  return !FSelected.empty() &&
         std::all_of(FSelected.begin(), FSelected.end(), [&](const TGUIProduct* row) { return pred(*row); });
}

bool TGUIEnvironment::TState::AnyRow(const std::function<bool(const TGUIProduct&)>& pred) const {
  const std::lock_guard rows(FRowsMutex);
  for (std::size_t i = 0; i < FProducts.size(); ++i)
    if (pred(FProducts[i])) return true;
  return false;
}

TOrvInfo TGUIEnvironment::TState::GetInfo() {
  {
    const std::lock_guard lock(FInfoMutex);
    if (FInfo) return *FInfo;
  }
  // Not under the lock: the command raises events, and a second caller
  // meanwhile merely runs the command once more.
  TOrvInfo fetched;
  ExecuteRunner<TOrvInfoRunner>([&](TOrvInfoRunner& runner) {
    runner.RunInfo();
    fetched = runner.Info();
  });
  const std::lock_guard lock(FInfoMutex);
  // A command skipped by the shutdown fetched nothing worth keeping.
  if (!FInfo && !ShuttingDown()) FInfo = fetched;
  return FInfo.value_or(fetched);
}

void TGUIEnvironment::TState::InvalidateInfo() {
  const std::lock_guard lock(FInfoMutex);
  FInfo.reset();
}

void TGUIEnvironment::TState::LogMessage(TLogLevel level, const QString& text) {
  AddLogItem(std::make_unique<TGUILogItem>(text, level, QString()));
}

void TGUIEnvironment::TState::AddLogItem(std::unique_ptr<TGUILogItem> item) {
  const TGUILogItem* added = nullptr;
  {
    const std::lock_guard lock(FLogMutex);
    FLogItems.push_back(std::move(item));
    added = FLogItems.back().get();
  }
  // Items are never removed before the state dies, so the reference holds.
  Raise(&TEvents::OnLogItemGenerated, *added);
}

std::vector<TGUILogItem> TGUIEnvironment::TState::LogItems() const {
  const std::lock_guard lock(FLogMutex);
  std::vector<TGUILogItem> items;
  items.reserve(FLogItems.size());
  for (const auto& item : FLogItems) items.push_back(*item);
  return items;
}

void TGUIEnvironment::TState::NotifyNewVersion() {
  if (!FNewVersionNotified.exchange(true)) Raise(&TEvents::OnNewVersionDetected);
}

void TGUIEnvironment::TState::CancelRun() {
  const std::lock_guard lock(FRunnersMutex);
  if (!FActiveRunners.empty()) FActiveRunners.back()->Cancel();
}

void TGUIEnvironment::TState::BeginShutdown() {
  const std::lock_guard lock(FRunnersMutex);
  FShuttingDown = true;
  for (TOrvRunner* runner : FActiveRunners) runner->Cancel();
}

// --- TGUIEnvironment ---------------------------------------------------------

TGUIEnvironment::TGUIEnvironment(std::chrono::milliseconds ShutdownWait)
    : FState(std::make_shared<TState>()), FShutdownWait(ShutdownWait) {
  // Weak: the process-wide logger must not keep the state alive.
  auto logger =
      std::make_unique<TGUILogger>([weak = std::weak_ptr<TState>(FState)](TLogLevel level, const QString& message) {
        if (const auto state = weak.lock()) state->LogMessage(level, message);
      });
  std::vector<std::unique_ptr<TLogger>> loggers;
  loggers.push_back(std::move(logger));
  FState->FLogger = std::make_shared<TMultiLogger>(std::move(loggers));
  SetGlobalLogger(FState->FLogger);
}

TGUIEnvironment::~TGUIEnvironment() {
  // One deadline for the commands and the handlers in flight together.
  const auto deadline = std::chrono::steady_clock::now() + FShutdownWait;
  FState->BeginShutdown();
  FState->WaitIdle(deadline);
  FState->Detach(deadline);
  if (GlobalLogger() == FState->FLogger) SetGlobalLogger(nullptr);
}

void TGUIEnvironment::SetOnProductsUpdated(TProductsProc Value) {
  FState->SetEvent(&TState::TEvents::OnProductsUpdated, std::move(Value));
}
void TGUIEnvironment::SetOnRequestCredentials(TRequestCredentialsEvent Value) {
  FState->SetEvent(&TState::TEvents::OnRequestCredentials, std::move(Value));
}
void TGUIEnvironment::SetOnGetSelectedProducts(TGetSelectedProductsProc Value) {
  FState->SetEvent(&TState::TEvents::OnGetSelectedProducts, std::move(Value));
}
void TGUIEnvironment::SetOnLogItemGenerated(TLogItemEvent Value) {
  FState->SetEvent(&TState::TEvents::OnLogItemGenerated, std::move(Value));
}
void TGUIEnvironment::SetOnCommandOutput(TCommandOutputProc Value) {
  FState->SetEvent(&TState::TEvents::OnCommandOutput, std::move(Value));
}
void TGUIEnvironment::SetOnRunStart(TNotifyProc Value) {
  FState->SetEvent(&TState::TEvents::OnRunStart, std::move(Value));
}
void TGUIEnvironment::SetOnRunFinish(TNotifyProc Value) {
  FState->SetEvent(&TState::TEvents::OnRunFinish, std::move(Value));
}
void TGUIEnvironment::SetOnNewVersionDetected(TNotifyProc Value) {
  FState->SetEvent(&TState::TEvents::OnNewVersionDetected, std::move(Value));
}
void TGUIEnvironment::SetOnRunnerCreated(TRunnerProc Value) {
  FState->SetEvent(&TState::TEvents::OnRunnerCreated, std::move(Value));
}

const TGUIProductList& TGUIEnvironment::Products() const { return FState->FProducts; }

std::unique_lock<std::recursive_mutex> TGUIEnvironment::LockProducts() const {
  return std::unique_lock(FState->FRowsMutex);
}

std::vector<TGUILogItem> TGUIEnvironment::LogItems() const { return FState->LogItems(); }

void TGUIEnvironment::Start() {
  if (!FState->GetInfo().HasCredentials()) ExecuteRequestCredentials();
  FState->RunBackground([](TState& state) {
    state.RefreshProducts(state.GetInfo().HasCredentials() ? TProductFilter::All : TProductFilter::Installed);
  });
}

bool TGUIEnvironment::IsRunning() const { return FState->IsRunning(); }

void TGUIEnvironment::CancelRun() { FState->CancelRun(); }

namespace {

// Forwards the runner's progress to an owner's product-progress callback.
template <class State>
TProgressCallback ProductProgress(State& state, const TGUIEnvironment::TProductProgressProc& callback) {
  if (!callback) return {};
  return [&state, callback](const TProgressInfo& progress) {
    state.Call(callback,
               TGUIEnvironment::TProductProgressInfo{progress.Percent, progress.ProductId, progress.ProductPercent});
  };
}

}  // namespace

void TGUIEnvironment::ExecuteFullBuild(TProductProgressProc ProgressCallback) {
  ExecuteBuild(true, std::move(ProgressCallback));
}

void TGUIEnvironment::ExecutePartialBuild(TProductProgressProc ProgressCallback) {
  ExecuteBuild(false, std::move(ProgressCallback));
}

void TGUIEnvironment::ExecuteBuild(bool FullBuild, TProductProgressProc ProgressCallback) {
  FState->RunAsync<TOrvBuildRunner>([FullBuild, ProgressCallback](TState& state, TOrvBuildRunner& runner) {
    runner.SetFullBuild(FullBuild);
    state.RunBuildCommand(runner, ProductProgress(state, ProgressCallback), [&] { runner.RunBuild(); });
  });
}

void TGUIEnvironment::ExecuteInstall(TProductProgressProc ProgressCallback) {
  FState->RunAsync<TOrvInstallRunner>([ProgressCallback](TState& state, TOrvInstallRunner& runner) {
    state.RunBuildCommand(runner, ProductProgress(state, ProgressCallback), [&] { runner.RunInstall(); });
  });
}

void TGUIEnvironment::ExecuteUninstall(TProgressProc ProgressCallback) {
  FState->RunAsync<TOrvUninstallRunner>([ProgressCallback](TState& state, TOrvUninstallRunner& runner) {
    TProgressCallback report;
    if (ProgressCallback)
      report = [&state, ProgressCallback](const TProgressInfo& progress) {
        state.Call(ProgressCallback, progress.Percent);
      };
    state.RunBuildCommand(runner, report, [&] { runner.RunUninstall(); });
  });
}

void TGUIEnvironment::ExecuteSelfUpdate(TProgressProc ProgressCallback, TNotifyProc RelaunchCallback) {
  FState->RunBackground([ProgressCallback, RelaunchCallback](TState& state) {
    state.ExecuteRunner<TOrvSelfUpdateRunner>([&](TOrvSelfUpdateRunner& runner) {
      state.Call(ProgressCallback, 0);
      const bool updated = runner.RunSelfUpdate();
      state.Call(ProgressCallback, 100);
      if (updated) state.Call(RelaunchCallback);
    });
  });
}

void TGUIEnvironment::ExecuteRequestCredentials() {
  if (!FState->HasEvent(&TState::TEvents::OnRequestCredentials)) return;
  FState->ExecuteRunner<TOrvCredentialsRunner>([this](TOrvCredentialsRunner& runner) {
    QString email;
    QString code;
    runner.RunGetCredentials(email, code);
    bool accepted = false;
    FState->Raise(&TState::TEvents::OnRequestCredentials, email, code, accepted);
    if (!accepted) return;
    runner.RunSetCredentials(email, code);
    FState->InvalidateInfo();
  });
}

void TGUIEnvironment::ExecuteConfigure() {
  FState->ExecuteRunner<TOrvConfigureRunner>([this](TOrvConfigureRunner& runner) {
    runner.RunConfigure();
    FState->InvalidateInfo();
  });
}

void TGUIEnvironment::ChangeProductFilter(TProductFilter Filter) {
  FState->WarnIfRunning();
  // Counted on the caller's thread, so IsRunning is true when this returns;
  // the thread ends the run.
  FState->BeginRun();
  try {
    FState->StartThread([Filter](TState& state) { state.EndingRun([&] { state.RefreshProducts(Filter); }); });
  } catch (...) {
    FState->EndRun();
    throw;
  }
}

bool TGUIEnvironment::IsFilterActive(TProductFilter Filter) const { return FState->FProductFilter.load() == Filter; }

bool TGUIEnvironment::CanInstallSelected() {
  return FState->SelectionIsNonEmptyAndAll([](const TGUIProduct& row) {
    return row.Status() == TProductStatus::NotInstalled ||
           (row.Status() == TProductStatus::Installed && row.IsOutdated());
  });
}

bool TGUIEnvironment::CanUninstallSelected() {
  return FState->SelectionIsNonEmptyAndAll(
      [](const TGUIProduct& row) { return row.Status() == TProductStatus::Installed; });
}

bool TGUIEnvironment::CanBuild() {
  if (IsRunning()) return false;
  FState->UpdateSelection();
  return FState->AnyRow([](const TGUIProduct& row) {
    return row.Status() == TProductStatus::Available || row.Status() == TProductStatus::Installed;
  });
}

bool TGUIEnvironment::CanApplyFilter() const { return !IsRunning(); }
bool TGUIEnvironment::CanRequestCredentials() const { return !IsRunning(); }
bool TGUIEnvironment::CanConfigure() const { return !IsRunning(); }

bool TGUIEnvironment::ConfigRead(const QString& ParamName, QStringList& Values) {
  bool success = false;
  QStringList values;
  FState->ExecuteRunner<TOrvConfigReadRunner>([&](TOrvConfigReadRunner& runner) {
    const QString text = TrimSpaceAndControl(runner.RunConfigRead(ParamName));
    if (text.size() >= 2 && text.startsWith(u'[') && text.endsWith(u']')) {
      const QString inner = text.mid(1, text.size() - 2);
      if (!inner.isEmpty()) values = inner.split(u',');
    } else {
      values = QStringList{text};
    }
    success = true;
  });
  if (success) Values = values;
  return success;
}

bool TGUIEnvironment::ConfigWrite(const QString& ParamName, const QStringList& Values) {
  bool success = false;
  FState->ExecuteRunner<TOrvConfigWriteRunner>([&](TOrvConfigWriteRunner& runner) {
    runner.RunConfigWrite(ParamName, u'[' + Values.join(u',') + u']');
    success = true;
  });
  return success;
}

TOrvInfo TGUIEnvironment::GetInfo() { return FState->GetInfo(); }

}  // namespace orv
