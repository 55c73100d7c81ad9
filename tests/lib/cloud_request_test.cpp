// The HTTP request engine: the request record, and the component with the
// libcurl engine against real loopback servers.
#include "cloud_engine_fixture.h"
#include "support/qt_printers.h"
#include "support/raw_http_server.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <httplib.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace orv {
namespace {

using test::CloudEngineTest;
using test::RawHttpServer;
using test::TResult;

// ---- the request record ----------------------------------------------------

TEST(CloudRequest, SplitsItsAddressIntoURLServerPortAndObject) {
  struct Case {
    QString host;
    int port;
    QString path;
    QString query;
    QString url, server;
    int effectivePort;
    QString queryPath;
  };
  const Case cases[] = {
      {"https://api.example.com", 0, "/a/b", "x=1", "https://api.example.com/a/b?x=1", "api.example.com", 443,
       "/a/b?x=1"},
      {"http://127.0.0.1", 8080, "/p", "", "http://127.0.0.1:8080/p", "127.0.0.1", 8080, "/p"},
      {"http://h", 0, "/", "", "http://h/", "h", 80, "/"},
      {"HTTPS://H", 0, "/x", "a=b&c", "HTTPS://H/x?a=b&c", "H", 443, "/x?a=b&c"},
      {"h", 0, "/x", "", "h/x", "h", 80, "/x"},
  };
  for (const Case& c : cases) {
    TORVZYNDashCloudBaseRequest request;
    request.FHost = c.host;
    request.FPort = c.port;
    request.FPath = c.path;
    request.FQuery = c.query;
    EXPECT_EQ(request.GetURL(), c.url);
    EXPECT_EQ(request.GetServer(), c.server) << c.url.toStdString();
    EXPECT_EQ(request.GetPort(), c.effectivePort) << c.url.toStdString();
    EXPECT_EQ(request.GetQueryPath(), c.queryPath) << c.url.toStdString();
  }
}

TEST(CloudRequest, NamesTheVerbOfEveryMethod) {
  const std::pair<TORVZYNDashCloudBaseRequestMethod, const char*> cases[] = {
      {rmGET, "GET"},     {rmPOST, "POST"},        {rmPOSTMULTIPART, "POST"},      {rmPOSTMULTIPARTRELATED, "POST"},
      {rmPUT, "PUT"},     {rmPUTMULTIPART, "PUT"}, {rmPUTMULTIPARTRELATED, "PUT"}, {rmDELETE, "DELETE"},
      {rmPATCH, "PATCH"}, {rmUPDATE, "PUT"},
  };
  for (const auto& [method, verb] : cases) {
    TORVZYNDashCloudBaseRequest request;
    request.FMethod = method;
    EXPECT_EQ(request.GetMethodString(), QString::fromLatin1(verb)) << int(method);
  }
}

TEST(CloudRequest, WritesHeadersInOrderAndClearsToItsDefaultsButTheAgent) {
  TORVZYNDashCloudBaseRequest request;
  EXPECT_EQ(request.FAgent, "Mozilla/5.001 (windows; U; NT4.0; en-US; rv:1.0) Gecko/25250101");
  EXPECT_EQ(request.FReadTimeout, 60000);
  EXPECT_EQ(request.FConnectTimeout, 60000);
  EXPECT_EQ(request.FTimeout, 30000);
  EXPECT_EQ(request.FMaxAnswerBytes, 4 * 1024 * 1024);
  EXPECT_EQ(request.FResultFileSize, -1);

  request.AddHeader("B", "2");
  request.AddHeader("A", "1").FValue = "one";
  EXPECT_EQ(request.GenerateHeaders(), "B: 2\r\nA: one\r\n");

  request.FAgent = "agent";
  request.FHost = "http://h";
  request.FMethod = rmPATCH;
  request.FPostData = "x";
  request.FUploadStream = "bytes";
  request.FReadTimeout = 1;
  request.FTimeout = 2;
  request.FMaxAnswerBytes = 3;
  request.FConfidential = true;
  request.Clear();
  EXPECT_EQ(request.FAgent, "agent");
  EXPECT_TRUE(request.FHeaders.empty());
  EXPECT_TRUE(request.FHost.isEmpty());
  EXPECT_EQ(request.FMethod, rmGET);
  EXPECT_TRUE(request.FPostData.isEmpty());
  EXPECT_TRUE(request.FUploadStream.isEmpty());
  EXPECT_EQ(request.FReadTimeout, 60000);
  EXPECT_EQ(request.FTimeout, 30000);
  EXPECT_EQ(request.FMaxAnswerBytes, 4 * 1024 * 1024);
  EXPECT_FALSE(request.FConfidential);
}

// ---- the engine --------------------------------------------------------------

std::string hostHeader(const RawHttpServer& server) { return "Host: 127.0.0.1:" + std::to_string(server.Port()); }

TEST_F(CloudEngineTest, APostWithOnlyPostDataSendsExactlyItsBytes) {
  RawHttpServer server([](const std::string&) { return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "")); });
  Prepare(server.URL(), rmPOST, "/form");
  cloud_->Request().FPostData = QStringLiteral("a=1&b=\u00fc");
  ASSERT_EQ(Run(), std::nullopt);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], "POST /form HTTP/1.1\r\n" + hostHeader(server) +
                                      "\r\n"
                                      "User-Agent: Mozilla/5.001 (windows; U; NT4.0; en-US; rv:1.0) Gecko/25250101\r\n"
                                      "Content-Length: 8\r\n"
                                      "\r\n"
                                      "a=1&b=\xc3\xbc");
}

