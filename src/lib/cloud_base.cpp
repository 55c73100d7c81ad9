#include "lib/cloud_base.h"

#include "lib/utils.h"
#include "platform/ui_thread.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <exception>

namespace orv {

Q_LOGGING_CATEGORY(lcOrvApi, "orv.api")

namespace {

// The program's log line of a failed request: its name, host and why,
// never its body or headers (they may carry the account's code or token).
QString failureLine(const TORVZYNDashCloudBaseRequestResult& ARequestResult) {
  QString why = ARequestResult.FFailure;
  if (ARequestResult.FResponseCode != 0)
    why += (why.isEmpty() ? QStringLiteral("status %1") : QStringLiteral(" (status %1)"))
               .arg(ARequestResult.FResponseCode);
  return QStringLiteral("Request [%1] to %2 failed: %3")
      .arg(ARequestResult.FName, ARequestResult.GetServer(), why.isEmpty() ? QStringLiteral("no answer") : why);
}

// The transfer itself, on whichever thread runs the request.
void transfer(const std::shared_ptr<IORVZYNDashCustomCloudBase>& AEngine,
              TORVZYNDashCloudBaseRequestResult& ARequestResult) {
  if (!AEngine) {
    ARequestResult.FFailure = QStringLiteral("Unable to initialize the HTTP engine: none is registered");
    ARequestResult.FDone = true;
    if (ARequestResult.FOnComplete) ARequestResult.FOnComplete(ARequestResult);
    throw EORVZYNDashCloudBaseException(ARequestResult.FFailure);
  }
  AEngine->ExecuteRequest(ARequestResult);
}

}  // namespace

TORVZYNDashCustomCloudBase::TORVZYNDashCustomCloudBase(UiThread& AUiThread) : FUiThread(AUiThread) {
  if (auto* services = TORVZYNDashCloudBasePlatformServices::Current()) {
    FService = services->GetPlatformService<IORVZYNDashCloudBaseService>(IORVZYNDashCloudBaseService::IID());
    if (FService) FCloudBase = FService->CreateCloudBase();
  }
}

TORVZYNDashCustomCloudBase::~TORVZYNDashCustomCloudBase() {
  FLifetime.End();
  for (const auto& result : FRequests) result->FIsDestroying = true;
  CancelRequests();
  // Each result waits for its transfer to notice and end.
  FRequestResult = nullptr;
  FRequests.clear();
  if (FService && FCloudBase) FService->DestroyCloudBase(FCloudBase);
}

TORVZYNDashCustomCloudBase::TResult* TORVZYNDashCustomCloudBase::AddRequest(
    TRequestResultEvent ARequestResultEvent, TRequestResultProgressEvent ARequestResultProgressEvent, bool AAsync) {
  FreeFinishedSynchronousResults();
  auto result = std::make_shared<TResult>(FRequest);
  result->FCallBackResult = std::move(ARequestResultEvent);
  result->FCallBackProgress = std::move(ARequestResultProgressEvent);
  result->FAsync = AAsync;
  WireResult(result);
  if (AAsync) {
    // The thread sees the result only while the result exists: its
    // destructor waits for the thread.
    result->FTask = std::make_unique<TORVZYNDashCloudTask>([engine = FCloudBase, request = result.get()] {
      if (!request->CheckTaskStatus()) return;
      try {
        transfer(engine, *request);
      } catch (const std::exception& e) {
        request->Log(QString::fromUtf8(e.what()));
      }
    });
  }
  FRequests.push_back(result);
  return result.get();
}

TORVZYNDashCustomCloudBase::TResult* TORVZYNDashCustomCloudBase::ExecuteRequest(
    TRequestResultEvent ARequestResultEvent, TRequestResultProgressEvent ARequestResultProgressEvent, bool AAsync) {
  TResult* result = AddRequest(std::move(ARequestResultEvent), std::move(ARequestResultProgressEvent), AAsync);
  if (AAsync)
    StartTask(*result);
  else
    RunRequest(*result);
  return result;
}

void TORVZYNDashCustomCloudBase::ExecuteAllRequests() {
  // A callback may submit further requests meanwhile.
  const auto submitted = FRequests;
  for (const auto& result : submitted) {
    if (result->FRunning) continue;
    if (result->FAsync)
      StartTask(*result);
    else
      RunRequest(*result);
  }
}

void TORVZYNDashCustomCloudBase::CancelRequests() {
  for (const auto& result : FRequests) result->Cancel();
}

void TORVZYNDashCustomCloudBase::RunRequest(TResult& ARequestResult) {
  BeginRequest(ARequestResult);
  std::exception_ptr error;
  if (FWaiting) {
    // Work that ran during the wait of another request: nested waits would
    // end only in reverse order, whatever their own transfers do.
    ARequestResult.FFailure =
        QStringLiteral("Request [%1] refused: another request is still outstanding").arg(ARequestResult.FName);
    ARequestResult.FDone = true;
    error = std::make_exception_ptr(EORVZYNDashCloudBaseException(ARequestResult.FFailure));
  } else {
    FWaiting = true;
    const auto waited = qScopeGuard([this] { FWaiting = false; });
    FUiThread.runOnWorkerAndWait(
        [&] {
          try {
            transfer(FCloudBase, ARequestResult);
          } catch (...) {
            error = std::current_exception();
          }
        },
        [&] { ARequestResult.Cancel(); });
  }
  EndSynchronousRequest(ARequestResult);
  if (error) std::rethrow_exception(error);
}

void TORVZYNDashCustomCloudBase::EndSynchronousRequest(TResult& ARequestResult) {
  if (ARequestResult.Cancelled())
    DoRequestCancelled(ARequestResult);
  else
    DoRequestComplete(ARequestResult);
}

// A finished synchronous result has been read once the caller makes its
// next request, unless that request comes from a callback of the result
// (or from work running while a transfer, which owns its result, is
// waited for).
void TORVZYNDashCustomCloudBase::FreeFinishedSynchronousResults() {
  if (FDelivering > 0 || FWaiting) return;
  const auto finished = [](const TResult* R) { return R && !R->FAsync && R->FDone; };
  if (finished(FRequestResult)) FRequestResult = nullptr;
  std::erase_if(FRequests, [&](const auto& result) { return finished(result.get()); });
}

void TORVZYNDashCustomCloudBase::BeginRequest(TResult& ARequestResult) {
  FRequestResult = nullptr;
  if (OnRequestStarted) OnRequestStarted(*this, ARequestResult);
  ARequestResult.FRunning = true;
  ARequestResult.Log(QStringLiteral("Executing request [") + ARequestResult.FName + QStringLiteral("] with url: [") +
                     ARequestResult.GetURL() + QStringLiteral("]"));
}

void TORVZYNDashCustomCloudBase::StartTask(TResult& ARequestResult) {
  if (!ARequestResult.CheckTaskStatus()) return;
  BeginRequest(ARequestResult);
  ARequestResult.FTask->Start();
}

void TORVZYNDashCustomCloudBase::WireResult(const std::shared_ptr<TResult>& ARequestResult) {
  using TWork = std::function<void(TORVZYNDashCustomCloudBase&, TResult&)>;
  // On the calling thread for a synchronous request; queued to the UI
  // thread for an asynchronous one, finding nothing when the component or
  // the result is gone by then.
  auto deliver = [self = FLifetime.Observe(), ui = &FUiThread, weak = std::weak_ptr<TResult>(ARequestResult)](
                     TResult& ARequest, bool AQueue, TWork AWork) {
    if (!AQueue) {
      if (auto* component = self.Get()) AWork(*component, ARequest);
      return;
    }
    ui->post([self, weak, work = std::move(AWork)] {
      auto* component = self.Get();
      const auto request = weak.lock();
      if (component && request) work(*component, *request);
    });
  };
  // A synchronous request ends in RunRequest, on the caller's thread.
  if (ARequestResult->FAsync) {
    ARequestResult->FOnComplete = [deliver](TResult& R) {
      deliver(R, true, [](TORVZYNDashCustomCloudBase& C, TResult& Q) { C.DoRequestComplete(Q); });
    };
    ARequestResult->FOnCancelled = [deliver](TResult& R) {
      deliver(R, true, [](TORVZYNDashCustomCloudBase& C, TResult& Q) { C.DoRequestCancelled(Q); });
    };
  }
  // A synchronous transfer on a worker reports progress like an
  // asynchronous one.
  ARequestResult->FOnProgress = [deliver, ui = &FUiThread](TResult& R, float AProgress, bool AUpload) {
    deliver(R, R.FAsync || !ui->isCurrent(), [AProgress, AUpload](TORVZYNDashCustomCloudBase& C, TResult& Q) {
      C.DoRequestProgress(Q, AProgress, AUpload);
    });
  };
  // Log lines go to the UI thread, at once when they are already there.
  ARequestResult->FOnLog = [deliver, ui = &FUiThread](TResult& R, const QString& AMessage) {
    deliver(R, !ui->isCurrent(),
            [AMessage](TORVZYNDashCustomCloudBase& C, TResult& Q) { C.DoRequestLog(Q, AMessage); });
  };
  ARequestResult->FOnRemove = [deliver](TResult& R) {
    deliver(R, false, [](TORVZYNDashCustomCloudBase& C, TResult& Q) { C.DoRemoveRequest(Q); });
  };
}

void TORVZYNDashCustomCloudBase::DoRequestLog(TResult& ARequestResult, const QString& AMessage) {
  ARequestResult.FMessage = AMessage;
  WriteRequestLog(ARequestResult, AMessage);
}

void TORVZYNDashCustomCloudBase::WriteRequestLog(TResult& ARequestResult, const QString& AMessage) {
  if (OnRequestLog) {
    OnRequestLog(*this, ARequestResult, AMessage);
    return;
  }
  if (!FLogging) return;
  QString fileName = FLogFileName;
  if (QFileInfo(fileName).fileName() == fileName)
    fileName = TORVZYNDashUtils::AddBackslash(TORVZYNDashUtils::GetDocumentsPath()) + fileName;
  QFile file(fileName);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) return;
  file.write(
      (QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + QStringLiteral(": ") + AMessage + QLatin1Char('\n'))
          .toUtf8());
}

