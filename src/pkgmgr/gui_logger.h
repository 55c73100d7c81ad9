#pragma once

#include "pkgmgr/logger.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>

namespace orv {

enum class TLogLevel : std::uint8_t { Trace, Info, Error };

using TLogMessageProc = std::function<void(TLogLevel level, const QString& message)>;

// The sink of this program: hands every message to a callback (the GUI
// environment turns it into a log item). Without a callback messages are
// discarded.
class TGUILogger : public TLogger {
public:
  TGUILogger() = default;
  explicit TGUILogger(TLogMessageProc onLogMessage) : FOnLogMessage(std::move(onLogMessage)) {}

  TLogMessageProc OnLogMessage() const;
  // Later messages, from any thread, go to the new callback.
  void SetOnLogMessage(TLogMessageProc onLogMessage);

  void Error(const QString& message) override;
  void Info(const QString& message) override;
  void Trace(const QString& message) override;
  void StartSection(TMessageType, const QString&) override {}
  void FinishSection(TMessageType, bool) override {}
  QString ProcessMsg(const QString& message) override { return message; }
  void ResetPercentAction() override {}
  void SetPercentAction(const std::function<std::int32_t()>&) override {}
  bool IgnoresVerbosity() const override { return false; }

private:
  void Send(TLogLevel level, const QString& message);

  mutable std::mutex FMutex;
  TLogMessageProc FOnLogMessage;
};

}  // namespace orv