TEST_F(CloudEngineTest, SendsTheHeadersInTheirOrderEachEndingInCRLF) {
  RawHttpServer server([](const std::string&) { return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "")); });
  Prepare(server.URL(), rmGET, "/h");
  cloud_->Request().FQuery = "x=1";
  cloud_->Request().AddHeader("Zeta", "last in the alphabet");
  cloud_->Request().AddHeader("Alpha", "1");
  cloud_->Request().AddHeader("Content-Type", "text/plain");
  ASSERT_EQ(Run(), std::nullopt);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], "GET /h?x=1 HTTP/1.1\r\n" + hostHeader(server) +
                                      "\r\n"
                                      "User-Agent: Mozilla/5.001 (windows; U; NT4.0; en-US; rv:1.0) Gecko/25250101\r\n"
                                      "Zeta: last in the alphabet\r\n"
                                      "Alpha: 1\r\n"
                                      "Content-Type: text/plain\r\n"
                                      "\r\n");
}

TEST_F(CloudEngineTest, DeliversStatusHeadersAndBodyOfSuccessAndFailure) {
  struct Case {
    std::string response;
    int status;
    bool success;
    QString body;
    QString contentType;
  };
  const Case cases[] = {
      {RawHttpServer::Response(200, "OK",
                               "Gr\xc3\xbc\xc3\x9f"
                               "e",
                               "Content-Type: text/plain\r\n"),
       200, true, QStringLiteral("Gr\u00fc\u00dfe"), "text/plain"},
      {"HTTP/1.1 204 No Content\r\n\r\n", 204, true, "", ""},
      {RawHttpServer::Response(401, "Unauthorized", R"({"error":"invalid_client"})",
                               "Content-Type : application/json \r\nX-Other: a: b\r\n"),
       401, false, R"({"error":"invalid_client"})", "application/json"},
      {RawHttpServer::Response(500, "Internal Server Error", "broken"), 500, false, "broken", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.response);
    RawHttpServer server([&](const std::string&) { return RawHttpServer::Reply(c.response); });
    Prepare(server.URL(), rmGET);
    cloud_->Request().FResultType = rrtStream;  // only a success goes to the stream
    TResult* result = nullptr;
    trace_ = {};
    ASSERT_EQ(Run(&result), std::nullopt);
    EXPECT_EQ(trace_.callbacks, 1);
    EXPECT_EQ(result->FResponseCode, c.status);
    EXPECT_EQ(result->FSuccess, c.success);
    EXPECT_TRUE(result->FDone);
    EXPECT_EQ(c.success ? QString::fromUtf8(result->FResultStream) : result->FResultString, c.body);
    EXPECT_EQ(result->GetResponseHeader("CONTENT-TYPE"), c.contentType);
    if (c.status == 401) {
      EXPECT_EQ(result->GetResponseHeader("x-other"), "a: b");
    }
  }
}

TEST_F(CloudEngineTest, CompletesInOrderBeforeExecuteRequestReturns) {
  RawHttpServer server(
      [](const std::string&) { return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "body")); });
  Prepare(server.URL(), rmGET);
  TResult* result = nullptr;
  ASSERT_EQ(Run(&result), std::nullopt);
  const QString url = QString::fromStdString(server.URL()) + "/p";
  EXPECT_EQ(trace_.events, QStringList({"started", "Executing request [N] with url: [" + url + "]",
                                        "Response code from request [N] is 200", "Result from request [N] is body",
                                        "complete 200", "callback 200"}));
  EXPECT_EQ(cloud_->RequestResult(), result);
  EXPECT_EQ(result->FMessage, "Result from request [N] is body");
  EXPECT_EQ(cloud_->GetRequestCount(), 1) << "a synchronous result stays with the component";
}

