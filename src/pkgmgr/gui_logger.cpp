#include "pkgmgr/gui_logger.h"

#include <utility>

namespace orv {

TLogMessageProc TGUILogger::OnLogMessage() const {
  const std::lock_guard lock(FMutex);
  return FOnLogMessage;
}

void TGUILogger::SetOnLogMessage(TLogMessageProc onLogMessage) {
  const std::lock_guard lock(FMutex);
  FOnLogMessage = std::move(onLogMessage);
}

void TGUILogger::Send(TLogLevel level, const QString& message) {
  // Called outside the lock so a callback may itself log or replace the
  // callback.
  if (const TLogMessageProc callback = OnLogMessage()) callback(level, message);
}

void TGUILogger::Error(const QString& message) { Send(TLogLevel::Error, message); }

void TGUILogger::Info(const QString& message) { Send(TLogLevel::Info, message); }

void TGUILogger::Trace(const QString& message) { Send(TLogLevel::Trace, message); }

}  // namespace orv
