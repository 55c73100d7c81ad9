#pragma once

#include "platform/exception.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace orv {

// The HTTP request engine's failures: a URL that cannot be opened and an
// engine that cannot start. Raised after the request's completion path.
ORV_DECLARE_EXCEPTION(EORVZYNDashCloudBaseException, Exception);

// Ordinals matter: callers store them.
enum TORVZYNDashCloudBaseRequestMethod {
  rmGET,
  rmPOST,
  rmPOSTMULTIPART,
  rmPOSTMULTIPARTRELATED,
  rmPUT,
  rmPUTMULTIPART,
  rmPUTMULTIPARTRELATED,
  rmDELETE,
  rmPATCH,
  rmUPDATE
};

// Where a successful body goes; any other status always gives text.
enum TORVZYNDashCloudBaseRequestResultType { rrtString, rrtStream, rrtFile };

struct TORVZYNDashCloudBaseRequestHeader {
  QString FName;
  QString FValue;
};
using TORVZYNDashCloudBaseRequestHeaders = std::vector<TORVZYNDashCloudBaseRequestHeader>;

// One HTTP request as the caller fills it in. A plain record: the engine
// reads the fields directly.
class TORVZYNDashCloudBaseRequest {
public:
  static const QString DefaultAgent;

  TORVZYNDashCloudBaseRequest() = default;
  TORVZYNDashCloudBaseRequest(const TORVZYNDashCloudBaseRequest&) = default;
  TORVZYNDashCloudBaseRequest& operator=(const TORVZYNDashCloudBaseRequest&) = default;
  virtual ~TORVZYNDashCloudBaseRequest() = default;

  // Back to the defaults; the agent stays.
  virtual void Clear();
  virtual void ClearHeaders();
  // Appends a header; the reference holds until the next change of the list.
  TORVZYNDashCloudBaseRequestHeader& AddHeader(const QString& AName, const QString& AValue);

  // Host, port when set, path, and query after "?" when there is one.
  QString GetURL() const;
  // The host without its scheme.
  QString GetServer() const;
  // The port, or the scheme's default: 443 for a host naming https, else 80.
  int GetPort() const;
  QString GetQueryPath() const;
  QString GetMethodString() const;
  // "Name: Value" CR LF for each header, in order.
  QString GenerateHeaders() const;

  bool IsMultipart() const;
  // Whether the method sends a body with the upload content headers.
  bool SendsUpload() const;

  TORVZYNDashCloudBaseRequestHeaders FHeaders;
  QString FAgent = DefaultAgent;
  QString FHost;  // scheme :// host
  std::int32_t FPort = 0;
  QString FPath;
  QString FQuery;
  TORVZYNDashCloudBaseRequestMethod FMethod = rmGET;
  QString FName;  // shown in log lines
  QString FPostData;
  // Caller data, carried unchanged to the result.
  void* FDataPointer = nullptr;
  bool FDataBoolean = false;
  QString FDataString;
  std::shared_ptr<void> FDataObject;
  std::int32_t FDataInteger = 0;
  std::int64_t FDataInt64 = 0;
  TORVZYNDashCloudBaseRequestResultType FResultType = rrtString;
  QByteArray FUploadStream;
  QString FUploadFile;
  QString FResultFile;
  bool FCustomHeaders = false;  // no automatic upload content headers
  QString FDataUpload;
  std::int64_t FResultFileSize = -1;  // -1: the response's Content-Length
  std::int32_t FReadTimeout = 60000;  // milliseconds without a byte arriving
  std::int32_t FConnectTimeout = 60000;
  // The whole request, in milliseconds; 0: no limit. A server that sends a
  // byte now and then keeps the receive time-out from ever ending it.
  std::int32_t FTimeout = 30000;
  // The most an answer held in memory may have; an answer written to a
  // file has no limit. API answers are a few kilobytes.
  std::int64_t FMaxAnswerBytes = 4 * 1024 * 1024;
  // The answer carries secrets (a token): its body stays out of log lines.
  bool FConfidential = false;
};