// A thousand requests must not keep a thousand answers; what a callback
// is reading stays while the callback makes a request of its own.
TEST_F(CloudEngineTest, KeepsOnlyTheLastSynchronousResults) {
  RawHttpServer server(
      [](const std::string&) { return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "body")); });
  Prepare(server.URL(), rmGET);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Run(), std::nullopt);
  EXPECT_EQ(cloud_->GetRequestCount(), 1);

  TResult* inner = nullptr;
  TResult* outer = cloud_->ExecuteRequest(
      [&](TResult& r) {
        inner = cloud_->ExecuteRequest(nullptr, nullptr, false);
        EXPECT_EQ(r.FResultString, "body") << "the outer result is still there";
      },
      nullptr, false);
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(outer->FResultString, "body");
  EXPECT_EQ(inner->FResultString, "body");
  EXPECT_EQ(cloud_->GetRequestCount(), 2);
  EXPECT_EQ(Run(), std::nullopt);
  EXPECT_EQ(cloud_->GetRequestCount(), 1);
}

TEST_F(CloudEngineTest, AnUnreachableHostGivesStatusZeroAndAGetCannotBeOpened) {
  RawHttpServer refusing([](const std::string&) { return RawHttpServer::HangUp(); });
  const std::string refused = refusing.URL();
  refusing.Stop();  // nobody listens on its port any more
  struct Case {
    std::string host;
    TORVZYNDashCloudBaseRequestMethod method;
    bool raises;
  };
  const Case cases[] = {
      {refused, rmGET, true},
      {refused, rmPOST, false},
      {"http://nonexistent.invalid", rmGET, true},
      {"http://nonexistent.invalid", rmPUT, false},
      {"ftp://127.0.0.1", rmPOST, true},  // not a scheme of the engine
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host + " " + std::to_string(c.method));
    Prepare(c.host, c.method);
    trace_ = {};
    TResult* result = nullptr;
    const auto error = Run(&result);
    const QString url = QString::fromStdString(c.host) + "/p";
    EXPECT_EQ(error, c.raises ? std::optional(QStringLiteral("Cannot open URL ") + url) : std::nullopt);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->FResponseCode, 0);
    EXPECT_TRUE(result->FResultString.isEmpty());
    EXPECT_EQ(trace_.callbacks, 1) << "the callback runs before the error is raised";
    EXPECT_EQ(trace_.events.back(), "callback 0");
    EXPECT_EQ(trace_.events[trace_.events.size() - 2], "complete 0");
  }
}

TEST_F(CloudEngineTest, TimesOutWhenNothingArrives) {
  struct Case {
    std::string stall;  // what the server sends before it stops answering
    TORVZYNDashCloudBaseRequestMethod method;
    int status;
    bool raises;
    QString body;
  };
  const Case cases[] = {
      {"", rmGET, 0, true, ""},
      {"", rmPOST, 0, false, ""},
      // A cut-off answer is a failure, whatever its status.
      {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart", rmGET, 200, false, "part"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stall);
    RawHttpServer server([&](const std::string&) { return RawHttpServer::Stall(c.stall); });
    Prepare(server.URL(), c.method);
    cloud_->Request().FReadTimeout = 1000;
    TResult* result = nullptr;
    const auto error = Run(&result);
    EXPECT_EQ(error.has_value(), c.raises);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->FResponseCode, c.status);
    EXPECT_FALSE(result->FSuccess);
    EXPECT_FALSE(result->FFailure.isEmpty());
    EXPECT_EQ(result->FResultString, c.body);
  }
}

// Bytes that keep coming, but too slowly to finish: the receive time-out
// never fires, the request's deadline does (before the status line is
// whole, so the address counts as one that cannot be opened).
TEST_F(CloudEngineTest, TheDeadlineEndsAnAnswerThatTrickles) {
  RawHttpServer server([](const std::string&) {
    return RawHttpServer::Trickle(RawHttpServer::Response(200, "OK", std::string(100, 't')));
  });
  Prepare(server.URL(), rmGET);
  cloud_->Request().FTimeout = 1500;
  TResult* result = nullptr;
  EXPECT_EQ(Run(&result), "Cannot open URL " + QString::fromStdString(server.URL()) + "/p");
  ASSERT_NE(result, nullptr);
  EXPECT_FALSE(result->FSuccess);
  EXPECT_TRUE(result->FFailure.contains("timed out")) << result->FFailure.toStdString();
  EXPECT_EQ(trace_.callbacks, 1);
}

