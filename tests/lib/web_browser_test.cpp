#include "lib/web_browser.h"
#include "lib/web_browser_error_page.h"
#include "lib/web_browser_origin.h"
#include "support/fake_web_browser.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMap>
#include <QTimer>

namespace orv {
namespace {

class HostObject : public IHostObject {
public:
  QStringList propertyNames() const override { return {QStringLiteral("ObjectMessage")}; }
  QString getProperty(const QString&) override { return {}; }
  void setProperty(const QString&, const QString&) override {}
};

class WebBrowserTest : public ::testing::Test {
protected:
  void SetUp() override {
    service = std::make_shared<FakeService>();
    TORVZYNDashWebBrowserPlatformServices::Current()->AddPlatformService(IORVZYNDashWebBrowserService::IID(), service);
    browser = std::make_unique<TORVZYNDashWebBrowser>();
    backend = service->last.get();
    browser->OnInitialized = [this](TORVZYNDashCustomWebBrowser&) { ++initializedEvents; };
  }
  void TearDown() override {
    browser.reset();
    TORVZYNDashWebBrowserPlatformServices::Current()->RemovePlatformService(IORVZYNDashWebBrowserService::IID());
  }
  void StartEngine() {
    browser->Initialize();
    browser->DoEngineInitialized();
  }

