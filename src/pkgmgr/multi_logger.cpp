#include "pkgmgr/multi_logger.h"

#include <utility>

namespace orv {

TMultiLogger::TMultiLogger(std::vector<std::unique_ptr<TLogger>> loggers) {
  TLoggers list;
  list.reserve(loggers.size());
  for (auto& logger : loggers) list.push_back(std::move(logger));
  FLoggers = std::make_shared<const TLoggers>(std::move(list));
}

void TMultiLogger::AddLogger(std::unique_ptr<TLogger> logger) {
  const std::lock_guard lock(FMutex);
  auto list = std::make_shared<TLoggers>(*FLoggers);
  list->push_back(std::move(logger));
  FLoggers = std::move(list);
}

std::shared_ptr<const TMultiLogger::TLoggers> TMultiLogger::Loggers() const {
  const std::lock_guard lock(FMutex);
  return FLoggers;
}

template <class Operation>
void TMultiLogger::ForEachSwallowing(Operation&& operation) {
  const auto loggers = Loggers();
  for (const auto& logger : *loggers) {
    try {
      operation(*logger);
    } catch (...) {
      // One broken sink must not silence the others.
    }
  }
}

void TMultiLogger::Deliver(TVerbosity level, const QString& message, void (TLogger::*operation)(const QString&)) {
  const auto loggers = Loggers();
  for (const auto& logger : *loggers) {
    // The levels are ordered like the thresholds: a message passes when its
    // level is at or above the verbosity.
    if (!logger->IgnoresVerbosity() && level < Verbosity()) continue;
    try {
      (logger.get()->*operation)(logger->ProcessMsg(message));
    } catch (...) {
      // One broken sink must not silence the others.
    }
  }
}

void TMultiLogger::Error(const QString& message) { Deliver(TVerbosity::error, message, &TLogger::Error); }

void TMultiLogger::Info(const QString& message) { Deliver(TVerbosity::info, message, &TLogger::Info); }

void TMultiLogger::Trace(const QString& message) { Deliver(TVerbosity::trace, message, &TLogger::Trace); }

void TMultiLogger::Write(TVerbosity verb, const QString& message) {
  switch (verb) {
    case TVerbosity::trace: Trace(message); break;
    case TVerbosity::info: Info(message); break;
    case TVerbosity::error: Error(message); break;
  }
}

void TMultiLogger::Progress(const QString& message, const TProductProgressInfo& progress) {
  ForEachSwallowing([&](TLogger& logger) {
    if (logger.IgnoresVerbosity() || TVerbosity::info >= Verbosity()) logger.Progress(message, progress);
  });
}

void TMultiLogger::StartSection(TMessageType messageType, const QString& messageLabel) {
  ForEachSwallowing([&](TLogger& logger) { logger.StartSection(messageType, messageLabel); });
}

void TMultiLogger::FinishSection(TMessageType messageType, bool isError) {
  ForEachSwallowing([&](TLogger& logger) { logger.FinishSection(messageType, isError); });
}

void TMultiLogger::StartSpinner() {
  ForEachSwallowing([](TLogger& logger) { logger.StartSpinner(); });
}

void TMultiLogger::StopSpinner() {
  ForEachSwallowing([](TLogger& logger) { logger.StopSpinner(); });
}

void TMultiLogger::CreateConnectionPoint(TConnectionPoint& connectionPoint) {
  connectionPoint = TConnectionPoint::Create();
  ForEachSwallowing([&](TLogger& logger) { logger.CreateConnectionPoint(connectionPoint); });
}

void TMultiLogger::ConnectTo(const TConnectionPoint& connectionPoint) {
  ForEachSwallowing([&](TLogger& logger) { logger.ConnectTo(connectionPoint); });
}

TMultiLogger::TState TMultiLogger::Push() {
  TState state;
  ForEachSwallowing([&](TLogger& logger) {
    state.emplace_back();
    state.back() = logger.Push();
  });
  return state;
}

void TMultiLogger::Pop(TState state) {
  std::size_t index = 0;
  ForEachSwallowing([&](TLogger& logger) {
    const std::size_t position = index++;
    if (position < state.size()) logger.Pop(std::move(state[position]));
  });
}

void TMultiLogger::ResetPercentAction() {
  const auto loggers = Loggers();
  for (const auto& logger : *loggers) logger->ResetPercentAction();
}

void TMultiLogger::SetPercentAction(const std::function<std::int32_t()>& func) {
  const auto loggers = Loggers();
  for (const auto& logger : *loggers) logger->SetPercentAction(func);
}

namespace {

std::mutex globalLoggerMutex;
std::shared_ptr<TMultiLogger> globalLogger;

}  // namespace

std::shared_ptr<TMultiLogger> GlobalLogger() {
  const std::lock_guard lock(globalLoggerMutex);
  return globalLogger;
}

std::shared_ptr<TMultiLogger> SetGlobalLogger(std::shared_ptr<TMultiLogger> logger) {
  const std::lock_guard lock(globalLoggerMutex);
  std::swap(globalLogger, logger);
  return logger;
}

}  // namespace orv