// The connection drops before the announced end: the answer is a failure
// with its partial text, never a success (nor a file that passes for whole).
TEST_F(CloudEngineTest, AnAnswerCutOffIsAFailure) {
  QTemporaryDir folder;
  struct Case {
    std::string answer;
    TORVZYNDashCloudBaseRequestResultType type;
  };
  const std::string shortLength = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"value\": []}";
  const std::string openChunks = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nd\r\n{\"value\": []}\r\n";
  const Case cases[] = {
      {shortLength, rrtString}, {shortLength, rrtStream}, {shortLength, rrtFile},
      {openChunks, rrtString},  {openChunks, rrtStream},  {openChunks, rrtFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer + " " + std::to_string(c.type));
    RawHttpServer server([&](const std::string&) { return RawHttpServer::HangUp(c.answer); });
    Prepare(server.URL(), rmGET);
    cloud_->Request().FResultType = c.type;
    cloud_->Request().FResultFile = folder.filePath("answer.json");
    trace_ = {};
    TResult* result = nullptr;
    EXPECT_EQ(Run(&result), std::nullopt);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->FResponseCode, 200);
    EXPECT_FALSE(result->FSuccess);
    EXPECT_FALSE(result->FFailure.isEmpty());
    EXPECT_TRUE(result->FResultStream.isEmpty());
    EXPECT_EQ(result->FResultString, c.type == rrtFile ? "" : "{\"value\": []}");
    EXPECT_FALSE(QFile::exists(folder.filePath("answer.json")));
    EXPECT_EQ(trace_.callbacks, 1);
  }
}

// An answer held in memory ends at the cap, announced or not; one written
// to a file has none.
TEST_F(CloudEngineTest, CapsAnAnswerHeldInMemory) {
  QTemporaryDir folder;
  const std::string large(5 * 1024 * 1024, 'f');
  struct Case {
    RawHttpServer::Answer answer;
    TORVZYNDashCloudBaseRequestResultType type;
    std::int64_t cap;
    bool fits;
  };
  const Case cases[] = {
      {RawHttpServer::Endless("HTTP/1.1 200 OK\r\n\r\n"), rrtString, 4 * 1024 * 1024, false},
      {RawHttpServer::Endless("HTTP/1.1 500 Oops\r\n\r\n"), rrtFile, 4 * 1024 * 1024, false},
      {RawHttpServer::Endless("HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\n"), rrtStream, 4 * 1024 * 1024,
       false},
      {RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "0123456789")), rrtStream, 10, true},
      {RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "0123456789!")), rrtStream, 10, false},
      {RawHttpServer::Reply(RawHttpServer::Response(200, "OK", large)), rrtFile, 4 * 1024 * 1024, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer.bytes.substr(0, 40) + " " + std::to_string(c.type));
    RawHttpServer server([&](const std::string&) { return c.answer; });
    Prepare(server.URL(), rmGET);
    cloud_->Request().FResultType = c.type;
    cloud_->Request().FResultFile = folder.filePath("answer.bin");
    cloud_->Request().FMaxAnswerBytes = c.cap;
    TResult* result = nullptr;
    const auto error = Run(&result);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->FSuccess, c.fits);
    if (c.fits) {
      EXPECT_EQ(error, std::nullopt);
      continue;
    }
    EXPECT_EQ(error, QStringLiteral("The answer of request [N] is larger than %1 bytes").arg(c.cap));
    EXPECT_EQ(result->FFailure, error);
    EXPECT_TRUE(result->FResultString.isEmpty());
    EXPECT_TRUE(result->FResultStream.isEmpty());
  }
}

QStringList capturedApiLog;

// Collects the warnings of the orv.api category while it exists.
class ApiLogCapture {
public:
  ApiLogCapture()
      : previous_(qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
          if (type == QtWarningMsg && QLatin1String(context.category) == QLatin1String("orv.api"))
            capturedApiLog << text;
        })) {
    capturedApiLog.clear();
  }
  ~ApiLogCapture() { qInstallMessageHandler(previous_); }

private:
  QtMessageHandler previous_;
};

