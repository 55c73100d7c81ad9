#pragma once

#include "lib/web_browser.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <thread>

namespace httplib {
class Server;
}

namespace orv {

// A small web site on 127.0.0.1 for the engine tests: a page, a download,
// a download that breaks off half-way and one that trickles.
class LocalWebServer {
public:
  // Listens on the given port, or on a free one.
  explicit LocalWebServer(int APort = 0);
  ~LocalWebServer();
  LocalWebServer(const LocalWebServer&) = delete;
  LocalWebServer& operator=(const LocalWebServer&) = delete;

  // An address of this server under the given host name; "127.0.0.1" and
  // "localhost" are two different origins of the same server.
  QString Url(const QString& APath, const QString& AHost = QStringLiteral("127.0.0.1")) const;
  static constexpr int kDownloadSize = 300 * 1024;

private:
  std::unique_ptr<httplib::Server> FServer;
  int FPort = 0;
  std::thread FThread;
};

// Puts a browser component into a window and drives it: the real engine,
// without the dashboard.
class BrowserTestHost {
public:
  explicit BrowserTestHost(std::unique_ptr<TORVZYNDashCustomWebBrowser> ABrowser, const QString& ACacheFolder);
  ~BrowserTestHost();

  TORVZYNDashCustomWebBrowser& Browser() { return *FBrowser; }
  QWidget& Window() { return FWindow; }

  // Pumps the event loop until APredicate holds or the time is up.
  static bool WaitFor(const std::function<bool()>& APredicate, int ATimeoutMs = 30000);
  // Gives the window a parent and waits for OnInitialized.
  bool Start();
  // Runs a script and waits for its JSON result ("<no result>" if none came).
  QString Eval(const QString& AScript, int ATimeoutMs = 30000);
  // Navigates and waits until that navigation has completed.
  bool Load(const QString& AURL);

  int InitializedCount() const { return FInitializedCount; }
  int CompleteCount() const { return FCompleteCount; }
  const TORVZYNDashCustomWebBrowserNavigateCompleteParams& LastComplete() const { return FLastComplete; }

private:
  QWidget FWindow;
  std::unique_ptr<TORVZYNDashCustomWebBrowser> FBrowser;
  int FInitializedCount = 0;
  int FCompleteCount = 0;
  TORVZYNDashCustomWebBrowserNavigateCompleteParams FLastComplete;
};

}  // namespace orv
