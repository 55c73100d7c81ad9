#include "lib/cloud_base_curl.h"

#include <QFile>

#include <curl/curl.h>

#include <algorithm>
#include <optional>
#include <utility>

namespace orv {

namespace {

// Idle handles kept for reuse; more concurrent transfers make new ones.
constexpr std::size_t kIdleHandles = 4;
constexpr char kBoundary[] = "AaB03x";

using THeaderList = std::vector<std::pair<QString, QString>>;

// Replaces every header of that name (compared case-insensitively) with
// one at the end.
void replaceHeader(THeaderList& AHeaders, const QString& AName, const QString& AValue) {
  std::erase_if(AHeaders, [&](const auto& header) { return header.first.compare(AName, Qt::CaseInsensitive) == 0; });
  AHeaders.emplace_back(AName, AValue);
}

bool hasHeader(const THeaderList& AHeaders, const QString& AName) {
  return std::any_of(AHeaders.begin(), AHeaders.end(),
                     [&](const auto& header) { return header.first.compare(AName, Qt::CaseInsensitive) == 0; });
}

// A header's name is a token; its value holds no control character but a
// tab. A line break in either would add a header, or end the request and
// start another, of whoever chose the text (a token from an answer).
bool isHeaderName(const QString& AName) {
  static const QString separators = QStringLiteral("()<>@,;:\\\"/[]?={} \t");
  return !AName.isEmpty() && std::all_of(AName.begin(), AName.end(), [](QChar c) {
    return c.unicode() > 32 && c.unicode() < 127 && !separators.contains(c);
  });
}
bool isHeaderValue(const QString& AValue) {
  return std::none_of(AValue.begin(), AValue.end(),
                      [](QChar c) { return (c.unicode() < 32 && c != QLatin1Char('\t')) || c.unicode() == 127; });
}

// The request's headers, trimmed; nullopt when one could not be sent as it is.
std::optional<THeaderList> requestHeaders(const TORVZYNDashCloudBaseRequest& ARequest) {
  THeaderList headers;
  for (const TORVZYNDashCloudBaseRequestHeader& header : ARequest.FHeaders) {
    const QString name = header.FName.trimmed();
    const QString value = header.FValue.trimmed();
    if (!isHeaderName(name) || !isHeaderValue(value)) return std::nullopt;
    headers.emplace_back(name, value);
  }
  return headers;
}

// One transfer: what the callbacks of libcurl work on.
class TTransfer {
public:
  TTransfer(TORVZYNDashCloudBaseRequestResult& ARequest, CURL* AHandle) : FRequest(ARequest), FHandle(AHandle) {}
  ~TTransfer() { curl_slist_free_all(FHeaderList); }
  TTransfer(const TTransfer&) = delete;
  TTransfer& operator=(const TTransfer&) = delete;

  // Sets the transfer up, runs it and stores the answer in the request.
  // Returns the error to raise once the request is complete.
  std::optional<QString> Run();

private:
  void SetOptions();
  void PrepareBody(THeaderList& AHeaders);
  void ChooseSink();
  void FinishSink();
  std::optional<QString> ErrorOf(CURLcode ACode) const;
  QString TooLarge() const;