// One line for each failed request in the program's log, naming it and
// why, never what it sent or got (a token, a code).
TEST_F(CloudEngineTest, LogsOneLineForEachFailedRequestWithoutItsContent) {
  RawHttpServer server([](const std::string& request) {
    if (request.find("/ok") != std::string::npos)
      return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "fine"));
    if (request.find("/cut") != std::string::npos)
      return RawHttpServer::HangUp("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nSECRET-BODY");
    return RawHttpServer::Reply(RawHttpServer::Response(401, "Unauthorized", "SECRET-BODY"));
  });
  ApiLogCapture capture;
  for (const QString path : {"/ok", "/refused", "/cut"}) {
    Prepare(server.URL(), rmPOST, path);
    cloud_->Request().FName = path.mid(1);
    cloud_->Request().FPostData = "client_secret=SECRET-CODE";
    cloud_->Request().AddHeader("Authorization", "Bearer SECRET-TOKEN");
    Run();
  }
  Prepare("http://127.0.0.1:1", rmGET);
  cloud_->Request().FName = "unreachable";
  Run();
  ASSERT_EQ(capturedApiLog.size(), 3) << capturedApiLog.join("\n").toStdString();
  const QString host = QString::fromStdString(server.URL()).mid(int(std::strlen("http://")));
  EXPECT_EQ(capturedApiLog[0], "Request [refused] to " + host + " failed: status 401");
  EXPECT_TRUE(capturedApiLog[1].startsWith("Request [cut] to " + host + " failed: "))
      << capturedApiLog[1].toStdString();
  EXPECT_TRUE(capturedApiLog[1].endsWith(" (status 200)")) << capturedApiLog[1].toStdString();
  EXPECT_TRUE(capturedApiLog[2].startsWith("Request [unreachable] to 127.0.0.1:1 failed: "));
  for (const QString& line : capturedApiLog) EXPECT_FALSE(line.contains("SECRET")) << line.toStdString();
}

TEST_F(CloudEngineTest, PutsASuccessfulBodyWhereTheResultTypeSays) {
  QTemporaryDir folder;
  const QString file = folder.filePath("answer.bin");
  const std::string body(10000, 'x');
  RawHttpServer server([&](const std::string& request) {
    return RawHttpServer::Reply(request.find("/missing") != std::string::npos
                                    ? RawHttpServer::Response(404, "Not Found", "gone")
                                    : RawHttpServer::Response(200, "OK", body));
  });
  std::vector<float> progress;
  auto onProgress = [&](TResult&, float percent) { progress.push_back(percent); };

  Prepare(server.URL(), rmGET, "/file");
  cloud_->Request().FResultType = rrtFile;
  cloud_->Request().FResultFile = file;
  TResult* result = cloud_->ExecuteRequest(Callback(), onProgress, false);
  EXPECT_TRUE(result->FResultString.isEmpty());
  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll().toStdString(), body);
  EXPECT_EQ(result->FTotalBytes, 10000);
  ASSERT_FALSE(progress.empty());
  EXPECT_FLOAT_EQ(progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(trace_.events.filter("Result from").last(),
            "Result from request [N] is a file with location [" + file + "]");

  Prepare(server.URL(), rmGET, "/missing");
  cloud_->Request().FResultType = rrtFile;
  cloud_->Request().FResultFile = folder.filePath("never.bin");
  result = cloud_->ExecuteRequest(Callback(), nullptr, false);
  EXPECT_EQ(result->FResultString, "gone");
  EXPECT_FALSE(QFile::exists(folder.filePath("never.bin")));

  Prepare(server.URL(), rmGET, "/stream");
  cloud_->Request().FResultType = rrtStream;
  result = cloud_->ExecuteRequest(Callback(), nullptr, false);
  EXPECT_EQ(result->FResultStream.toStdString(), body);
  EXPECT_EQ(trace_.events.filter("Result from").last(), "Result from request [N] is a stream with size 10000");
}

TEST_F(CloudEngineTest, FilesThatCannotBeUsedFailTheRequestAfterItsCallback) {
  QTemporaryDir folder;
  RawHttpServer server(
      [](const std::string&) { return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "b")); });

  Prepare(server.URL(), rmGET);
  cloud_->Request().FResultType = rrtFile;
  cloud_->Request().FResultFile = folder.filePath("no/such/folder/answer.bin");
  TResult* result = nullptr;
  const auto createError = Run(&result);
  ASSERT_TRUE(createError.has_value());
  EXPECT_TRUE(createError->startsWith("Cannot create file \"" + folder.filePath("no/such/folder/answer.bin") + "\"."));
  EXPECT_EQ(result->FResponseCode, 200);
  EXPECT_EQ(trace_.callbacks, 1);

  Prepare(server.URL(), rmPOST);
  cloud_->Request().FUploadFile = folder.filePath("missing.bin");
  const auto openError = Run(&result);
  ASSERT_TRUE(openError.has_value());
  EXPECT_TRUE(openError->startsWith("Cannot open file \"" + folder.filePath("missing.bin") + "\"."));
  EXPECT_EQ(result->FResponseCode, 0);
  EXPECT_EQ(trace_.callbacks, 2);
  EXPECT_EQ(server.Requests().size(), 1u) << "nothing is sent without its upload";
}

