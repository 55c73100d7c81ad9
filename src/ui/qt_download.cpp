#include "ui/qt_download.h"

#include <QDir>
#include <QFileInfo>

namespace orv {

namespace {

DownloadState StateOf(QWebEngineDownloadRequest::DownloadState state) {
  switch (state) {
    case QWebEngineDownloadRequest::DownloadCompleted: return DownloadState::Completed;
    case QWebEngineDownloadRequest::DownloadCancelled:
    case QWebEngineDownloadRequest::DownloadInterrupted: return DownloadState::Interrupted;
    case QWebEngineDownloadRequest::DownloadRequested:
    case QWebEngineDownloadRequest::DownloadInProgress: break;
  }
  return DownloadState::InProgress;
}

QString PathOf(const QWebEngineDownloadRequest& request) {
  return QDir(request.downloadDirectory()).filePath(request.downloadFileName());
}

}  // namespace

std::shared_ptr<QtDownloadOperation> QtDownloadOperation::Create(QWebEngineDownloadRequest* ARequest) {
  std::shared_ptr<QtDownloadOperation> operation(new QtDownloadOperation(ARequest));
  operation->Attach();
  return operation;
}

QtDownloadOperation::QtDownloadOperation(QWebEngineDownloadRequest* ARequest)
    : FRequest(ARequest), FId(ARequest->id()), FUri(ARequest->url().toString()) {
  Refresh();
}

void QtDownloadOperation::Attach() {
  std::weak_ptr<QtDownloadOperation> weak = weak_from_this();
  FStateConnection =
      QObject::connect(FRequest.data(), &QWebEngineDownloadRequest::stateChanged, FRequest.data(), [weak] {
        if (auto self = weak.lock()) {
          self->Refresh();
          self->FStateChanged.Raise();
        }
      });
  const auto bytesChanged = [weak] {
    // The engine resets the count once a download has ended; the last real
    // count stays.
    auto self = weak.lock();
    if (!self || self->FState != DownloadState::InProgress) return;
    self->Refresh();
    if (self->FState == DownloadState::InProgress) self->FBytesReceivedChanged.Raise();
  };
  FBytesConnection = QObject::connect(FRequest.data(), &QWebEngineDownloadRequest::receivedBytesChanged,
                                      FRequest.data(), bytesChanged);
  // The engine updates the count before the size, and learns the size only
  // with the first bytes: a new size is reported as another count.
  FTotalConnection =
      QObject::connect(FRequest.data(), &QWebEngineDownloadRequest::totalBytesChanged, FRequest.data(), bytesChanged);
}

void QtDownloadOperation::Detach() {
  QObject::disconnect(FStateConnection);
  QObject::disconnect(FBytesConnection);
  QObject::disconnect(FTotalConnection);
  FRequest.clear();
}

void QtDownloadOperation::EngineReleased() {
  // Not heard any more: the engine reports a cancel at once.
  const QPointer<QWebEngineDownloadRequest> request = FRequest;
  Detach();
  if (FState != DownloadState::InProgress) return;
  if (request) request->cancel();
  FState = DownloadState::Interrupted;
  FStateChanged.Raise();
}

void QtDownloadOperation::Resume(QWebEngineDownloadRequest* ARequest) {
  const QString path = ResultFilePath();
  if (ARequest != FRequest) {
    Detach();
    FRequest = ARequest;
    Attach();
  }
  if (!path.isEmpty()) {
    const QFileInfo target(path);
    ARequest->setDownloadDirectory(target.absolutePath());
    ARequest->setDownloadFileName(target.fileName());
  }
  ARequest->accept();
}

void QtDownloadOperation::Refresh() {
  if (!FRequest) return;
  FState = StateOf(FRequest->state());
  FBytesReceived = FRequest->receivedBytes();
  FTotalBytes = FRequest->totalBytes();
}

QString QtDownloadOperation::ResultFilePath() const { return FRequest ? PathOf(*FRequest) : QString(); }

void QtDownloadOperation::Cancel() {
  if (FRequest) FRequest->cancel();
}

QtDownloadStarting::QtDownloadStarting(QWebEngineDownloadRequest* ARequest,
                                       std::shared_ptr<QtDownloadOperation> AOperation)
    : FRequest(ARequest), FOperation(std::move(AOperation)), FResultFilePath(PathOf(*ARequest)) {}

void QtDownloadStarting::Cancel() {
  FCancelled = true;
  if (FStarted && FRequest) FRequest->cancel();
}

void QtDownloadStarting::Start() {
  if (!FRequest || FStarted) return;
  FStarted = true;
  if (FCancelled) {
    FRequest->cancel();
    return;
  }
  if (!FResultFilePath.isEmpty()) {
    const QFileInfo target(FResultFilePath);
    // The engine does not create missing folders; the download would fail.
    QDir().mkpath(target.absolutePath());
    FRequest->setDownloadDirectory(target.absolutePath());
    FRequest->setDownloadFileName(target.fileName());
  }
  FRequest->accept();
}

}  // namespace orv
