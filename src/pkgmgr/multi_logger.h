#pragma once

#include "pkgmgr/logger.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace orv {

// Sends every message to its sinks, in the order they were added, on the
// calling thread. Messages below the verbosity threshold reach only sinks
// that ignore verbosity. A failing sink never keeps the next one from
// receiving the message. Safe to use from several threads, also while a
// sink is being added.
class TMultiLogger {
public:
  // One entry per sink, as Push returns it; an entry is empty when that
  // sink failed.
  using TState = std::vector<std::unique_ptr<TLoggerState>>;

  explicit TMultiLogger(std::vector<std::unique_ptr<TLogger>> loggers = {});
  TMultiLogger(const TMultiLogger&) = delete;
  TMultiLogger& operator=(const TMultiLogger&) = delete;

  TVerbosity Verbosity() const { return FVerbosity.load(); }
  void SetVerbosity(TVerbosity verbosity) { FVerbosity.store(verbosity); }

  void AddLogger(std::unique_ptr<TLogger> logger);

  void Error(const QString& message);
  void Info(const QString& message);
  void Trace(const QString& message);
  void Write(TVerbosity verb, const QString& message);
  void Progress(const QString& message, const TProductProgressInfo& progress);

  void StartSection(TMessageType messageType, const QString& messageLabel);
  void FinishSection(TMessageType messageType, bool isError);
  void StartSpinner();
  void StopSpinner();
  // Fills the point with a fresh GUID, then hands it to every sink.
  void CreateConnectionPoint(TConnectionPoint& connectionPoint);
  void ConnectTo(const TConnectionPoint& connectionPoint);
  TState Push();
  // Gives each sink the entry at its position; sinks beyond the end of the
  // state are skipped.
  void Pop(TState state);

  // Unlike the others these let a sink's exception end the call.
  void ResetPercentAction();
  void SetPercentAction(const std::function<std::int32_t()>& func);

private:
  // Copy-on-write list: a delivery works on the list as it was when it
  // started, so AddLogger never races with a running delivery.
  using TLoggers = std::vector<std::shared_ptr<TLogger>>;

  std::shared_ptr<const TLoggers> Loggers() const;
  void Deliver(TVerbosity level, const QString& message, void (TLogger::*operation)(const QString&));
  template <class Operation>
  void ForEachSwallowing(Operation&& operation);

  std::atomic<TVerbosity> FVerbosity{TVerbosity::trace};
  mutable std::mutex FMutex;
  std::shared_ptr<const TLoggers> FLoggers;
};

// The process-wide multi-logger, or empty when none is installed. Holding
// the returned pointer keeps the logger alive while it is used.
std::shared_ptr<TMultiLogger> GlobalLogger();

// Installs the process-wide multi-logger (empty removes it) and returns the
// one it replaces.
std::shared_ptr<TMultiLogger> SetGlobalLogger(std::shared_ptr<TMultiLogger> logger);

}  // namespace orv
