#pragma once

// One download of a test-played engine: the test decides its proposed path,
// sizes and states, and reads back what the handlers chose.
#include "lib/download.h"

#include <memory>

namespace orv {

class FakeDownloadOperation : public IDownloadOperation {
public:
  QString uri;
  DownloadState state = DownloadState::InProgress;
  qint64 bytesReceived = 0;
  qint64 totalBytes = -1;
  QString resultFilePath;
  int cancelled = 0;
  DownloadEventList<> stateChanged;
  DownloadEventList<> bytesReceivedChanged;

  QString Uri() const override { return uri; }
  DownloadState State() const override { return state; }
  qint64 BytesReceived() const override { return bytesReceived; }
  qint64 TotalBytesToReceive() const override { return totalBytes; }
  QString ResultFilePath() const override { return resultFilePath; }
  void Cancel() override { ++cancelled; }
  DownloadEventToken AddStateChanged(std::function<void()> handler) override {
    return stateChanged.Add(std::move(handler));
  }
  void RemoveStateChanged(DownloadEventToken token) override { stateChanged.Remove(token); }
  DownloadEventToken AddBytesReceivedChanged(std::function<void()> handler) override {
    return bytesReceivedChanged.Add(std::move(handler));
  }
  void RemoveBytesReceivedChanged(DownloadEventToken token) override { bytesReceivedChanged.Remove(token); }

  // The engine's reports.
  void Receive(qint64 bytes, qint64 total = -2) {
    bytesReceived = bytes;
    if (total != -2) totalBytes = total;
    bytesReceivedChanged.Raise();
  }
  void Enter(DownloadState next) {
    state = next;
    stateChanged.Raise();
  }
  bool Listened() const { return !stateChanged.Empty() || !bytesReceivedChanged.Empty(); }
};

class FakeDownloadStarting : public IDownloadStarting {
public:
  FakeDownloadStarting(std::shared_ptr<FakeDownloadOperation> operation, QString proposedPath)
      : operation(std::move(operation)), resultFilePath(std::move(proposedPath)) {}

  std::shared_ptr<FakeDownloadOperation> operation;
  QString resultFilePath;
  bool handled = false;
  int cancelled = 0;
  // Whether the operation still had listeners when it was cancelled.
  bool listenedWhenCancelled = false;
  // The engine reports the end of a cancelled download before Cancel returns.
  bool interruptWhenCancelled = false;

  std::shared_ptr<IDownloadOperation> DownloadOperation() const override { return operation; }
  QString ResultFilePath() const override { return resultFilePath; }
  void SetResultFilePath(const QString& path) override { resultFilePath = path; }
  bool Handled() const override { return handled; }
  void SetHandled(bool value) override { handled = value; }
  void Cancel() override {
    ++cancelled;
    listenedWhenCancelled = operation->Listened();
    if (interruptWhenCancelled) operation->Enter(DownloadState::Interrupted);
  }
};

}  // namespace orv
