#pragma once

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

namespace orv {

enum class TVerbosity : std::uint8_t { trace, info, error };

enum class TMessageType : std::uint8_t {
  None,
  BasicInfo,
  Summary,
  Command,
  Build,
  Fetch,
  Update,
  Register,
  Unregister,
  Check,
  VCSFetch,
  VCSRegister,
  Load,
  Analyze
};

// Identifies a point that sinks can later connect to; each one is new.
struct TConnectionPoint {
  std::array<std::uint8_t, 16> Guid{};

  // A connection point with a freshly generated random GUID.
  static TConnectionPoint Create();
};

// Package progress of one product. Worker threads may report packages of
// the same product at once, so both counters are atomic.
struct TProductProgressInfo {
  QString ProductId;
  std::atomic<std::int32_t> ProcessedPackages{0};
  std::atomic<std::int32_t> TotalPackages{0};

  TProductProgressInfo() = default;
  explicit TProductProgressInfo(QString productId) : ProductId(std::move(productId)) {}
  // Copies take a snapshot of the counters.
  TProductProgressInfo(const TProductProgressInfo& other);
  TProductProgressInfo& operator=(const TProductProgressInfo& other);

  void SetTotalPackages(std::int32_t totalPackages);
  // Counts one more processed package; returns the new count.
  std::int32_t DoAtomicIncrement();
  // True when every package has been processed.
  bool Finished() const;
  // "[id: nnn%]", or empty when there is no product id.
  QString ToString() const;
};

// Opaque state a logger hands out from Push and takes back in Pop.
class TLoggerState {
public:
  virtual ~TLoggerState() = default;
};

// One log sink. The section, spinner, percent-action and connection-point
// hooks exist for richer sinks; the defaults do nothing.
class TLogger {
public:
  virtual ~TLogger() = default;

  virtual void Error(const QString& message) = 0;
  virtual void Info(const QString& message) = 0;
  virtual void Trace(const QString& message) = 0;
  // Logs the processed message as information; the progress is not used.
  virtual void Progress(const QString& message, const TProductProgressInfo& progress);
  virtual void StartSection(TMessageType messageType, const QString& messageLabel) = 0;
  virtual void FinishSection(TMessageType messageType, bool isError) = 0;
  virtual void CreateConnectionPoint(TConnectionPoint& connectionPoint);
  virtual void ConnectTo(const TConnectionPoint& connectionPoint);
  virtual std::unique_ptr<TLoggerState> Push();
  virtual void Pop(std::unique_ptr<TLoggerState> state);
  // Turns a message into the text this sink logs.
  virtual QString ProcessMsg(const QString& message) = 0;
  virtual void ResetPercentAction() = 0;
  virtual void SetPercentAction(const std::function<std::int32_t()>& func) = 0;
  // A sink that ignores verbosity receives every message.
  virtual bool IgnoresVerbosity() const = 0;
  virtual void StartSpinner();
  virtual void StopSpinner();
};

}  // namespace orv