  static size_t OnHeader(char* AData, size_t ASize, size_t ACount, void* AUser);
  static size_t OnBody(char* AData, size_t ASize, size_t ACount, void* AUser);
  static size_t OnSend(char* ABuffer, size_t ASize, size_t ACount, void* AUser);
  static int OnProgress(void* AUser, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

  TORVZYNDashCloudBaseRequestResult& FRequest;
  CURL* FHandle;
  curl_slist* FHeaderList = nullptr;
  char FErrorText[CURL_ERROR_SIZE] = {};

  // What goes out: the text part, an upload file, the closing part.
  QByteArray FHead;
  QFile FUploadFile;
  QByteArray FTail;
  qint64 FHeadSent = 0;
  qint64 FTailSent = 0;
  qint64 FUploadSize = 0;
  qint64 FUploadSent = 0;

  // What comes back.
  bool FSinkChosen = false;
  bool FToFile = false;
  QByteArray FBody;
  QFile FResultFile;
  qint64 FExpected = 0;
  qint64 FReceived = 0;
  // A file that cannot be read or written, an answer too large to hold.
  std::optional<QString> FError;
};

std::optional<QString> TTransfer::Run() {
  SetOptions();
  if (FError) {
    FRequest.FFailure = *FError;
    return FError;
  }
  const CURLcode code = curl_easy_perform(FHandle);
  long status = 0;
  curl_easy_getinfo(FHandle, CURLINFO_RESPONSE_CODE, &status);
  FRequest.FResponseCode = static_cast<std::int32_t>(status);
  // Whatever ended the transfer early (a connection dropped before the
  // announced end, a time-out, our own refusal) leaves the answer unfinished.
  if (code != CURLE_OK && !FRequest.Cancelled()) {
    FRequest.FFailure = FError ? *FError : QString::fromUtf8(FErrorText[0] ? FErrorText : curl_easy_strerror(code));
    FRequest.Log(QStringLiteral("Request [") + FRequest.FName + QStringLiteral("] failed: ") + FRequest.FFailure);
  }
  FinishSink();
  return ErrorOf(code);
}

void TTransfer::SetOptions() {
  const QByteArray url = FRequest.GetURL().toUtf8();
  curl_easy_setopt(FHandle, CURLOPT_URL, url.constData());
  curl_easy_setopt(FHandle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(FHandle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(FHandle, CURLOPT_ERRORBUFFER, FErrorText);
  curl_easy_setopt(FHandle, CURLOPT_USERAGENT, FRequest.FAgent.toUtf8().constData());
  curl_easy_setopt(FHandle, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(FHandle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(FHandle, CURLOPT_SSL_VERIFYHOST, 2L);
  // As for the curl tool: a network whose TLS is inspected names the bundle
  // of certificates it trusts instead of the system's.
  if (const QByteArray bundle = qgetenv("CURL_CA_BUNDLE"); !bundle.isEmpty())
    curl_easy_setopt(FHandle, CURLOPT_CAINFO, bundle.constData());
  // Loopback never goes through a proxy: what is sent to a local API in
  // plain HTTP (an account's code) must not leave the machine.
  QByteArray noProxy = qgetenv("no_proxy");
  if (noProxy.isEmpty()) noProxy = qgetenv("NO_PROXY");
  noProxy += QByteArray(noProxy.isEmpty() ? "" : ",") + "localhost,127.0.0.0/8,::1";
  curl_easy_setopt(FHandle, CURLOPT_NOPROXY, noProxy.constData());
  curl_easy_setopt(FHandle, CURLOPT_FOLLOWLOCATION, 0L);
  if (FRequest.FConnectTimeout > 0)
    curl_easy_setopt(FHandle, CURLOPT_CONNECTTIMEOUT_MS, long(FRequest.FConnectTimeout));
  if (FRequest.FTimeout > 0) curl_easy_setopt(FHandle, CURLOPT_TIMEOUT_MS, long(FRequest.FTimeout));
  // A receive time-out: the transfer ends when nothing arrived for that
  // long (libcurl counts in whole seconds here).
  if (FRequest.FReadTimeout > 0) {
    curl_easy_setopt(FHandle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(FHandle, CURLOPT_LOW_SPEED_TIME, std::max(1L, long((FRequest.FReadTimeout + 999) / 1000)));
  }
  curl_easy_setopt(FHandle, CURLOPT_HEADERFUNCTION, &TTransfer::OnHeader);
  curl_easy_setopt(FHandle, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(FHandle, CURLOPT_WRITEFUNCTION, &TTransfer::OnBody);
  curl_easy_setopt(FHandle, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(FHandle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(FHandle, CURLOPT_XFERINFOFUNCTION, &TTransfer::OnProgress);
  curl_easy_setopt(FHandle, CURLOPT_XFERINFODATA, this);

  std::optional<THeaderList> checked = requestHeaders(FRequest);
  if (!checked) {
    FError = QStringLiteral("A header of request [%1] holds a line break or another character headers cannot carry")
                 .arg(FRequest.FName);
    return;
  }
  THeaderList& headers = *checked;
  if (FRequest.FMethod == rmGET)
    curl_easy_setopt(FHandle, CURLOPT_HTTPGET, 1L);
  else
    PrepareBody(headers);
  for (const auto& [name, value] : headers) {
    // libcurl sends "Name;" as an empty header ("Name:" would remove it).
    const QString line =
        value.isEmpty() ? QString(name + QLatin1Char(';')) : QString(name + QStringLiteral(": ") + value);
    FHeaderList = curl_slist_append(FHeaderList, line.toUtf8().constData());
  }
  // Only what the caller asked for: no Accept or Content-Type of libcurl's
  // own, no waiting for "100 Continue".
  for (const char* name : {"Accept", "Content-Type", "Expect"})
    if (!hasHeader(headers, QLatin1String(name)))
      FHeaderList = curl_slist_append(FHeaderList, QByteArray(QByteArray(name) + ':').constData());
  curl_easy_setopt(FHandle, CURLOPT_HTTPHEADER, FHeaderList);
}

// The body of every method but GET: the multipart frame around the post
// data and the upload content, with their content headers.
void TTransfer::PrepareBody(THeaderList& AHeaders) {
  const bool multipart = FRequest.IsMultipart();
  const bool related = FRequest.FMethod == rmPOSTMULTIPARTRELATED || FRequest.FMethod == rmPUTMULTIPARTRELATED;
  if (multipart) FHead = related ? QByteArray("\r\n") : QByteArray("--") + kBoundary + "\r\n";
  FHead += FRequest.FPostData.toUtf8();
  FHead += FRequest.FUploadStream;
  if (!FRequest.FUploadFile.isEmpty()) {
    FUploadFile.setFileName(FRequest.FUploadFile);
    if (FUploadFile.open(QIODevice::ReadOnly))
      FUploadSize = FUploadFile.size();
    else
      FError = QStringLiteral("Cannot open file \"%1\". %2").arg(FRequest.FUploadFile, FUploadFile.errorString());
  }
  if (multipart) FTail = QByteArray("\r\n--") + kBoundary + "--\r\n";

  const bool upload = !FRequest.FUploadStream.isEmpty() || !FRequest.FUploadFile.isEmpty();
  if (upload && FRequest.SendsUpload() && !FRequest.FCustomHeaders) {
    replaceHeader(AHeaders, QStringLiteral("Content-Type"), QStringLiteral("application/octet-stream"));
    replaceHeader(AHeaders, QStringLiteral("Content-Transfer-Encoding"), QStringLiteral("binary"));
  }
  if (multipart)
    replaceHeader(AHeaders, QStringLiteral("Content-Type"),
                  QStringLiteral("multipart/%1; boundary=%2")
                      .arg(related ? QLatin1String("related") : QLatin1String("form-data"), QLatin1String(kBoundary)));

  curl_easy_setopt(FHandle, CURLOPT_POST, 1L);
  if (FRequest.GetMethodString() != QLatin1String("POST"))
    curl_easy_setopt(FHandle, CURLOPT_CUSTOMREQUEST, FRequest.GetMethodString().toLatin1().constData());
  curl_easy_setopt(FHandle, CURLOPT_READFUNCTION, &TTransfer::OnSend);
  curl_easy_setopt(FHandle, CURLOPT_READDATA, this);
  curl_easy_setopt(FHandle, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(FHead.size() + FUploadSize + FTail.size()));
}

// A successful body goes where the result type says; any other is text.
void TTransfer::ChooseSink() {
  FSinkChosen = true;
  long status = 0;
  curl_easy_getinfo(FHandle, CURLINFO_RESPONSE_CODE, &status);
  FToFile = TORVZYNDashCloudBaseRequestResult::IsSuccessStatus(int(status)) && FRequest.FResultType == rrtFile;
  if (FToFile) {
    FResultFile.setFileName(FRequest.FResultFile);
    if (!FResultFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
      FError = QStringLiteral("Cannot create file \"%1\". %2").arg(FRequest.FResultFile, FResultFile.errorString());
  }
  curl_off_t length = -1;
  curl_easy_getinfo(FHandle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  if (!FToFile && length > FRequest.FMaxAnswerBytes) FError = TooLarge();
  FExpected = FRequest.FResultFileSize != -1 ? FRequest.FResultFileSize : std::max<qint64>(length, 0);
  FRequest.FTotalBytes = FExpected;
}

void TTransfer::FinishSink() {
  if (!FSinkChosen) ChooseSink();
  const bool whole = FRequest.FFailure.isEmpty();
  if (whole && FExpected <= 0 && FRequest.FResponseCode != 0 && FRequest.FOnProgress && FRequest.CheckTaskStatus())
    FRequest.FOnProgress(FRequest, 100, false);
  if (FToFile) {
    const bool written = FResultFile.isOpen();
    FResultFile.close();
    // A cut-off download must not pass for the whole file later.
    if (written && !whole) FResultFile.remove();
    return;
  }
  if (whole && TORVZYNDashCloudBaseRequestResult::IsSuccessStatus(FRequest.FResponseCode) &&
      FRequest.FResultType == rrtStream)
    FRequest.FResultStream = FBody;
  else
    FRequest.FResultString = QString::fromUtf8(FBody);
}

// Without an answer, a GET could not be opened at all; a URL libcurl
// cannot use fails every method. Other methods fail quietly with status 0.
std::optional<QString> TTransfer::ErrorOf(CURLcode ACode) const {
  if (FRequest.Cancelled()) return std::nullopt;
  if (FError) return FError;
  const bool unusableURL = ACode == CURLE_URL_MALFORMAT || ACode == CURLE_UNSUPPORTED_PROTOCOL;
  if (unusableURL || (ACode != CURLE_OK && FRequest.FMethod == rmGET && FRequest.FResponseCode == 0))
    return QStringLiteral("Cannot open URL %1").arg(FRequest.GetURL());
  return std::nullopt;
}

QString TTransfer::TooLarge() const {
  return QStringLiteral("The answer of request [%1] is larger than %2 bytes")
      .arg(FRequest.FName)
      .arg(FRequest.FMaxAnswerBytes);
}

size_t TTransfer::OnHeader(char* AData, size_t ASize, size_t ACount, void* AUser) {
  auto& self = *static_cast<TTransfer*>(AUser);
  const size_t length = ASize * ACount;
  const QString line = QString::fromUtf8(AData, qsizetype(length));
  // An interim answer ("100 Continue") is followed by the real one.
  if (line.startsWith(QLatin1String("HTTP/"))) {
    self.FRequest.FResponseHeaders.clear();
    return length;
  }
  const qsizetype colon = line.indexOf(QLatin1Char(':'));
  if (colon > 0) self.FRequest.FResponseHeaders.push_back({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
  return length;
}

size_t TTransfer::OnBody(char* AData, size_t ASize, size_t ACount, void* AUser) {
  auto& self = *static_cast<TTransfer*>(AUser);
  const size_t length = ASize * ACount;
  if (!self.FRequest.CheckTaskStatus()) return CURL_WRITEFUNC_ERROR;
  if (!self.FSinkChosen) self.ChooseSink();
  if (self.FError) return CURL_WRITEFUNC_ERROR;
  if (self.FToFile) {
    if (self.FResultFile.write(AData, qint64(length)) != qint64(length)) {
      self.FError =
          QStringLiteral("Cannot write file \"%1\". %2").arg(self.FRequest.FResultFile, self.FResultFile.errorString());
      return CURL_WRITEFUNC_ERROR;
    }
  } else {
    // Stops an endless answer before it takes the memory; what came is
    // given back at once.
    if (self.FBody.size() + qint64(length) > self.FRequest.FMaxAnswerBytes) {
      self.FError = self.TooLarge();
      self.FBody = QByteArray();
      return CURL_WRITEFUNC_ERROR;
    }
    self.FBody.append(AData, qsizetype(length));
  }
  self.FReceived += qint64(length);
  self.FRequest.FBytesReceived = qint64(length);
  if (self.FExpected > 0 && self.FRequest.FOnProgress)
    self.FRequest.FOnProgress(self.FRequest, float(100.0 * double(self.FReceived) / double(self.FExpected)), false);
  return length;
}

size_t TTransfer::OnSend(char* ABuffer, size_t ASize, size_t ACount, void* AUser) {
  auto& self = *static_cast<TTransfer*>(AUser);
  if (!self.FRequest.CheckTaskStatus()) return CURL_READFUNC_ABORT;
  const qint64 room = qint64(ASize * ACount);
  if (self.FHeadSent < self.FHead.size()) {
    const qint64 count = std::min(room, self.FHead.size() - self.FHeadSent);
    std::copy_n(self.FHead.constData() + self.FHeadSent, count, ABuffer);
    self.FHeadSent += count;
    return size_t(count);
  }
  if (self.FUploadSent < self.FUploadSize) {
    const qint64 count = self.FUploadFile.read(ABuffer, std::min<qint64>(room, 65536));
    if (count <= 0) return CURL_READFUNC_ABORT;
    self.FUploadSent += count;
    if (self.FRequest.FOnProgress)
      self.FRequest.FOnProgress(self.FRequest, float(100.0 * double(self.FUploadSent) / double(self.FUploadSize)),
                                true);
    return size_t(count);
  }
  const qint64 count = std::min(room, self.FTail.size() - self.FTailSent);
  std::copy_n(self.FTail.constData() + self.FTailSent, count, ABuffer);
  self.FTailSent += count;
  return size_t(count);
}

// Called often, also while waiting: the place to notice a cancel.
int TTransfer::OnProgress(void* AUser, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<TTransfer*>(AUser)->FRequest.CheckTaskStatus() ? 0 : 1;
}

}  // namespace

TORVZYNDashCurlCloudBase::~TORVZYNDashCurlCloudBase() {
  for (void* handle : FIdleHandles) curl_easy_cleanup(static_cast<CURL*>(handle));
}

void TORVZYNDashCurlCloudBase::ExecuteRequest(TORVZYNDashCloudBaseRequestResult& ARequestResult) {
  std::optional<QString> error;
  if (void* handle = AcquireHandle()) {
    {
      TTransfer transfer(ARequestResult, static_cast<CURL*>(handle));
      error = transfer.Run();
    }
    ReleaseHandle(handle);
  } else {
    error = QStringLiteral("Unable to initialize libcurl");
  }
  if (error && ARequestResult.FFailure.isEmpty()) ARequestResult.FFailure = *error;
  ARequestResult.FDone = true;
  if (ARequestResult.Cancelled()) {
    if (ARequestResult.FOnCancelled) ARequestResult.FOnCancelled(ARequestResult);
  } else if (ARequestResult.FOnComplete) {
    ARequestResult.FOnComplete(ARequestResult);
  }
  if (error) throw EORVZYNDashCloudBaseException(*error);
}

void* TORVZYNDashCurlCloudBase::AcquireHandle() {
  {
    std::lock_guard lock(FIdleLock);
    if (!FIdleHandles.empty()) {
      void* handle = FIdleHandles.back();
      FIdleHandles.pop_back();
      return handle;
    }
  }
  return curl_easy_init();
}

void TORVZYNDashCurlCloudBase::ReleaseHandle(void* AHandle) {
  // Forgets the options, which point at the finished transfer, and keeps
  // the open connection.
  curl_easy_reset(static_cast<CURL*>(AHandle));
  {
    std::lock_guard lock(FIdleLock);
    if (FIdleHandles.size() < kIdleHandles) {
      FIdleHandles.push_back(AHandle);
      return;
    }
  }
  curl_easy_cleanup(static_cast<CURL*>(AHandle));
}

TORVZYNDashCurlCloudBaseService::TORVZYNDashCurlCloudBaseService() {
  // Once, before any thread makes a handle; libcurl stays set up until the
  // process ends.
  [[maybe_unused]] static const CURLcode initialized = curl_global_init(CURL_GLOBAL_DEFAULT);
}

std::shared_ptr<IORVZYNDashCustomCloudBase> TORVZYNDashCurlCloudBaseService::CreateCloudBase() {
  auto engine = std::make_shared<TORVZYNDashCurlCloudBase>();
  FCloudBases.push_back(engine);
  return engine;
}

void TORVZYNDashCurlCloudBaseService::DestroyCloudBase(const std::shared_ptr<IORVZYNDashCustomCloudBase>& AValue) {
  std::erase(FCloudBases, AValue);
}

void RegisterCurlCloudBaseService() {
  if (auto* services = TORVZYNDashCloudBasePlatformServices::Current())
    services->AddPlatformService(IORVZYNDashCloudBaseService::IID(),
                                 std::make_shared<TORVZYNDashCurlCloudBaseService>());
}

void UnregisterCurlCloudBaseService() {
  if (auto* services = TORVZYNDashCloudBasePlatformServices::Current())
    services->RemovePlatformService(IORVZYNDashCloudBaseService::IID());
}

}  // namespace orv