void TORVZYNDashCustomCloudBase::DoRequestComplete(TResult& ARequestResult) {
  const QString name = QStringLiteral("[") + ARequestResult.FName + QStringLiteral("] is ");
  ARequestResult.Log(QStringLiteral("Response code from request ") + name +
                     QString::number(ARequestResult.FResponseCode));
  const bool success = TResult::IsSuccessStatus(ARequestResult.FResponseCode) && ARequestResult.FFailure.isEmpty();
  QString result;
  if (success && ARequestResult.FResultType == rrtStream)
    result = QStringLiteral("a stream with size ") + QString::number(ARequestResult.FResultStream.size());
  else if (success && ARequestResult.FResultType == rrtFile)
    result = QStringLiteral("a file with location [") + ARequestResult.FResultFile + QStringLiteral("]");
  else if (ARequestResult.FConfidential)
    result = QStringLiteral("withheld (%1 characters)").arg(ARequestResult.FResultString.size());
  else
    result = ARequestResult.FResultString;
  ARequestResult.Log(QStringLiteral("Result from request ") + name + result);
  ARequestResult.FSuccess = success;
  if (!success) qCWarning(lcOrvApi).noquote() << failureLine(ARequestResult);
  FRequestResult = &ARequestResult;
  {
    ++FDelivering;
    const auto delivered = qScopeGuard([this] { --FDelivering; });
    if (OnRequestComplete) OnRequestComplete(*this, ARequestResult);
    if (ARequestResult.FCallBackResult) ARequestResult.FCallBackResult(ARequestResult);
  }
  if (ARequestResult.FOnRemove) ARequestResult.FOnRemove(ARequestResult);
}