// The worker thread of an asynchronous request. Cancelling is cooperative:
// the transfer asks between chunks.
class TORVZYNDashCloudTask {
public:
  enum class TStatus { Created, Running, Completed, Cancelled };

  explicit TORVZYNDashCloudTask(std::function<void()> ABody) : FBody(std::move(ABody)) {}
  // Waits for the body to end.
  ~TORVZYNDashCloudTask();
  TORVZYNDashCloudTask(const TORVZYNDashCloudTask&) = delete;
  TORVZYNDashCloudTask& operator=(const TORVZYNDashCloudTask&) = delete;

  // Runs the body on a thread of its own, once; not after a cancel.
  void Start();
  void Cancel();
  TStatus Status() const { return FStatus.load(); }

private:
  std::function<void()> FBody;
  std::atomic<TStatus> FStatus{TStatus::Created};
  std::thread FThread;
};

// A submitted request: a copy of the request made at submission plus what
// came back. The component that made it wires the On-hooks.
class TORVZYNDashCloudBaseRequestResult : public TORVZYNDashCloudBaseRequest {
public:
  using TResultCallback = std::function<void(TORVZYNDashCloudBaseRequestResult& ARequestResult)>;
  using TProgressCallback = std::function<void(TORVZYNDashCloudBaseRequestResult& ARequestResult, float AProgress)>;
  using TNotify = std::function<void(TORVZYNDashCloudBaseRequestResult& ARequestResult)>;
  using TLogNotify = std::function<void(TORVZYNDashCloudBaseRequestResult& ARequestResult, const QString& AMessage)>;
  using TProgressNotify =
      std::function<void(TORVZYNDashCloudBaseRequestResult& ARequestResult, float AProgress, bool AUpload)>;

  explicit TORVZYNDashCloudBaseRequestResult(const TORVZYNDashCloudBaseRequest& ARequest)
      : TORVZYNDashCloudBaseRequest(ARequest) {}
  TORVZYNDashCloudBaseRequestResult(const TORVZYNDashCloudBaseRequestResult&) = delete;
  TORVZYNDashCloudBaseRequestResult& operator=(const TORVZYNDashCloudBaseRequestResult&) = delete;
  ~TORVZYNDashCloudBaseRequestResult() override;

  // Also forgets the answer, both callbacks and the task.
  void Clear() override;
  // Stops the transfer at its next chunk; a synchronous request can be
  // cancelled from its own progress callback.
  virtual void Cancel();
  // Hands a log line to the component.
  virtual void Log(const QString& AMessage);
  // 200, 201, 202 and 204 count as success.
  static bool IsSuccessStatus(int ACode) { return ACode == 200 || ACode == 201 || ACode == 202 || ACode == 204; }
  // False once the request was cancelled or its component is going away.
  bool CheckTaskStatus() const;
  bool Cancelled() const;
  // The first response header of that name (compared case-insensitively).
  QString GetResponseHeader(const QString& AName) const;

  TORVZYNDashCloudBaseRequestHeaders FResponseHeaders;
  QString FMessage;
  std::atomic<bool> FIsDestroying{false};
  QString FResultString;
  TResultCallback FCallBackResult;
  TProgressCallback FCallBackProgress;
  bool FAsync = false;
  std::unique_ptr<TORVZYNDashCloudTask> FTask;  // asynchronous requests only
  std::int32_t FResponseCode = 0;               // 0: no status received
  float FProgress = 0;
  bool FRunning = false;
  TNotify FOnRemove;
  TNotify FOnComplete;
  TLogNotify FOnLog;
  TProgressNotify FOnProgress;
  TNotify FOnCancelled;
  QByteArray FResultStream;
  bool FSuccess = false;
  std::int64_t FTotalBytes = 0;
  std::int64_t FBytesReceived = 0;
  bool FDone = false;
  // Why no whole answer arrived (cut off, timed out, too large, refused);
  // empty when one did. Such a request never counts as a success.
  QString FFailure;

private:
  std::atomic<bool> FCancelRequested{false};
};

}  // namespace orv