TEST_F(CloudEngineTest, FramesMultipartAndUploadBodies) {
  QTemporaryDir folder;
  const QString uploadFile = folder.filePath("upload.bin");
  {
    QFile file(uploadFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(70000, 'f'));
  }
  struct Case {
    TORVZYNDashCloudBaseRequestMethod method;
    QByteArray uploadStream;
    bool uploadFile;
    bool customHeaders;
    std::string head;  // request line and content headers
    std::string body;
  };
  const Case cases[] = {
      {rmPOSTMULTIPART,
       {},
       false,
       false,
       "POST /p HTTP/1.1|Content-Type: multipart/form-data; boundary=AaB03x|Content-Length: 25",
       "--AaB03x\r\nx\r\n--AaB03x--\r\n"},
      {rmPUTMULTIPARTRELATED,
       {},
       false,
       false,
       "PUT /p HTTP/1.1|Content-Type: multipart/related; boundary=AaB03x|Content-Length: 17",
       "\r\nx\r\n--AaB03x--\r\n"},
      {rmPUT, "bin", false, false,
       "PUT /p HTTP/1.1|Content-Type: application/octet-stream|Content-Transfer-Encoding: binary|Content-Length: 4",
       "xbin"},
      {rmPATCH, "bin", false, true, "PATCH /p HTTP/1.1|Content-Length: 4", "xbin"},
      {rmDELETE, {}, false, false, "DELETE /p HTTP/1.1|Content-Length: 1", "x"},
      {rmUPDATE,
       {},
       true,
       false,
       "PUT /p HTTP/1.1|Content-Type: application/octet-stream|Content-Transfer-Encoding: binary|Content-Length: 70001",
       "x" + std::string(70000, 'f')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head);
    RawHttpServer server(
        [](const std::string&) { return RawHttpServer::Reply(RawHttpServer::Response(201, "Created", "")); });
    Prepare(server.URL(), c.method);
    cloud_->Request().FPostData = "x";
    cloud_->Request().FUploadStream = c.uploadStream;
    cloud_->Request().FCustomHeaders = c.customHeaders;
    if (c.uploadFile) cloud_->Request().FUploadFile = uploadFile;
    std::vector<float> uploaded;
    cloud_->OnRequestProgress = [&](auto&, TResult&, float percent, bool upload) {
      if (upload) uploaded.push_back(percent);
    };
    TResult* result = cloud_->ExecuteRequest(Callback(), nullptr, false);
    EXPECT_TRUE(result->FSuccess);
    ASSERT_EQ(server.Requests().size(), 1u);
    const std::string request = server.Requests()[0];
    const auto end = request.find("\r\n\r\n");
    std::string head;
    for (std::size_t from = 0; from < end;) {
      const auto to = std::min(request.find("\r\n", from), end);
      const std::string line = request.substr(from, to - from);
      if (line.rfind("Host:", 0) != 0 && line.rfind("User-Agent:", 0) != 0) head += (head.empty() ? "" : "|") + line;
      from = to + 2;
    }
    EXPECT_EQ(head, c.head);
    EXPECT_EQ(request.substr(end + 4), c.body);
    if (c.uploadFile) {
      ASSERT_GE(uploaded.size(), 2u) << "the file goes in pieces";
      EXPECT_FLOAT_EQ(uploaded.back(), 100);
    } else {
      EXPECT_TRUE(uploaded.empty());
    }
  }
}

TEST_F(CloudEngineTest, GoesThroughTheProxyOfTheEnvironment) {
  RawHttpServer proxy(
      [](const std::string&) { return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "proxied")); });
  qputenv("http_proxy", QByteArray::fromStdString(proxy.URL()));
  Prepare("http://orv-api.invalid", rmGET, "/through");
  TResult* result = nullptr;
  const auto error = Run(&result);
  qunsetenv("http_proxy");
  EXPECT_EQ(error, std::nullopt);
  EXPECT_EQ(result->FResultString, "proxied");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0].substr(0, proxy.Requests()[0].find("\r\n")),
            "GET http://orv-api.invalid/through HTTP/1.1");
}

