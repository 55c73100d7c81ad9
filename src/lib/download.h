#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace orv {

// Engine-neutral view of the browser engine's downloads, for whoever tracks
// them (the dashboard's download tracking). Everything is raised on the UI
// thread.

enum class DownloadState { InProgress = 0, Interrupted = 1, Completed = 2 };

// Identifies one registered handler so that it can be removed again.
using DownloadEventToken = std::uint64_t;

// Handlers registered under tokens. A handler may remove itself or others
// while the list is being raised; removed handlers are not called.
template <class... Args>
class DownloadEventList {
public:
  DownloadEventToken Add(std::function<void(Args...)> handler) {
    FHandlers.push_back({++FLastToken, std::make_shared<std::function<void(Args...)>>(std::move(handler))});
    return FLastToken;
  }
  void Remove(DownloadEventToken token) {
    std::erase_if(FHandlers, [token](const auto& entry) { return entry.first == token; });
  }
  // Drops every handler. Tokens keep counting, so the token of a dropped
  // handler never names a later one.
  void Clear() { FHandlers.clear(); }
  bool Empty() const { return FHandlers.empty(); }
  void Raise(Args... args) {
    const auto snapshot = FHandlers;
    for (const auto& [token, handler] : snapshot) {
      if (Contains(token)) (*handler)(args...);
    }
  }

private:
  bool Contains(DownloadEventToken token) const {
    for (const auto& entry : FHandlers)
      if (entry.first == token) return true;
    return false;
  }
  DownloadEventToken FLastToken = 0;
  std::vector<std::pair<DownloadEventToken, std::shared_ptr<std::function<void(Args...)>>>> FHandlers;
};

// One running download.
class IDownloadOperation {
public:
  virtual ~IDownloadOperation() = default;
  virtual QString Uri() const = 0;
  virtual DownloadState State() const = 0;
  virtual qint64 BytesReceived() const = 0;
  // -1 when the server announced no size.
  virtual qint64 TotalBytesToReceive() const = 0;
  virtual QString ResultFilePath() const = 0;
  virtual void Cancel() = 0;
  virtual DownloadEventToken AddStateChanged(std::function<void()> handler) = 0;
  virtual void RemoveStateChanged(DownloadEventToken token) = 0;
  virtual DownloadEventToken AddBytesReceivedChanged(std::function<void()> handler) = 0;
  virtual void RemoveBytesReceivedChanged(DownloadEventToken token) = 0;
};

// The engine asks what to do with a download that is about to start. What
// the handlers leave here when the last one returns takes effect.
class IDownloadStarting {
public:
  virtual ~IDownloadStarting() = default;
  virtual std::shared_ptr<IDownloadOperation> DownloadOperation() const = 0;
  // The engine's proposed path until a handler sets another one.
  virtual QString ResultFilePath() const = 0;
  // An empty path keeps the engine's default location. The folder of the
  // path is created when the download starts.
  virtual void SetResultFilePath(const QString& path) = 0;
  virtual bool Handled() const = 0;
  virtual void SetHandled(bool handled) = 0;
  // Before the download starts it is refused; afterwards it is stopped.
  virtual void Cancel() = 0;
};

using DownloadStartingHandler = std::function<void(const std::shared_ptr<IDownloadStarting>&)>;

// The engine's source of download-starting notifications.
class IDownloadEvents {
public:
  virtual ~IDownloadEvents() = default;
  virtual DownloadEventToken AddDownloadStarting(DownloadStartingHandler handler) = 0;
  virtual void RemoveDownloadStarting(DownloadEventToken token) = 0;
};

// The download-starting handlers, kept by whoever raises the notifications.
class DownloadStartingEvents final : public IDownloadEvents {
public:
  DownloadEventToken AddDownloadStarting(DownloadStartingHandler handler) override {
    return FHandlers.Add(std::move(handler));
  }
  void RemoveDownloadStarting(DownloadEventToken token) override { FHandlers.Remove(token); }
  void Raise(const std::shared_ptr<IDownloadStarting>& args) { FHandlers.Raise(args); }
  void Clear() { FHandlers.Clear(); }

private:
  DownloadEventList<const std::shared_ptr<IDownloadStarting>&> FHandlers;
};

}  // namespace orv
