#include "support/browser_test_host.h"

#include <httplib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>

namespace orv {

namespace {

const char kPage[] = R"(<!DOCTYPE html><html><head><meta charset="utf-8"><title>page</title></head>
<body><a id="blank" href="/other" target="_blank">open</a></body></html>)";

}  // namespace

LocalWebServer::LocalWebServer(int APort) : FServer(std::make_unique<httplib::Server>()) {
  FServer->Get("/page", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kPage, "text/html; charset=utf-8");
  });
  FServer->Get("/other", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("<!DOCTYPE html><p>other</p>", "text/html");
  });
  // A frame that looks for host objects of its own and of its parent, and
  // tells the parent what it found.
  FServer->Get("/frame", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"(<!DOCTYPE html><script>
const own = !!(window.chrome && window.chrome.webview && window.chrome.webview.hostObjects);
let parentBridge;
try { parentBridge = String(parent.chrome.webview.hostObjects.sync.DashboardBridge.ObjectMessage); }
catch (e) { parentBridge = e.name; }
parent.postMessage(JSON.stringify({own, parentBridge}), '*');
</script>)",
                    "text/html");
  });
  FServer->Get("/file.bin", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Content-Disposition", "attachment; filename=\"file.bin\"");
    res.set_content(std::string(kDownloadSize, 'd'), "application/octet-stream");
  });
  // Announces more than it sends, then drops the connection.
  FServer->Get("/broken.bin", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Content-Disposition", "attachment; filename=\"broken.bin\"");
    res.set_content_provider(kDownloadSize, "application/octet-stream",
                             [](size_t offset, size_t, httplib::DataSink& sink) {
                               if (offset >= 64 * 1024) return false;
                               const std::string chunk(16 * 1024, 'b');
                               sink.write(chunk.data(), chunk.size());
                               return true;
                             });
  });
  // Trickles for as long as the client stays, far below what it announces.
  FServer->Get("/slow.bin", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Content-Disposition", "attachment; filename=\"slow.bin\"");
    res.set_content_provider(kDownloadSize * 1000, "application/octet-stream",
                             [](size_t, size_t, httplib::DataSink& sink) {
                               std::this_thread::sleep_for(std::chrono::milliseconds(20));
                               const std::string chunk(4 * 1024, 's');
                               return sink.write(chunk.data(), chunk.size());
                             });
  });
  // One request per connection: the engine keeps idle connections open,
  // and stopping waits for them.
  FServer->set_keep_alive_max_count(1);
  if (APort == 0) {
    FPort = FServer->bind_to_any_port("127.0.0.1");
  } else if (FServer->bind_to_port("127.0.0.1", APort)) {
    FPort = APort;
  }
  // Bound already: connections wait in the backlog until the loop runs.
  FThread = std::thread([this] { FServer->listen_after_bind(); });
}

LocalWebServer::~LocalWebServer() {
  FServer->stop();
  FThread.join();
}

QString LocalWebServer::Url(const QString& APath, const QString& AHost) const {
  return QStringLiteral("http://%1:%2%3").arg(AHost).arg(FPort).arg(APath);
}

BrowserTestHost::BrowserTestHost(std::unique_ptr<TORVZYNDashCustomWebBrowser> ABrowser, const QString& ACacheFolder)
    : FBrowser(std::move(ABrowser)) {
  FWindow.resize(800, 600);
  FBrowser->SetCacheFolder(ACacheFolder);
  FBrowser->SetControlAlignment(caClient);
  FBrowser->OnInitialized = [this](TORVZYNDashCustomWebBrowser&) { ++FInitializedCount; };
  FBrowser->OnNavigateComplete = [this](TORVZYNDashCustomWebBrowser&, auto& params) {
    FLastComplete = params;
    ++FCompleteCount;
  };
}

BrowserTestHost::~BrowserTestHost() { FBrowser.reset(); }

bool BrowserTestHost::WaitFor(const std::function<bool()>& APredicate, int ATimeoutMs) {
  QElapsedTimer timer;
  timer.start();
  // Sleeps in the event loop, not beside it: a page waiting for a native
  // answer must not wait for our polling as well.
  QTimer tick;
  tick.start(10);
  while (!APredicate()) {
    if (timer.elapsed() > ATimeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

bool BrowserTestHost::Start() {
  const int before = FInitializedCount;
  FWindow.show();
  FBrowser->SetParent(&FWindow);
  return WaitFor([&] { return FInitializedCount > before; }, 60000);
}

QString BrowserTestHost::Eval(const QString& AScript, int ATimeoutMs) {
  auto result = std::make_shared<QString>(QStringLiteral("<no result>"));
  auto done = std::make_shared<bool>(false);
  FBrowser->ExecuteJavaScript(
      AScript,
      [result, done](const QString& value) {
        *result = value;
        *done = true;
      },
      true);
  WaitFor([&] { return *done; }, ATimeoutMs);
  return *result;
}

bool BrowserTestHost::Load(const QString& AURL) {
  const int before = FCompleteCount;
  FBrowser->Navigate(AURL);
  return WaitFor([&] { return FCompleteCount > before && FLastComplete.URL == AURL; }) && FLastComplete.Success;
}

}  // namespace orv