void TORVZYNDashCustomCloudBase::DoRequestCancelled(TResult& ARequestResult) {
  {
    ++FDelivering;
    const auto delivered = qScopeGuard([this] { --FDelivering; });
    if (OnRequestCancelled) OnRequestCancelled(*this, ARequestResult);
  }
  if (ARequestResult.FOnRemove) ARequestResult.FOnRemove(ARequestResult);
}

void TORVZYNDashCustomCloudBase::DoRequestProgress(TResult& ARequestResult, float AProgress, bool AUpload) {
  ARequestResult.FProgress = AProgress;
  if (OnRequestProgress) OnRequestProgress(*this, ARequestResult, AProgress, AUpload);
  if (ARequestResult.FCallBackProgress) ARequestResult.FCallBackProgress(ARequestResult, AProgress);
}

// An asynchronous result is done with once its callback has run; finished
// synchronous ones go when the next request is submitted.
void TORVZYNDashCustomCloudBase::DoRemoveRequest(TResult& ARequestResult) {
  if (!ARequestResult.FAsync) return;
  if (FRequestResult == &ARequestResult) FRequestResult = nullptr;
  const auto it = std::find_if(FRequests.begin(), FRequests.end(),
                               [&](const auto& result) { return result.get() == &ARequestResult; });
  if (it == FRequests.end()) return;
  FRequests.erase(it);
  if (FRequests.empty() && OnRequestsComplete) OnRequestsComplete(*this);
}

}  // namespace orv
