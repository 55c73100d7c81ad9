#pragma once

#include "lib/download.h"

#include <QPointer>
#include <QWebEngineDownloadRequest>

#include <memory>

namespace orv {

// A download of the Qt engine, seen through the engine-neutral interface.
// Keeps the last values it saw, so it can still be read after the engine
// has been released.
class QtDownloadOperation : public IDownloadOperation, public std::enable_shared_from_this<QtDownloadOperation> {
public:
  static std::shared_ptr<QtDownloadOperation> Create(QWebEngineDownloadRequest* ARequest);

  QString Uri() const override { return FUri; }
  DownloadState State() const override { return FState; }
  qint64 BytesReceived() const override { return FBytesReceived; }
  qint64 TotalBytesToReceive() const override { return FTotalBytes; }
  QString ResultFilePath() const override;
  void Cancel() override;
  DownloadEventToken AddStateChanged(std::function<void()> handler) override {
    return FStateChanged.Add(std::move(handler));
  }
  void RemoveStateChanged(DownloadEventToken token) override { FStateChanged.Remove(token); }
  DownloadEventToken AddBytesReceivedChanged(std::function<void()> handler) override {
    return FBytesReceivedChanged.Add(std::move(handler));
  }
  void RemoveBytesReceivedChanged(DownloadEventToken token) override { FBytesReceivedChanged.Remove(token); }

  quint32 Id() const { return FId; }
  // The engine asks again for a download it resumes on its own after a
  // network failure: it continues into the same file, as the same
  // operation, without being announced as a new download.
  void Resume(QWebEngineDownloadRequest* ARequest);
  // Stops listening to the engine.
  void Detach();
  // Its engine is being released: a transfer still running stops and ends
  // as interrupted, so whoever follows it is told.
  void EngineReleased();

private:
  explicit QtDownloadOperation(QWebEngineDownloadRequest* ARequest);
  void Attach();
  void Refresh();

  QPointer<QWebEngineDownloadRequest> FRequest;
  quint32 FId = 0;
  QMetaObject::Connection FStateConnection, FBytesConnection, FTotalConnection;
  QString FUri;
  DownloadState FState = DownloadState::InProgress;
  qint64 FBytesReceived = 0;
  qint64 FTotalBytes = -1;
  DownloadEventList<> FStateChanged;
  DownloadEventList<> FBytesReceivedChanged;
};

// The question the engine asks before a download starts; Start() carries
// out what the handlers decided.
class QtDownloadStarting : public IDownloadStarting {
public:
  QtDownloadStarting(QWebEngineDownloadRequest* ARequest, std::shared_ptr<QtDownloadOperation> AOperation);

  std::shared_ptr<IDownloadOperation> DownloadOperation() const override { return FOperation; }
  QString ResultFilePath() const override { return FResultFilePath; }
  void SetResultFilePath(const QString& path) override { FResultFilePath = path; }
  bool Handled() const override { return FHandled; }
  void SetHandled(bool handled) override { FHandled = handled; }
  void Cancel() override;

  // Accepts the download into the chosen path (its folder created first),
  // or refuses it when it was cancelled.
  void Start();

private:
  QPointer<QWebEngineDownloadRequest> FRequest;
  std::shared_ptr<QtDownloadOperation> FOperation;
  QString FResultFilePath;
  bool FHandled = false;
  bool FCancelled = false;
  bool FStarted = false;
};

}  // namespace orv
