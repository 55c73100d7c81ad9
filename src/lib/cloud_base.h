#pragma once

#include "lib/cloud_request.h"
#include "lib/web_browser_services.h"
#include "platform/lifetime.h"

#include <QLoggingCategory>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace orv {

// The program's log lines of failed API calls (warnings).
Q_DECLARE_LOGGING_CATEGORY(lcOrvApi)

class TORVZYNDashCustomCloudBase;
class UiThread;

// A platform's HTTP transfer. ExecuteRequest carries out one request on the
// calling thread: it fills in the status, the response headers and the
// body, sets FDone and calls the result's FOnComplete (FOnCancelled when the
// request was cancelled); an error it met is raised only after that.
class IORVZYNDashCustomCloudBase {
public:
  virtual ~IORVZYNDashCustomCloudBase() = default;
  virtual void ExecuteRequest(TORVZYNDashCloudBaseRequestResult& ARequestResult) = 0;
};

// Makes the HTTP engines of components and takes them back.
class IORVZYNDashCloudBaseService : public virtual IORVZYNDashInterface {
public:
  static QString IID() { return QStringLiteral("{4F0C3C1E-8B2A-4C39-9E57-2D6B1A7F0C11}"); }
  bool Supports(const QString& AIID) const override { return AIID == IID(); }

  virtual std::shared_ptr<IORVZYNDashCustomCloudBase> CreateCloudBase() = 0;
  virtual void DestroyCloudBase(const std::shared_ptr<IORVZYNDashCustomCloudBase>& AValue) = 0;
};

// Platform services live in one process-wide registry, the browser's
// factory service beside the HTTP engine's.
using TORVZYNDashCloudBasePlatformServices = TORVZYNDashWebBrowserPlatformServices;

// The HTTP client component: the caller fills Request(), then executes it
// and gets the result in a callback. A synchronous request has called back
// before ExecuteRequest returns; on the UI thread its transfer runs on a
// worker while the UI thread keeps its own events going
// (UiThread::runOnWorkerAndWait), so the window repaints and can be closed,
// which cancels the request. Only one synchronous request of a component is
// waited for at a time: another one made meanwhile (by work that ran during
// the wait) is refused. An asynchronous request runs on a worker thread and
// calls back, logs and reports progress on the UI thread. The component
// itself is used on the UI thread. A request that failed writes one line to
// the program's log (category orv.api), without its body.
class TORVZYNDashCustomCloudBase {
public:
  using TResult = TORVZYNDashCloudBaseRequestResult;
  using TRequestResultEvent = TResult::TResultCallback;
  using TRequestResultProgressEvent = TResult::TProgressCallback;
  using TRequestLogEvent =
      std::function<void(TORVZYNDashCustomCloudBase& Sender, TResult& ARequestResult, const QString& AMessage)>;
  using TRequestEvent = std::function<void(TORVZYNDashCustomCloudBase& Sender, TResult& ARequestResult)>;
  using TRequestProgressEvent =
      std::function<void(TORVZYNDashCustomCloudBase& Sender, TResult& ARequestResult, float AProgress, bool AUpload)>;
  using TNotifyEvent = std::function<void(TORVZYNDashCustomCloudBase& Sender)>;

  // The engine comes from the registered HTTP engine service; without one,
  // every request fails with the engine-initialisation error.
  explicit TORVZYNDashCustomCloudBase(UiThread& AUiThread);
  virtual ~TORVZYNDashCustomCloudBase();
  TORVZYNDashCustomCloudBase(const TORVZYNDashCustomCloudBase&) = delete;
  TORVZYNDashCustomCloudBase& operator=(const TORVZYNDashCustomCloudBase&) = delete;

  // The request being prepared.
  TORVZYNDashCloudBaseRequest& Request() { return FRequest; }
  // The last completed result; none while a request runs.
  TResult* RequestResult() const { return FRequestResult; }

  // Submits a copy of Request() without starting it. The component owns
  // the result: a finished synchronous one until the next request is
  // submitted outside the component's callbacks (so a request made from a
  // callback leaves the result it was called for alone), an asynchronous
  // one until its callback has run.
  virtual TResult* AddRequest(TRequestResultEvent ARequestResultEvent,
                              TRequestResultProgressEvent ARequestResultProgressEvent = nullptr, bool AAsync = true);
  // Submits and starts. A synchronous request raises the engine's error
  // after its callback has run (a refused one too).
  virtual TResult* ExecuteRequest(TRequestResultEvent ARequestResultEvent,
                                  TRequestResultProgressEvent ARequestResultProgressEvent = nullptr,
                                  bool AAsync = true);
  // Starts every submitted request that is not running yet.
  void ExecuteAllRequests();
  virtual void CancelRequests();
  virtual int GetRequestCount() const { return static_cast<int>(FRequests.size()); }

  // Without OnRequestLog, log lines go to this file when Logging is on
  // (a name without a folder is placed in the documents folder).
  bool Logging() const { return FLogging; }
  void SetLogging(bool AValue) { FLogging = AValue; }
  const QString& LogFileName() const { return FLogFileName; }
  void SetLogFileName(const QString& AValue) { FLogFileName = AValue; }

  TRequestLogEvent OnRequestLog;
  TRequestEvent OnRequestComplete;
  TRequestProgressEvent OnRequestProgress;
  TNotifyEvent OnRequestsComplete;
  TRequestEvent OnRequestStarted;
  TRequestEvent OnRequestCancelled;

protected:
  virtual void WriteRequestLog(TResult& ARequestResult, const QString& AMessage);
  virtual void RunRequest(TResult& ARequestResult);

private:
  // What a request tells the component, on the UI thread.
  void DoRequestLog(TResult& ARequestResult, const QString& AMessage);
  void DoRequestComplete(TResult& ARequestResult);
  void DoRequestCancelled(TResult& ARequestResult);
  void DoRequestProgress(TResult& ARequestResult, float AProgress, bool AUpload);
  void DoRemoveRequest(TResult& ARequestResult);
  // A synchronous request's end, told on the calling thread once its
  // transfer is over.
  void EndSynchronousRequest(TResult& ARequestResult);
  void FreeFinishedSynchronousResults();
  // Marks the result running and says so, on the UI thread; the transfer
  // follows (on the task's thread for an asynchronous request).
  void BeginRequest(TResult& ARequestResult);
  void StartTask(TResult& ARequestResult);
  // Points the result's hooks at the Do-operations above.
  void WireResult(const std::shared_ptr<TResult>& ARequestResult);

  UiThread& FUiThread;
  std::shared_ptr<IORVZYNDashCloudBaseService> FService;
  std::shared_ptr<IORVZYNDashCustomCloudBase> FCloudBase;
  TORVZYNDashCloudBaseRequest FRequest;
  TResult* FRequestResult = nullptr;
  std::vector<std::shared_ptr<TResult>> FRequests;
  // Callbacks of this component running; results they were called for stay.
  int FDelivering = 0;
  // A synchronous request is being waited for.
  bool FWaiting = false;
  bool FLogging = false;
  QString FLogFileName = QStringLiteral("TORVZYNDashCloudBase.LOG");
  // Work queued for the UI thread observes this; the destructor ends it.
  Lifetime<TORVZYNDashCustomCloudBase> FLifetime{*this};
};

class TORVZYNDashCloudBase : public TORVZYNDashCustomCloudBase {
public:
  using TORVZYNDashCustomCloudBase::TORVZYNDashCustomCloudBase;
};

}  // namespace orv