// Loopback addresses are asked directly, whatever proxy the environment
// names, beside the hosts its own list exempts (other hosts still go
// through the proxy: GoesThroughTheProxyOfTheEnvironment).
TEST_F(CloudEngineTest, LoopbackNeverGoesThroughAProxy) {
  RawHttpServer proxy(
      [](const std::string&) { return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "proxied")); });
  RawHttpServer direct(
      [](const std::string&) { return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "direct")); });
  qputenv("http_proxy", QByteArray::fromStdString(proxy.URL()));
  qputenv("no_proxy", "orv-api.invalid.example");
  const std::string port = direct.URL().substr(direct.URL().rfind(':'));
  for (const std::string host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    Prepare("http://" + host + port, rmGET);
    TResult* result = nullptr;
    EXPECT_EQ(Run(&result), std::nullopt);
    EXPECT_EQ(result->FResultString, "direct");
  }
  qunsetenv("http_proxy");
  qunsetenv("no_proxy");
  EXPECT_TRUE(proxy.Requests().empty());
}

// A header with a line break would add headers of whoever chose its text
// (a token from an answer), or end the request and start another: it is
// refused before anything is sent.
TEST_F(CloudEngineTest, RefusesHeadersThatWouldSplitTheRequest) {
  RawHttpServer server(
      [](const std::string&) { return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "b")); });
  const std::pair<QString, QString> headers[] = {
      {"Authorization", "Bearer abc\r\nX-Injected: 1"},
      {"Authorization", "Bearer abc\r\n\r\nGET /x HTTP/1.1"},
      {"Authorization", "Bearer abc\nX-Injected: 1"},
      {"X-Null", QString("a") + QChar(0) + "b"},
      {"Bad Name", "v"},
      {"Bad:Name", "v"},
  };
  for (const auto& [name, value] : headers) {
    SCOPED_TRACE(name.toStdString() + "=" + value.toStdString());
    Prepare(server.URL(), rmGET);
    cloud_->Request().AddHeader(name, value);
    const auto error = Run();
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains("line break")) << error->toStdString();
  }
  EXPECT_TRUE(server.Requests().empty());
  Prepare(server.URL(), rmGET);
  cloud_->Request().AddHeader("X-Tab", "a\tb");
  EXPECT_EQ(Run(), std::nullopt);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_NE(server.Requests()[0].find("X-Tab: a\tb\r\n"), std::string::npos);
}

TEST_F(CloudEngineTest, RefusesACertificateItCannotVerify) {
  httplib::SSLServer server(ORV_TEST_TLS_DIR "/self_signed.crt", ORV_TEST_TLS_DIR "/self_signed.key");
  ASSERT_TRUE(server.is_valid());
  int requests = 0;
  server.Get("/p", [&](const httplib::Request&, httplib::Response& res) {
    ++requests;
    res.set_content("secret", "text/plain");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { server.listen_after_bind(); });
  // stop() ends only a server that has begun to listen.
  while (!server.is_running()) std::this_thread::yield();

  Prepare("https://127.0.0.1:" + std::to_string(port), rmGET);
  TResult* result = nullptr;
  const auto error = Run(&result);
  server.stop();
  serving.join();
  EXPECT_TRUE(error.has_value());
  EXPECT_EQ(result->FResponseCode, 0);
  EXPECT_EQ(requests, 0);
  EXPECT_TRUE(trace_.events.filter("failed").join("").contains("certificate"))
      << trace_.events.join("\n").toStdString();
}

TEST_F(CloudEngineTest, WithoutAnEngineEveryRequestFailsAfterItsCallback) {
  UnregisterCurlCloudBaseService();
  cloud_ = MakeCloud(ui_);
  Prepare("http://127.0.0.1:1", rmPOST);
  EXPECT_EQ(Run(), QStringLiteral("Unable to initialize the HTTP engine: none is registered"));
  EXPECT_EQ(trace_.callbacks, 1);
}

TEST_F(CloudEngineTest, HandsItsEngineBackToTheService) {
  const auto service =
      TORVZYNDashCloudBasePlatformServices::Current()->GetPlatformService<TORVZYNDashCurlCloudBaseService>(
          IORVZYNDashCloudBaseService::IID());
  ASSERT_TRUE(service);
  EXPECT_EQ(service->CloudBaseCount(), 1);
  auto second = MakeCloud(ui_);
  EXPECT_EQ(service->CloudBaseCount(), 2);
  second.reset();
  cloud_.reset();
  EXPECT_EQ(service->CloudBaseCount(), 0);
}

TEST_F(CloudEngineTest, WritesTheLogFileOnlyWhenLoggingIsOnWithoutAHandler) {
  QTemporaryDir folder;
  const QString file = folder.filePath("cloud.log");
  RawHttpServer server(
      [](const std::string&) { return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "b")); });
  cloud_->OnRequestLog = nullptr;
  cloud_->SetLogFileName(file);
  Prepare(server.URL(), rmGET);
  Run();
  EXPECT_FALSE(QFile::exists(file)) << "logging is off by default";

  cloud_->SetLogging(true);
  Run();
  QFile log(file);
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].endsWith(": Executing request [N] with url: [" + QString::fromStdString(server.URL()) + "/p]"));
  EXPECT_TRUE(lines[2].endsWith(": Result from request [N] is b"));
}

