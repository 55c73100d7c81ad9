#include "lib/cloud_request.h"

namespace orv {

const QString TORVZYNDashCloudBaseRequest::DefaultAgent =
    QStringLiteral("Mozilla/5.001 (windows; U; NT4.0; en-US; rv:1.0) Gecko/25250101");

void TORVZYNDashCloudBaseRequest::Clear() {
  const QString agent = FAgent;
  *this = TORVZYNDashCloudBaseRequest();
  FAgent = agent;
}

void TORVZYNDashCloudBaseRequest::ClearHeaders() { FHeaders.clear(); }

TORVZYNDashCloudBaseRequestHeader& TORVZYNDashCloudBaseRequest::AddHeader(const QString& AName, const QString& AValue) {
  FHeaders.push_back({AName, AValue});
  return FHeaders.back();
}

QString TORVZYNDashCloudBaseRequest::GetURL() const {
  QString url = FHost;
  if (FPort > 0) url += QLatin1Char(':') + QString::number(FPort);
  return url + GetQueryPath();
}

QString TORVZYNDashCloudBaseRequest::GetServer() const {
  const qsizetype scheme = FHost.indexOf(QLatin1String("://"));
  return scheme < 0 ? FHost : FHost.mid(scheme + 3);
}

int TORVZYNDashCloudBaseRequest::GetPort() const {
  if (FPort != 0) return FPort;
  return FHost.contains(QLatin1String("HTTPS"), Qt::CaseInsensitive) ? 443 : 80;
}

QString TORVZYNDashCloudBaseRequest::GetQueryPath() const {
  return FQuery.isEmpty() ? FPath : FPath + QLatin1Char('?') + FQuery;
}

QString TORVZYNDashCloudBaseRequest::GetMethodString() const {
  switch (FMethod) {
    case rmGET: return QStringLiteral("GET");
    case rmPOST:
    case rmPOSTMULTIPART:
    case rmPOSTMULTIPARTRELATED: return QStringLiteral("POST");
    case rmDELETE: return QStringLiteral("DELETE");
    case rmPATCH: return QStringLiteral("PATCH");
    case rmPUT:
    case rmPUTMULTIPART:
    case rmPUTMULTIPARTRELATED:
    case rmUPDATE: return QStringLiteral("PUT");
  }
  return QStringLiteral("GET");
}

QString TORVZYNDashCloudBaseRequest::GenerateHeaders() const {
  QString text;
  for (const auto& header : FHeaders)
    text += header.FName + QStringLiteral(": ") + header.FValue + QStringLiteral("\r\n");
  return text;
}

bool TORVZYNDashCloudBaseRequest::IsMultipart() const {
  return FMethod == rmPOSTMULTIPART || FMethod == rmPOSTMULTIPARTRELATED || FMethod == rmPUTMULTIPART ||
         FMethod == rmPUTMULTIPARTRELATED;
}

bool TORVZYNDashCloudBaseRequest::SendsUpload() const {
  const QString method = GetMethodString();
  return method == QLatin1String("POST") || method == QLatin1String("PUT") || method == QLatin1String("PATCH");
}

TORVZYNDashCloudTask::~TORVZYNDashCloudTask() {
  if (FThread.joinable()) FThread.join();
}

void TORVZYNDashCloudTask::Start() {
  TStatus expected = TStatus::Created;
  if (!FStatus.compare_exchange_strong(expected, TStatus::Running)) return;
  FThread = std::thread([this] {
    FBody();
    TStatus running = TStatus::Running;
    FStatus.compare_exchange_strong(running, TStatus::Completed);
  });
}

void TORVZYNDashCloudTask::Cancel() {
  for (TStatus from : {TStatus::Created, TStatus::Running}) {
    if (FStatus.compare_exchange_strong(from, TStatus::Cancelled)) return;
  }
}

TORVZYNDashCloudBaseRequestResult::~TORVZYNDashCloudBaseRequestResult() {
  // The task's thread works on this object: it ends before the fields go.
  FIsDestroying = true;
  Cancel();
  FTask.reset();
}

void TORVZYNDashCloudBaseRequestResult::Clear() {
  FTask.reset();
  TORVZYNDashCloudBaseRequest::Clear();
  FResponseHeaders.clear();
  FMessage.clear();
  FResultString.clear();
  FCallBackResult = nullptr;
  FCallBackProgress = nullptr;
  FResponseCode = 0;
  FProgress = 0;
  FRunning = false;
  FResultStream.clear();
  FSuccess = false;
  FTotalBytes = 0;
  FBytesReceived = 0;
  FDone = false;
  FFailure.clear();
  FCancelRequested = false;
}

void TORVZYNDashCloudBaseRequestResult::Cancel() {
  FCancelRequested = true;
  if (FTask) FTask->Cancel();
}

void TORVZYNDashCloudBaseRequestResult::Log(const QString& AMessage) {
  if (FOnLog)
    FOnLog(*this, AMessage);
  else
    FMessage = AMessage;
}

bool TORVZYNDashCloudBaseRequestResult::CheckTaskStatus() const { return !FCancelRequested && !FIsDestroying; }

bool TORVZYNDashCloudBaseRequestResult::Cancelled() const { return FCancelRequested; }

QString TORVZYNDashCloudBaseRequestResult::GetResponseHeader(const QString& AName) const {
  for (const auto& header : FResponseHeaders)
    if (header.FName.compare(AName, Qt::CaseInsensitive) == 0) return header.FValue;
  return {};
}

}  // namespace orv