  std::shared_ptr<FakeService> service;
  std::unique_ptr<TORVZYNDashWebBrowser> browser;
  FakeBackend* backend = nullptr;
  int initializedEvents = 0;
};

TEST_F(WebBrowserTest, QueuedScriptsRunOneAtATimeInCallOrder) {
  StartEngine();
  QStringList results;
  auto record = [&](const QString& tag) { return [&, tag](const QString& r) { results << tag + r; }; };
  browser->ExecuteJavaScript(QStringLiteral("one"), record(QStringLiteral("1:")));
  browser->ExecuteJavaScript(QStringLiteral("two"), record(QStringLiteral("2:")));
  browser->ExecuteJavaScript(QStringLiteral("three"));

  ASSERT_EQ(backend->scripts.size(), 1u);  // the others wait for their turn
  EXPECT_EQ(backend->scripts[0].text, QStringLiteral("one"));
  backend->Complete(QStringLiteral("\"a\""));
  ASSERT_EQ(backend->scripts.size(), 1u);
  EXPECT_EQ(backend->scripts[0].text, QStringLiteral("two"));
  backend->Complete(QStringLiteral("null"));
  ASSERT_EQ(backend->scripts.size(), 1u);
  EXPECT_EQ(backend->scripts[0].text, QStringLiteral("three"));
  backend->Complete(QStringLiteral("3"));
  EXPECT_TRUE(backend->scripts.empty());
  EXPECT_EQ(results, (QStringList{QStringLiteral("1:\"a\""), QStringLiteral("2:null")}));

  // The queue is free again: the next script starts at once.
  browser->ExecuteJavaScript(QStringLiteral("four"));
  EXPECT_EQ(backend->scripts.size(), 1u);
}

TEST_F(WebBrowserTest, ScriptsBeforeTheEngineIsReadyAreDropped) {
  bool called = false;
  browser->ExecuteJavaScript(QStringLiteral("early"), [&](const QString&) { called = true; });
  browser->ExecuteJavaScript(QStringLiteral("immediate early"), {}, true);
  EXPECT_TRUE(backend->scripts.empty());

  StartEngine();
  browser->ExecuteJavaScript(QStringLiteral("later"));
  ASSERT_EQ(backend->scripts.size(), 1u);
  EXPECT_EQ(backend->scripts[0].text, QStringLiteral("later"));
  EXPECT_FALSE(called);
}

TEST_F(WebBrowserTest, ImmediateScriptBypassesWaitingQueue) {
  StartEngine();
  browser->ExecuteJavaScript(QStringLiteral("queued 1"));
  browser->ExecuteJavaScript(QStringLiteral("queued 2"));
  QString result;
  browser->ExecuteJavaScript(
      QStringLiteral("now"), [&](const QString& r) { result = r; }, true);
  ASSERT_EQ(backend->scripts.size(), 2u);
  EXPECT_EQ(backend->scripts[1].text, QStringLiteral("now"));

  // The immediate one completes first; the queue still waits for "queued 1".
  FakeBackend::Script immediate = std::move(backend->scripts[1]);
  backend->scripts.pop_back();
  immediate.result(QStringLiteral("42"));
  EXPECT_EQ(result, QStringLiteral("42"));
  EXPECT_EQ(backend->scripts.size(), 1u);
  backend->Complete(QStringLiteral("null"));
  ASSERT_EQ(backend->scripts.size(), 1u);
  EXPECT_EQ(backend->scripts[0].text, QStringLiteral("queued 2"));
}

TEST_F(WebBrowserTest, ReleasingTheEngineEmptiesTheQueue) {
  StartEngine();
  browser->ExecuteJavaScript(QStringLiteral("lost with the old engine"));
  browser->ExecuteJavaScript(QStringLiteral("waiting"));
  browser->DeInitialize();
  StartEngine();

  // The new engine is not held back by the script the old one never finished.
  browser->ExecuteJavaScript(QStringLiteral("new"));
  ASSERT_EQ(backend->scripts.size(), 2u);
  EXPECT_EQ(backend->scripts[1].text, QStringLiteral("new"));
  // A late completion report of the old engine does not disturb the queue.
  browser->ExecuteJavaScript(QStringLiteral("after new"));
  backend->Complete(QStringLiteral("null"));
  ASSERT_EQ(backend->scripts.size(), 1u);
  EXPECT_EQ(backend->scripts[0].text, QStringLiteral("new"));
  backend->Complete(QStringLiteral("null"));
  ASSERT_EQ(backend->scripts.size(), 1u);
  EXPECT_EQ(backend->scripts[0].text, QStringLiteral("after new"));
}

QStringList* capturedDebugLog = nullptr;

void CaptureDebugLog(QtMsgType, const QMessageLogContext& AContext, const QString& AMessage) {
  if (capturedDebugLog && qstrcmp(AContext.category, "orv.debug") == 0) capturedDebugLog->append(AMessage);
}

// Collects the diagnostic log (the orv.debug category) while it exists.
class DebugLogCapture {
public:
  DebugLogCapture() : FPrevious(qInstallMessageHandler(CaptureDebugLog)) {
    capturedDebugLog = &FLines;
    QLoggingCategory::setFilterRules(QStringLiteral("orv.debug.debug=true"));
  }
  ~DebugLogCapture() {
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(FPrevious);
    capturedDebugLog = nullptr;
  }
  const QStringList& Lines() const { return FLines; }

private:
  QStringList FLines;
  QtMessageHandler FPrevious;
};

TEST_F(WebBrowserTest, ScriptsInFlightFailWhenTheDocumentIsReplaced) {
  StartEngine();
  QStringList results;
  auto record = [&](const QString& tag) { return [&, tag](const QString& r) { results << tag + r; }; };
  browser->ExecuteJavaScript(QStringLiteral("queued 1"), record(QStringLiteral("1:")));
  browser->ExecuteJavaScript(QStringLiteral("queued 2"), record(QStringLiteral("2:")));
  browser->ExecuteJavaScript(QStringLiteral("now"), record(QStringLiteral("now:")), true);
  ASSERT_EQ(backend->scripts.size(), 2u);

  browser->DoDocumentReplaced();
  EXPECT_EQ(results, (QStringList{QStringLiteral("1:null"), QStringLiteral("now:null")}));
  // The queue goes on in the new document.
  ASSERT_EQ(backend->scripts.size(), 3u);
  EXPECT_EQ(backend->scripts[2].text, QStringLiteral("queued 2"));

  // Late reports of the old document change nothing.
  backend->Complete(QStringLiteral("\"late\""));
  backend->Complete(QStringLiteral("\"late\""));
  EXPECT_EQ(results.size(), 2);
  browser->ExecuteJavaScript(QStringLiteral("queued 3"));
  ASSERT_EQ(backend->scripts.size(), 1u);  // "queued 2" still runs alone
  backend->Complete(QStringLiteral("2"));
  EXPECT_EQ(results.last(), QStringLiteral("2:2"));
  ASSERT_EQ(backend->scripts.size(), 1u);
  EXPECT_EQ(backend->scripts[0].text, QStringLiteral("queued 3"));
}

TEST_F(WebBrowserTest, RendererEndedFailsScriptsAndTheQueueWaitsForThePageToLoadAgain) {
  browser->SetURL(QStringLiteral("http://x.test/dashboard"));
  StartEngine();
  QStringList results;
  auto record = [&](const QString& tag) { return [&, tag](const QString& r) { results << tag + r; }; };
  browser->ExecuteJavaScript(QStringLiteral("running"), record(QStringLiteral("r:")));
  browser->ExecuteJavaScript(QStringLiteral("waiting"), record(QStringLiteral("w:")));
  backend->calls.clear();
  backend->scripts.clear();  // the engine lost them with its renderer

  DebugLogCapture log;
  browser->DoRenderProcessTerminated(TORVZYNDashWebBrowserProcessFailedKind::Crashed);
  EXPECT_EQ(results, QStringList{QStringLiteral("r:null")});
  EXPECT_EQ(backend->calls, QStringList{QStringLiteral("Navigate http://x.test/dashboard")});
  ASSERT_EQ(log.Lines().size(), 1);
  EXPECT_TRUE(log.Lines()[0].contains(QLatin1String("http://x.test/dashboard"))) << log.Lines()[0].toStdString();

  // Nothing reaches the page before it is back, immediate scripts neither.
  browser->ExecuteJavaScript(QStringLiteral("immediate"), record(QStringLiteral("i:")), true);
  EXPECT_TRUE(backend->scripts.empty());
  TORVZYNDashCustomWebBrowserNavigateCompleteParams loaded{QStringLiteral("http://x.test/dashboard"), true, 200};
  browser->DoNavigateComplete(loaded);
  ASSERT_EQ(backend->scripts.size(), 2u);
  EXPECT_EQ(backend->scripts[0].text, QStringLiteral("immediate"));
  EXPECT_EQ(backend->scripts[1].text, QStringLiteral("waiting"));
  backend->Complete(QStringLiteral("1"));
  backend->Complete(QStringLiteral("2"));
  EXPECT_EQ(results, (QStringList{QStringLiteral("r:null"), QStringLiteral("i:1"), QStringLiteral("w:2")}));
}

// The owner hears of the failure, with its kind, before the page is
// loaded again; an owner that destroys the control there stops the rest.
TEST_F(WebBrowserTest, RendererEndedWithoutAnAddressReloadsThePageAfterTellingTheOwner) {
  StartEngine();
  backend->calls.clear();
  QStringList seen;
  browser->OnProcessFailed = [&](TORVZYNDashCustomWebBrowser&, TORVZYNDashWebBrowserProcessFailedKind AKind) {
    seen << QStringLiteral("failed %1 after %2 calls").arg(static_cast<int>(AKind)).arg(backend->calls.size());
  };
  browser->DoRenderProcessTerminated(TORVZYNDashWebBrowserProcessFailedKind::Killed);
  EXPECT_EQ(seen, QStringList{QStringLiteral("failed 3 after 0 calls")});
  EXPECT_EQ(backend->calls, QStringList{QStringLiteral("Reload")});

  backend->calls.clear();
  browser->OnProcessFailed = [&](TORVZYNDashCustomWebBrowser&, TORVZYNDashWebBrowserProcessFailedKind) {
    browser.reset();
  };
  browser->DoRenderProcessTerminated(TORVZYNDashWebBrowserProcessFailedKind::Crashed);
  EXPECT_FALSE(browser);
}

// Pumps the event loop until APredicate holds or 30 s have passed.
bool WaitFor(const std::function<bool()>& APredicate) {
  QDeadlineTimer deadline(30000);
  while (!APredicate()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  }
  return true;
}

// A page whose renderer ends on every load is loaded again three times: at
// once, then after one and after four seconds. The next loss shows the
// error page instead, and the scripts that waited for the page go on.
TEST_F(WebBrowserTest, RendererEndingOnEveryLoadGetsThreeSlowerReloadsThenTheErrorPage) {
  const QString url = QStringLiteral("http://x.test/dashboard");
  browser->SetURL(url);
  StartEngine();
  const QStringList reload{QStringLiteral("Navigate ") + url};
  TORVZYNDashCustomWebBrowserNavigateCompleteParams loaded{url, true, 200};
  const qint64 waits[] = {0, 1000, 4000};
  for (const qint64 wait : waits) {
    backend->calls.clear();
    QElapsedTimer clock;
    clock.start();
    browser->DoRenderProcessTerminated(TORVZYNDashWebBrowserProcessFailedKind::Crashed);
    EXPECT_EQ(backend->calls.isEmpty(), wait > 0) << "reload after " << wait << " ms";
    ASSERT_TRUE(WaitFor([&] { return !backend->calls.isEmpty(); }));
    EXPECT_GE(clock.elapsed(), wait * 9 / 10);  // a coarse timer may fire 5 % early
    EXPECT_EQ(backend->calls, reload);
    browser->DoNavigateComplete(loaded);  // the page is back, and its renderer ends again
  }

  backend->calls.clear();
  bool ran = false;
  browser->DoRenderProcessTerminated(TORVZYNDashWebBrowserProcessFailedKind::Crashed);
  browser->ExecuteJavaScript(QStringLiteral("after"), [&](const QString&) { ran = true; });
  EXPECT_EQ(backend->calls,
            QStringList{QStringLiteral("ShowErrorPage ") + url + QStringLiteral(": ") + RendererEndedReason(4)});
  ASSERT_EQ(backend->scripts.size(), 1u);
  backend->Complete(QStringLiteral("null"));
  EXPECT_TRUE(ran);

  // A new engine gets the whole series again.
  browser->DeInitialize();
  StartEngine();
  backend->calls.clear();
  browser->DoRenderProcessTerminated(TORVZYNDashWebBrowserProcessFailedKind::Crashed);
  EXPECT_EQ(backend->calls, reload);
}

// Another page started while a lost one waits for its reload takes its
// place: the lost page is not loaded over it.
TEST_F(WebBrowserTest, NavigationWhileALostPageWaitsCancelsItsReload) {
  browser->SetURL(QStringLiteral("http://x.test/dashboard"));
  StartEngine();
  browser->DoRenderProcessTerminated(TORVZYNDashWebBrowserProcessFailedKind::Crashed);
  browser->DoRenderProcessTerminated(TORVZYNDashWebBrowserProcessFailedKind::Crashed);  // waits a second
  TORVZYNDashCustomWebBrowserBeforeNavigateParams other{QStringLiteral("http://x.test/other"), false};
  browser->DoBeforeNavigate(other);
  backend->calls.clear();
  // A later, longer timer fires after the reload's would have.
  bool waited = false;
  QTimer::singleShot(1500, [&] { waited = true; });
  ASSERT_TRUE(WaitFor([&] { return waited; }));
  QCoreApplication::processEvents();
  EXPECT_TRUE(backend->calls.isEmpty()) << backend->calls.join(QLatin1Char(',')).toStdString();
}

// The error page's Options: the owner's handler (a dialog) runs first, then
// the address is loaded again; without a handler none is offered.
TEST_F(WebBrowserTest, ErrorPageOptionsRaisesTheEventThenLoadsTheAddressAgain) {
  StartEngine();
  EXPECT_FALSE(browser->OffersErrorPageOptions());
  QStringList seen;
  browser->OnErrorPageOptions = [&](TORVZYNDashCustomWebBrowser&) {
    seen << QStringLiteral("options after %1 calls").arg(backend->calls.size());
  };
  EXPECT_TRUE(browser->OffersErrorPageOptions());
  backend->calls.clear();
  browser->DoErrorPageOptions(QStringLiteral("http://x.test/site"));
  EXPECT_EQ(seen, QStringList{QStringLiteral("options after 0 calls")});
  EXPECT_EQ(backend->calls, QStringList{QStringLiteral("Navigate http://x.test/site")});

  // An owner that destroys the control there stops the rest.
  browser->OnErrorPageOptions = [&](TORVZYNDashCustomWebBrowser&) { browser.reset(); };
  browser->DoErrorPageOptions(QStringLiteral("http://x.test/site"));
  EXPECT_FALSE(browser);
}

// Each console message is one line of the log with its level and source
// line; a page that prints in a loop gets a few lines through and a count.
TEST_F(WebBrowserTest, ConsoleMessagesReachTheLogAsOneLineEachWithinALimit) {
  StartEngine();
  TORVZYNDashWebBrowserConsoleMessage raised;
  browser->OnGetConsoleMessage = [&](TORVZYNDashCustomWebBrowser&,
                                     const TORVZYNDashWebBrowserConsoleMessage& AMessage) { raised = AMessage; };
  DebugLogCapture log;
  browser->DoConsoleMessage({TORVZYNDashWebBrowserConsoleMessage::Error,
                             QStringLiteral("Uncaught ReferenceError: KitwrightActionFinished is not defined\nat x"),
                             QStringLiteral("http://x.test/app.js"), 12});
  EXPECT_EQ(raised.Line, 12);
  EXPECT_EQ(log.Lines(),
            QStringList{QStringLiteral("Page console error: Uncaught ReferenceError: "
                                       "KitwrightActionFinished is not defined at x (http://x.test/app.js:12)")});
  for (int i = 0; i < 1000; ++i)
    browser->DoConsoleMessage(
        {TORVZYNDashWebBrowserConsoleMessage::Info, QStringLiteral("tick %1").arg(i), QStringLiteral("p.js"), 1});
  EXPECT_LE(log.Lines().size(), 100);
  EXPECT_EQ(raised.Message, QStringLiteral("tick 999")) << "the owner hears every message";
}

TEST(LogRateLimitTest, LetsALimitThroughPerWindowAndCountsTheRest) {
  LogRateLimit limit(2, std::chrono::seconds(10));
  const auto start = LogRateLimit::Clock::now();
  int leftOut = -1;
  EXPECT_TRUE(limit.Admit(start, leftOut));
  EXPECT_EQ(leftOut, 0);
  EXPECT_TRUE(limit.Admit(start + std::chrono::seconds(1), leftOut));
  EXPECT_FALSE(limit.Admit(start + std::chrono::seconds(2), leftOut));
  EXPECT_FALSE(limit.Admit(start + std::chrono::seconds(9), leftOut));
  EXPECT_TRUE(limit.Admit(start + std::chrono::seconds(10), leftOut));
  EXPECT_EQ(leftOut, 2);
  EXPECT_TRUE(limit.Admit(start + std::chrono::seconds(11), leftOut));
  EXPECT_EQ(leftOut, 0);
}

TEST_F(WebBrowserTest, OnInitializedOncePerEngine) {
  StartEngine();
  browser->DoEngineInitialized();  // the same engine reporting again
  EXPECT_EQ(initializedEvents, 1);
  EXPECT_TRUE(browser->Initialized());

  browser->DeInitialize();
  EXPECT_FALSE(browser->Initialized());
  browser->ClearCache();
  StartEngine();
  EXPECT_EQ(initializedEvents, 2);
  EXPECT_EQ(backend->calls, (QStringList{QStringLiteral("Initialize"), QStringLiteral("DeInitialize"),
                                         QStringLiteral("ClearCache"), QStringLiteral("Initialize")}));
}

TEST_F(WebBrowserTest, DownloadHandlersGoWithTheirEngineAndTokensAreNeverReused) {
  EXPECT_EQ(browser->DownloadEvents(), nullptr);
  QStringList raised;
  StartEngine();
  ASSERT_NE(browser->DownloadEvents(), nullptr);
  const DownloadEventToken first =
      browser->DownloadEvents()->AddDownloadStarting([&](const auto&) { raised << QStringLiteral("first"); });
  browser->DeInitialize();
  EXPECT_EQ(browser->DownloadEvents(), nullptr);

  StartEngine();
  const DownloadEventToken second =
      browser->DownloadEvents()->AddDownloadStarting([&](const auto&) { raised << QStringLiteral("second"); });
  EXPECT_NE(second, first);
  // Whoever registered on the released engine lets go of its token late.
  browser->DownloadEvents()->RemoveDownloadStarting(first);
  browser->DoDownloadStarting(nullptr);
  EXPECT_EQ(raised, QStringList{QStringLiteral("second")});
}

TEST_F(WebBrowserTest, SettingsAreAppliedToEveryNewEngine) {
  browser->Settings().SetEnableContextMenu(false);
  browser->Settings().SetEnableShowDebugConsole(false);
  browser->Settings().SetEnableAcceleratorKeys(false);
  browser->Settings().SetAllowExternalDrop(false);

  for (int engine = 0; engine < 2; ++engine) {
    backend->ResetToEngineDefaults();
    bool seenInHandler = false;
    browser->OnInitialized = [&](TORVZYNDashCustomWebBrowser& b) {
      seenInHandler = !backend->contextMenu && !b.Settings().EnableShowDebugConsole();
    };
    StartEngine();
    EXPECT_TRUE(seenInHandler) << "engine " << engine;
    EXPECT_FALSE(backend->contextMenu);
    EXPECT_FALSE(backend->debugConsole);
    EXPECT_FALSE(backend->acceleratorKeys);
    EXPECT_FALSE(backend->externalDrop);
    browser->DeInitialize();
  }
}

TEST_F(WebBrowserTest, UrlNavigatesOnlyWhenNotEmpty) {
  browser->SetURL(QString());
  EXPECT_TRUE(backend->calls.isEmpty());
  browser->SetURL(QStringLiteral("http://x.test/a"));
  browser->Navigate(QStringLiteral("http://x.test/search?q=1"));
  EXPECT_EQ(browser->URL(), QStringLiteral("http://x.test/a"));
  EXPECT_EQ(backend->calls, (QStringList{QStringLiteral("Navigate() http://x.test/a"),
                                         QStringLiteral("Navigate http://x.test/search?q=1")}));
}

TEST_F(WebBrowserTest, BridgeRegisteredAgainReplacesTheOldOne) {
  StartEngine();
  auto first = std::make_shared<HostObject>();
  auto second = std::make_shared<HostObject>();
  browser->AddBridge(QStringLiteral("DashboardBridge"), first);
  browser->AddBridge(QStringLiteral("DashboardBridge"), second);
  EXPECT_EQ(backend->bridges.value(QStringLiteral("DashboardBridge")), second);
  EXPECT_EQ(backend->calls.mid(1),
            (QStringList{QStringLiteral("RemoveBridge DashboardBridge"), QStringLiteral("AddBridge DashboardBridge"),
                         QStringLiteral("RemoveBridge DashboardBridge"), QStringLiteral("AddBridge DashboardBridge")}));
  browser->RemoveBridge(QStringLiteral("DashboardBridge"));
  EXPECT_TRUE(backend->bridges.isEmpty());
}

TEST_F(WebBrowserTest, ParentChangeDetachesThenStartsTheEngine) {
  QObject host;
  browser->SetParent(&host);
  EXPECT_EQ(browser->Parent(), &host);
  EXPECT_EQ(backend->calls, (QStringList{QStringLiteral("BeforeParentChange"), QStringLiteral("Initialize")}));
}

TEST_F(WebBrowserTest, DestructionHandsTheBackendBackBeforeReleasingIt) {
  QStringList log;
  service->log = &log;
  std::weak_ptr<FakeBackend> weak = service->last;
  service->last.reset();
  ASSERT_EQ(service->WebBrowserCount(), 1);
  backend->calls.clear();
  browser.reset();
  EXPECT_EQ(service->WebBrowserCount(), 0);
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(log, QStringList{QStringLiteral("DestroyWebBrowser")});
}

TEST_F(WebBrowserTest, EventsAreRaisedOnlyWhenAssigned) {
  TORVZYNDashCustomWebBrowserBeforeNavigateParams before{QStringLiteral("u"), false};
  browser->DoBeforeNavigate(before);  // nothing assigned: no effect
  TORVZYNDashWebBrowserNewWindowRequestedParams window{QStringLiteral("http://x.test/new"), false, true};
  browser->OnNewWindowRequested = [](TORVZYNDashCustomWebBrowser&, auto& p) { p.Handled = true; };
  browser->DoNewWindowRequested(window);
  EXPECT_TRUE(window.Handled);

  QString seen;
  browser->OnError = [&](TORVZYNDashCustomWebBrowser&, const TORVZYNDashWebBrowserError& e) {
    seen = e.Message() + QLatin1Char('|') + e.Type();
  };
  browser->DoError(TORVZYNDashWebBrowserError::CreateDefault());
  EXPECT_EQ(seen, QStringLiteral("Error Message|ERROR_TYPE"));
  browser->DoError(TORVZYNDashWebBrowserError(QStringLiteral("boom")));
  EXPECT_EQ(seen, QStringLiteral("boom|ERROR_TYPE"));
}

TEST(WebBrowserWithoutService, EveryOperationIsHarmless) {
  TORVDashboardWebBrowser browser;  // no factory service registered
  EXPECT_FALSE(browser.CanDestroyDispatch());
  bool initialized = false;
  browser.OnInitialized = [&](TORVZYNDashCustomWebBrowser&) { initialized = true; };
  browser.SetURL(QStringLiteral("http://x.test/"));
  EXPECT_EQ(browser.URL(), QStringLiteral("http://x.test/"));
  browser.Settings().SetEnableContextMenu(false);
  EXPECT_FALSE(browser.EnableContextMenu());
  browser.Settings().SetAllowExternalDrop(false);
  EXPECT_FALSE(browser.Settings().AllowExternalDrop());
  browser.Initialize();
  browser.ExecuteJavaScript(QStringLiteral("x"), [](const QString&) { FAIL(); });
  browser.AddBridge(QStringLiteral("b"), std::make_shared<HostObject>());
  EXPECT_EQ(browser.NativeBrowser(), nullptr);
  EXPECT_EQ(browser.DownloadEvents(), nullptr);
  EXPECT_FALSE(initialized);
  EXPECT_TRUE(TORVZYNDashWebBrowser().CanDestroyDispatch());
}

TEST(WebBrowserLayout, AlignmentPlacesTheControlInItsParent) {
  struct Case {
    TORVZYNDashControlAlignment alignment;
    QRect expected;
  };
  const Case cases[] = {
      {caNone, {10, 20, 500, 350}}, {caTop, {0, 0, 1400, 350}},    {caBottom, {0, 450, 1400, 350}},
      {caLeft, {0, 0, 500, 800}},   {caRight, {900, 0, 500, 800}}, {caClient, {0, 0, 1400, 800}},
  };
  TORVZYNDashWebBrowser browser;
  browser.SetBoundsRect({10, 20, 500, 350});
  for (const Case& c : cases) {
    browser.SetControlAlignment(c.alignment);
    EXPECT_EQ(browser.AlignedBounds({1400, 800}), c.expected) << c.alignment;
  }
}

TEST(WebOrigin, ComparesSchemeHostAndPort) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"https://www.x.test/site/dashboard", "https://WWW.X.TEST:443/other?q", true},
      {"http://127.0.0.1:8080/a", "http://127.0.0.1:8080/b", true},
      {"http://127.0.0.1:8080/a", "http://127.0.0.1:8081/a", false},
      {"http://www.x.test/", "https://www.x.test/", false},
      {"https://www.x.test/", "https://www.x.test.evil.test/", false},
      {"https://www.x.test@evil.test/", "https://www.x.test/", false},
      {"data:text/html,hi", "data:text/html,hi", false},
      {"about:blank", "https://www.x.test/", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameWebOrigin(QUrl(QString::fromLatin1(c.a)), QUrl(QString::fromLatin1(c.b))), c.same)
        << c.a << " vs " << c.b;
  }
}

}  // namespace
}  // namespace orv