// ---- asynchronous requests ---------------------------------------------------

// The test's thread as the UI thread: tasks posted from any thread wait in
// a queue until the test pumps it.
class QueuedUiThread final : public UiThread {
public:
  void post(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
    posted_.notify_all();
  }
  void invokeAndWait(const std::function<void()>& task) override { task(); }
  void processPendingEvents() override {}
  bool isCurrent() const override { return std::this_thread::get_id() == owner_; }

  // Runs posted tasks until done() holds; false after ten seconds.
  bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex_);
        if (!posted_.wait_until(lock, deadline, [&] { return !queue_.empty(); })) return false;
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      task();
    }
    return true;
  }

private:
  const std::thread::id owner_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> queue_;
};

class CloudAsyncTest : public CloudEngineTest {
protected:
  void SetUp() override {
    CloudEngineTest::SetUp();
    cloud_ = MakeCloud(ui_);
  }
  QueuedUiThread ui_;
};

TEST_F(CloudAsyncTest, TransfersOnAWorkerAndCallsBackOnTheUiThread) {
  RawHttpServer server(
      [](const std::string&) { return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "async")); });
  Prepare(server.URL(), rmGET);
  std::vector<float> progress;
  QString body;
  auto callback = Callback();
  cloud_->ExecuteRequest(
      [&](TResult& r) {
        body = r.FResultString;
        callback(r);
      },
      [&](TResult&, float percent) { progress.push_back(percent); });
  EXPECT_EQ(trace_.callbacks, 0) << "nothing is delivered before the UI thread runs its queue";
  ASSERT_TRUE(ui_.PumpUntil([&] { return trace_.events.contains("all complete"); }));
  EXPECT_EQ(body, "async");
  EXPECT_EQ(trace_.callbackThread, std::this_thread::get_id());
  EXPECT_EQ(progress, std::vector<float>{100});
  EXPECT_EQ(trace_.events.mid(trace_.events.indexOf("complete 200")),
            QStringList({"complete 200", "callback 200", "all complete"}));
  EXPECT_EQ(cloud_->GetRequestCount(), 0) << "an asynchronous result goes once it is delivered";
  EXPECT_EQ(cloud_->RequestResult(), nullptr);
}

TEST_F(CloudAsyncTest, CancelStopsTheTransferBetweenChunks) {
  RawHttpServer server([](const std::string&) {
    return RawHttpServer::Stall("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" + std::string(5000, 'c'));
  });
  Prepare(server.URL(), rmGET);
  TResult* result = cloud_->ExecuteRequest(Callback(), [](TResult& r, float) { r.Cancel(); });
  ASSERT_TRUE(ui_.PumpUntil([&] { return trace_.events.contains("cancelled"); }));
  EXPECT_EQ(trace_.callbacks, 0) << "a cancelled request does not call back";
  EXPECT_TRUE(ui_.PumpUntil([&] { return cloud_->GetRequestCount() == 0; }));
  (void)result;
}

TEST_F(CloudAsyncTest, ACancelBeforeTheStartSendsNothing) {
  RawHttpServer server([](const std::string&) { return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "")); });
  Prepare(server.URL(), rmGET);
  cloud_->AddRequest(Callback())->Cancel();
  Prepare(server.URL(), rmGET, "/second");
  cloud_->AddRequest(Callback());
  cloud_->ExecuteAllRequests();
  ASSERT_TRUE(ui_.PumpUntil([&] { return trace_.callbacks == 1; }));
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].substr(0, 12), "GET /second ");
}

TEST_F(CloudAsyncTest, DestroyingTheComponentEndsItsTransfers) {
  RawHttpServer server([](const std::string&) { return RawHttpServer::Stall(); });
  Prepare(server.URL(), rmGET);
  cloud_->ExecuteRequest(Callback());
  ASSERT_TRUE(server.WaitForRequests(1));
  cloud_.reset();  // returns once the worker has noticed
  ASSERT_TRUE(ui_.PumpUntil([] { return true; }));
  EXPECT_EQ(trace_.callbacks, 0);
}

}  // namespace
}  // namespace orv
