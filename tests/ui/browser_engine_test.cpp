// The Qt WebEngine backend in the real engine (run under Xvfb). One engine
// serves the whole suite; the last case restarts it.
#include "support/browser_test_host.h"

#include "core/dashboard_page.h"
#include "core/ui_pipeline.h"
#include "lib/text_escape.h"
#include "lib/web_browser_error_page.h"
#include "platform/exception.h"
#include "platform/qt_ui_thread.h"
#include "ui/host_object_channel.h"
#include "ui/qt_web_browser.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QScopeGuard>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <csignal>

namespace orv {
namespace {

// The Qt backend serves every browser component of the suite.
class QtWebBrowserServiceEnvironment : public ::testing::Environment {
public:
  void SetUp() override { RegisterQtWebBrowserService(nullptr); }
  void TearDown() override { UnregisterQtWebBrowserService(); }
};
const ::testing::Environment* const kQtWebBrowserService =
    ::testing::AddGlobalTestEnvironment(new QtWebBrowserServiceEnvironment);

// A bridge whose setter stores the text, fails on request, or shows a
// modal dialog first; the getter echoes what was stored.
class TestBridge : public IHostObject {
public:
  QString stored;
  int reads = 0;
  bool onUiThread = true;
  int modalTicks = -1;

  QStringList propertyNames() const override { return {QStringLiteral("ObjectMessage")}; }
  QString getProperty(const QString&) override {
    ++reads;
    return QStringLiteral("echo:") + stored;
  }
  void setProperty(const QString&, const QString& value) override {
    onUiThread = onUiThread && QThread::currentThread() == qApp->thread();
    if (value.startsWith(QLatin1String("fail:"))) throw Exception(value.mid(5));
    if (value == QLatin1String("modal")) RunModalDialog();
    stored = value;
  }

private:
  // The event loop keeps running while the dialog is up (timers tick, the
  // window paints) and the page waits for the assignment to return. The
  // dialog closes on the fifth tick, however slowly the machine ticks.
  void RunModalDialog() {
    QDialog dialog;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &dialog, [&] {
      if (++ticks == 5) dialog.accept();
    });
    ticker.start(10);
    dialog.exec();
    modalTicks = ticks;
  }
};

class BrowserEngineTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    server = new LocalWebServer();
    temp = new QTemporaryDir();
    host = new BrowserTestHost(std::make_unique<TORVZYNDashWebBrowser>(), temp->path() + QStringLiteral("/data"));
    host->Browser().SetAutoClearCache(false);
    // As the dashboard sets them, before the engine exists.
    host->Browser().Settings().SetEnableContextMenu(false);
    host->Browser().Settings().SetEnableShowDebugConsole(false);
    host->Browser().Settings().SetAllowExternalDrop(false);
    host->Browser().SetHostObjectOrigin(server->Url(QStringLiteral("/")));
    ASSERT_TRUE(host->Start());
  }
  static void TearDownTestSuite() {
    delete host;
    // The engine still writes into its data folder for a moment after it
    // has been released.
    BrowserTestHost::WaitFor([] { return temp->remove(); }, 5000);
    delete temp;
    delete server;
  }
  void SetUp() override { ASSERT_NE(host->Browser().NativeBrowser(), nullptr); }

  TORVZYNDashCustomWebBrowser& browser() { return host->Browser(); }
  QString Page() const { return server->Url(QStringLiteral("/page")); }
  std::shared_ptr<TestBridge> RegisterBridge() {
    auto bridge = std::make_shared<TestBridge>();
    browser().AddBridge(QStringLiteral("DashboardBridge"), bridge);
    return bridge;
  }

  static inline LocalWebServer* server = nullptr;
  static inline QTemporaryDir* temp = nullptr;
  static inline BrowserTestHost* host = nullptr;
};

const QString kAssignAndRead = QStringLiteral(
    "(function(v){var b = window.chrome.webview.hostObjects.sync.DashboardBridge;"
    " b.ObjectMessage = v; return b.ObjectMessage;})(%1)");
const QString kAssignCatching = QStringLiteral(
    "(function(v){try { window.chrome.webview.hostObjects.sync.DashboardBridge.%2 = v; return 'no error'; }"
    " catch (e) { return (e instanceof Error) + ':' + e.message; }})(%1)");

TEST_F(BrowserEngineTest, ReadyPageShowsTheEngineVersion) {
  ASSERT_TRUE(QtWebEngineLoaded());
  ASSERT_FALSE(QtWebEngineBrowserVersion().isEmpty());
  EXPECT_EQ(host->InitializedCount(), 1);
  EXPECT_EQ(host->Eval(QStringLiteral("document.querySelector('h1').textContent")),
            QStringLiteral("\"Edge Chromium ") + QtWebEngineBrowserVersion() +
                QStringLiteral(" is successfully initialized!\""));
  EXPECT_EQ(host->Eval(QStringLiteral("getComputedStyle(document.body).backgroundColor")),
            QStringLiteral("\"rgb(215, 235, 246)\""));
}

// The settings given before the engine existed are in force in it.
void ExpectDashboardSettings(TORVZYNDashCustomWebBrowser& browser) {
  auto* view = static_cast<QWebEngineView*>(browser.NativeBrowser());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->contextMenuPolicy(), Qt::NoContextMenu);
  EXPECT_FALSE(view->acceptDrops());
  EXPECT_FALSE(view->page()->action(QWebEnginePage::InspectElement)->isVisible());
  int enabled = 0;
  for (QAction* action : view->actions()) {
    if (action->shortcuts().contains(QKeySequence(Qt::Key_F12))) {
      EXPECT_FALSE(action->isEnabled());
    }
    if (action->shortcuts().contains(QKeySequence(Qt::Key_F5))) {
      EXPECT_TRUE(action->isEnabled());
    }
    enabled += action->isEnabled();
  }
  EXPECT_EQ(enabled, 3);  // reload, back, forward
  EXPECT_FALSE(browser.Settings().EnableContextMenu());
  EXPECT_FALSE(browser.Settings().AllowExternalDrop());
}

TEST_F(BrowserEngineTest, SettingsGivenBeforeTheEngineAreInForce) {
  ExpectDashboardSettings(browser());
  browser().SetEnableAcceleratorKeys(false);
  for (QAction* action : static_cast<QWebEngineView*>(browser().NativeBrowser())->actions())
    EXPECT_FALSE(action->isEnabled());
  browser().SetEnableAcceleratorKeys(true);
}

TEST_F(BrowserEngineTest, ScriptResultsArriveAsJsonText) {
  const std::pair<const char*, const char*> cases[] = {
      {"1 + 1", "2"},
      {"'say \"hi\"\\n'", "\"say \\\"hi\\\"\\n\""},
      {"({a: [1, true, null], b: 'x'})", "{\"a\":[1,true,null],\"b\":\"x\"}"},
      {"undefined", "null"},
      {"throw new Error('x')", "null"},
  };
  for (const auto& [script, expected] : cases)
    EXPECT_EQ(host->Eval(QString::fromUtf8(script)), QString::fromUtf8(expected)) << script;
}

TEST_F(BrowserEngineTest, QueuedScriptsRunInOrder) {
  QStringList results;
  for (int i = 0; i < 5; ++i)
    browser().ExecuteJavaScript(QStringLiteral("window.__n = (window.__n || 0) + 1; window.__n * 10 + %1").arg(i),
                                [&](const QString& r) { results << r; });
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return results.size() == 5; }));
  // Each script saw the counter its predecessor left.
  for (int i = 1; i < 5; ++i) EXPECT_EQ(results[i].toInt(), results[i - 1].toInt() + 11) << i;
}

TEST_F(BrowserEngineTest, PageReadsAndAssignsAHostObjectProperty) {
  auto bridge = RegisterBridge();
  ASSERT_TRUE(host->Load(Page()));
  const QString text = QStringLiteral("jsevent://%7B%7D \"quoted\" \u00e9 \u2028 </script>");
  EXPECT_EQ(host->Eval(kAssignAndRead.arg(QStringLiteral("'jsevent://%7B%7D \"quoted\" \u00e9 \\u2028 </script>'"))),
            QStringLiteral("\"echo:jsevent://%7B%7D \\\"quoted\\\" \u00e9 \u2028 </script>\""));
  EXPECT_EQ(bridge->stored, text);
  EXPECT_TRUE(bridge->onUiThread);
  // Non-string values arrive as their text.
  EXPECT_EQ(host->Eval(kAssignAndRead.arg(QStringLiteral("42"))), QStringLiteral("\"echo:42\""));
  // A lone surrogate, which the proxy's JSON.stringify writes as an escape,
  // reaches the setter as it was, and the assignment does not throw.
  EXPECT_EQ(host->Eval(kAssignCatching.arg(QStringLiteral("'a\\ud800b'"), QStringLiteral("ObjectMessage"))),
            QStringLiteral("\"no error\""));
  EXPECT_EQ(bridge->stored, QString(QStringLiteral("a") + QChar(0xD800) + u'b'));
}

TEST_F(BrowserEngineTest, NativeFailuresBecomeScriptErrors) {
  auto bridge = RegisterBridge();
  ASSERT_TRUE(host->Load(Page()));
  EXPECT_EQ(
      host->Eval(kAssignCatching.arg(QStringLiteral("'fail:no \"such\" product'"), QStringLiteral("ObjectMessage"))),
      QStringLiteral("\"true:no \\\"such\\\" product\""));
  EXPECT_EQ(host->Eval(kAssignCatching.arg(QStringLiteral("'x'"), QStringLiteral("Nope"))),
            QStringLiteral("\"true:Unknown property of host object DashboardBridge: Nope\""));
  EXPECT_TRUE(bridge->stored.isEmpty());
}

// The page's script makes each property's request once and then reuses
// it: values that look like the request's own syntax still arrive as
// plain text, for the property they were assigned to.
TEST_F(BrowserEngineTest, RepeatedCallsCarryEachValueIntact) {
  auto bridge = RegisterBridge();
  ASSERT_TRUE(host->Load(Page()));
  const QString values[] = {
      QStringLiteral("first"),
      QStringLiteral("\",\"property\":\"Nope\",\"value\":\"x"),
      QStringLiteral("}{\\\\"),
      QStringLiteral("last"),
  };
  for (const QString& value : values) {
    EXPECT_EQ(host->Eval(kAssignAndRead.arg(JsStringLiteral(value))), JsonQuote(QStringLiteral("echo:") + value));
    EXPECT_EQ(bridge->stored, value);
    EXPECT_EQ(host->Eval(kAssignCatching.arg(JsStringLiteral(value), QStringLiteral("Nope"))),
              QStringLiteral("\"true:Unknown property of host object DashboardBridge: Nope\""));
  }
}

// What the page's own scripts replace later does not reach the calls.
TEST_F(BrowserEngineTest, CallsDoNotUseWhatThePageReplaces) {
  auto bridge = RegisterBridge();
  ASSERT_TRUE(host->Load(Page()));
  host->Eval(
      QStringLiteral("JSON.parse = function () { return {ok: true, value: 'forged'}; };"
                     "JSON.stringify = function () { return 'forged'; };"
                     "window.String = function () { return 'forged'; };"
                     "window.prompt = function () { return 'forged'; }; true"));
  EXPECT_EQ(host->Eval(kAssignAndRead.arg(QStringLiteral("'real'"))), QStringLiteral("\"echo:real\""));
  EXPECT_EQ(bridge->stored, QStringLiteral("real"));
}

TEST_F(BrowserEngineTest, ModalDialogInsideTheSetterKeepsThePageWaiting) {
  auto bridge = RegisterBridge();
  ASSERT_TRUE(host->Load(Page()));
  EXPECT_EQ(host->Eval(kAssignAndRead.arg(QStringLiteral("'modal'"))), QStringLiteral("\"echo:modal\""));
  EXPECT_GE(bridge->modalTicks, 5);
}

// The engine cuts a prompt's own text after 10,240 characters; messages
// and answers far longer arrive whole, and one beyond the channel's limit
// fails with an error that says so, without reaching the setter.
TEST_F(BrowserEngineTest, LargeMessagesAndAnswersTravelWhole) {
  auto bridge = RegisterBridge();
  ASSERT_TRUE(host->Load(Page()));
  QString expected;
  for (int i = 0; expected.size() < (1 << 20); ++i) expected += QStringLiteral("%1:\u00e9\U0001F600\"\\;").arg(i);
  EXPECT_EQ(
      host->Eval(QStringLiteral("(function(){var v = '';"
                                " for (var i = 0; v.length < (1 << 20); i++) v += i + ':\\u00e9\\ud83d\\ude00\"\\\\;';"
                                " var b = window.chrome.webview.hostObjects.sync.DashboardBridge;"
                                " b.ObjectMessage = v; return b.ObjectMessage === 'echo:' + v;})()"),
                 60000),
      QStringLiteral("true"));
  EXPECT_EQ(bridge->stored, expected);

  const QString tooLarge = QStringLiteral(
      "(function(){var b = window.chrome.webview.hostObjects.sync.DashboardBridge;"
      " try { %1; return 'no error'; } catch (e) { return e.message; }})()");
  const QString refused =
      host->Eval(tooLarge.arg(QStringLiteral("b.ObjectMessage = 'x'.repeat(%1)").arg(HostObjectChannel::MaxCallText)));
  EXPECT_TRUE(refused.startsWith(QStringLiteral("\"The message is too large for the host object: ")))
      << refused.toStdString();
  EXPECT_EQ(bridge->stored, expected);
  bridge->stored = QString(HostObjectChannel::MaxCallText, u'x');
  const QString unanswered = host->Eval(tooLarge.arg(QStringLiteral("b.ObjectMessage")));
  EXPECT_TRUE(unanswered.startsWith(QStringLiteral("\"The answer is too large for the host object: ")))
      << unanswered.toStdString();
}

// A bridge whose writes answer the following read ahead ("ahead:" and the
// value) while its own reads echo; it records what reached it.
class AheadBridge : public IHostObject {
public:
  QString stored;
  QStringList effects;
  QStringList propertyNames() const override { return {QStringLiteral("ObjectMessage")}; }
  QString getProperty(const QString&) override {
    effects << QStringLiteral("read ") + stored;
    return QStringLiteral("echo:") + stored;
  }
  void setProperty(const QString&, const QString& value) override {
    effects << QStringLiteral("set ") + value;
    stored = value;
  }
  std::optional<QString> readAhead(const QString&) override { return QStringLiteral("ahead:") + stored; }
  void aheadReadTaken(const QString&) override { effects << QStringLiteral("taken ") + stored; }
};

// The page uses an answer ahead only for a read of the same property that
// is the very next call in the same task; its next call tells the native
// side first. Anything else reads natively, as without answers ahead.
TEST_F(BrowserEngineTest, AnAnswerAheadServesOnlyTheNextReadInTheSameTask) {
  auto bridge = std::make_shared<AheadBridge>();
  browser().AddBridge(QStringLiteral("DashboardBridge"), bridge);
  ASSERT_TRUE(host->Load(Page()));
  const QString script =
      QStringLiteral("(function(){var b = window.chrome.webview.hostObjects.sync.DashboardBridge;%1})()");
  struct Case {
    const char* body;
    const char* result;
    QStringList effects;
  };
  const Case cases[] = {
      {"b.ObjectMessage = 'a'; return b.ObjectMessage;", "\"ahead:a\"", {QStringLiteral("set a")}},
      // ... told at the next call, before that call's own work
      {"b.ObjectMessage = 'b'; return 1;", "1", {QStringLiteral("taken a"), QStringLiteral("set b")}},
      {"return b.ObjectMessage;", "\"echo:b\"", {QStringLiteral("read b")}},
      {"b.ObjectMessage = 'c'; try { b.Nope; } catch (e) {} return b.ObjectMessage;",
       "\"echo:c\"",
       {QStringLiteral("set c"), QStringLiteral("read c")}},
      {"b.ObjectMessage = 'd'; b.ObjectMessage = 'e'; var r = b.ObjectMessage; return r + ',' + b.ObjectMessage;",
       "\"ahead:e,echo:e\"",
       {QStringLiteral("set d"), QStringLiteral("set e"), QStringLiteral("taken e"), QStringLiteral("read e")}},
      {"b.ObjectMessage = 'f'; window.__later = function () { return b.ObjectMessage; }; return 0;",
       "0",
       {QStringLiteral("set f")}},
  };
  for (const Case& c : cases) {
    bridge->effects.clear();
    EXPECT_EQ(host->Eval(script.arg(QString::fromLatin1(c.body))), QString::fromLatin1(c.result)) << c.body;
    EXPECT_EQ(bridge->effects, c.effects) << c.body;
  }
  // A read in a later task goes to the native side.
  EXPECT_EQ(host->Eval(QStringLiteral("window.__later()")), QStringLiteral("\"echo:f\""));
  EXPECT_EQ(bridge->effects, (QStringList{QStringLiteral("set f"), QStringLiteral("read f")}));
}

TEST_F(BrowserEngineTest, RegisteringAgainReachesTheNewObject) {
  auto first = RegisterBridge();
  auto second = RegisterBridge();
  ASSERT_TRUE(host->Load(Page()));
  EXPECT_EQ(host->Eval(kAssignAndRead.arg(QStringLiteral("'x'"))), QStringLiteral("\"echo:x\""));
  EXPECT_TRUE(first->stored.isEmpty());
  EXPECT_EQ(second->stored, QStringLiteral("x"));
}

const QString kHasHostObjects =
    QStringLiteral("!!(window.chrome && window.chrome.webview && window.chrome.webview.hostObjects)");

TEST_F(BrowserEngineTest, OtherOriginsSeeNoHostObjects) {
  auto bridge = RegisterBridge();
  ASSERT_TRUE(host->Load(Page()));
  EXPECT_EQ(host->Eval(kHasHostObjects), QStringLiteral("true"));
  // Same server, other host name: another origin.
  ASSERT_TRUE(host->Load(server->Url(QStringLiteral("/page"), QStringLiteral("localhost"))));
  EXPECT_EQ(host->Eval(kHasHostObjects), QStringLiteral("false"));
  ASSERT_TRUE(host->Load(QStringLiteral("data:text/html,plain")));
  EXPECT_EQ(host->Eval(kHasHostObjects), QStringLiteral("false"));
  EXPECT_TRUE(bridge->stored.isEmpty());
}

// The engine's own host object: an address assigned to it becomes the
// current address and is announced as a navigation about to start; only
// the allowed origin reaches it.
TEST_F(BrowserEngineTest, TheBuiltInBridgeAnnouncesTheAddressItIsGiven) {
  ASSERT_TRUE(host->Load(Page()));
  QStringList before;
  browser().OnBeforeNavigate = [&](TORVZYNDashCustomWebBrowser&, auto& params) { before << params.URL; };
  EXPECT_EQ(host->Eval(QStringLiteral("const b = chrome.webview.hostObjects.sync.bridge;"
                                      "b.ObjectMessage = 'http://x.test/next'; b.ObjectMessage")),
            QStringLiteral("\"http://x.test/next\""));
  browser().OnBeforeNavigate = nullptr;
  EXPECT_EQ(before, QStringList{QStringLiteral("http://x.test/next")});
  EXPECT_EQ(browser().URL(), QStringLiteral("http://x.test/next"));
  EXPECT_EQ(host->Eval(QStringLiteral("location.href")), QStringLiteral("\"%1\"").arg(Page()))
      << "announced, not navigated";
  ASSERT_TRUE(host->Load(server->Url(QStringLiteral("/page"), QStringLiteral("localhost"))));
  EXPECT_EQ(host->Eval(kHasHostObjects), QStringLiteral("false"));
  ASSERT_TRUE(host->Load(Page()));
}

// A frame of another origin inside the page gets no host objects and
// cannot reach the page's.
TEST_F(BrowserEngineTest, AFrameOfAnotherOriginReachesNoHostObject) {
  auto bridge = RegisterBridge();
  ASSERT_TRUE(host->Load(Page()));
  const QString frame = server->Url(QStringLiteral("/frame"), QStringLiteral("localhost"));
  host->Eval(
      QStringLiteral("window.addEventListener('message', (e) => { window.frameReport = e.data; });"
                     "const f = document.createElement('iframe'); f.src = %1; document.body.appendChild(f); true")
          .arg(JsStringLiteral(frame)));
  QString report;
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] {
    report = host->Eval(QStringLiteral("window.frameReport || ''"));
    return report != QStringLiteral("\"\"");
  }));
  EXPECT_EQ(report, QStringLiteral("\"{\\\"own\\\":false,\\\"parentBridge\\\":\\\"SecurityError\\\"}\""));
  EXPECT_TRUE(bridge->stored.isEmpty());
  EXPECT_EQ(bridge->reads, 0);
}

TEST_F(BrowserEngineTest, NavigationEventsCarryTheAddress) {
  QStringList before;
  browser().OnBeforeNavigate = [&](TORVZYNDashCustomWebBrowser&, auto& params) {
    before << params.URL;
    params.Cancel = params.URL.endsWith(QLatin1String("/other"));
  };
  ASSERT_TRUE(host->Load(Page()));
  EXPECT_EQ(browser().URL(), Page());
  EXPECT_EQ(host->LastComplete().URL, Page());
  const int completesBefore = host->CompleteCount();
  browser().Navigate(server->Url(QStringLiteral("/other")));
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return before.size() == 2; }));
  // A navigation that follows completes once: the cancelled one never
  // completed, before it or cut short by it.
  const QString after = server->Url(QStringLiteral("/page?after"));
  ASSERT_TRUE(host->Load(after));
  EXPECT_EQ(host->CompleteCount(), completesBefore + 1);
  EXPECT_EQ(before.last(), after);
  browser().OnBeforeNavigate = nullptr;
}

TEST_F(BrowserEngineTest, NewWindowRequestsRaiseTheEvent) {
  ASSERT_TRUE(host->Load(Page()));
  // The handled request goes first: had it opened a window, the unhandled
  // one's window would be the second.
  const auto windowsBefore = QApplication::topLevelWidgets().size();
  for (const bool handled : {true, false}) {
    TORVZYNDashWebBrowserNewWindowRequestedParams seen;
    int raised = 0;
    browser().OnNewWindowRequested = [&](TORVZYNDashCustomWebBrowser&, auto& params) {
      seen = params;
      params.Handled = handled;
      ++raised;
    };
    host->Eval(QStringLiteral("document.getElementById('blank').click()"));
    ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return raised == 1; })) << handled;
    EXPECT_EQ(seen.URL, server->Url(QStringLiteral("/other")));
  }
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return QApplication::topLevelWidgets().size() > windowsBefore; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(QApplication::topLevelWidgets().size() - windowsBefore, 1);
  browser().OnNewWindowRequested = nullptr;
}

struct DownloadLog {
  QStringList events;
  qint64 lastBytes = 0;
  qint64 totalAtStart = 0;
  qint64 lastTotal = 0;  // at the last report of bytes
  std::shared_ptr<IDownloadOperation> operation;
  bool ended() const {
    return events.contains(QStringLiteral("completed")) || events.contains(QStringLiteral("interrupted"));
  }
};

// Tracks the next download the way the dashboard does: into a folder that
// does not exist yet.
DownloadEventToken TrackNextDownload(TORVZYNDashCustomWebBrowser& browser, DownloadLog& log, const QString& target) {
  browser.OnDownloadStarted = [&log](TORVZYNDashCustomWebBrowser&, auto&, bool&, bool&, bool&, bool&) {
    log.events << QStringLiteral("component");
  };
  return browser.DownloadEvents()->AddDownloadStarting([&log, target](const std::shared_ptr<IDownloadStarting>& args) {
    log.events << QStringLiteral("start");
    args->SetResultFilePath(target);
    args->SetHandled(true);
    log.operation = args->DownloadOperation();
    IDownloadOperation* op = log.operation.get();
    log.totalAtStart = op->TotalBytesToReceive();
    op->AddBytesReceivedChanged([&log, op] {
      if (log.events.last() != QLatin1String("bytes")) log.events << QStringLiteral("bytes");
      log.lastTotal = op->TotalBytesToReceive();
      log.lastBytes = op->BytesReceived();
    });
    op->AddStateChanged([&log, op] {
      if (op->State() == DownloadState::Completed) log.events << QStringLiteral("completed");
      if (op->State() == DownloadState::Interrupted) log.events << QStringLiteral("interrupted");
    });
  });
}

TEST_F(BrowserEngineTest, DownloadIsReportedIntoTheChosenPath) {
  ASSERT_TRUE(host->Load(Page()));
  DownloadLog log;
  const QString target = temp->path() + QStringLiteral("/downloads/Product/Product_1.0_REG.bin");
  const DownloadEventToken token = TrackNextDownload(browser(), log, target);
  browser().Navigate(server->Url(QStringLiteral("/file.bin")));
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return log.ended(); }));
  browser().DownloadEvents()->RemoveDownloadStarting(token);
  browser().OnDownloadStarted = nullptr;

  EXPECT_EQ(log.events, (QStringList{QStringLiteral("component"), QStringLiteral("start"), QStringLiteral("bytes"),
                                     QStringLiteral("completed")}));
  EXPECT_EQ(log.lastBytes, LocalWebServer::kDownloadSize);
  // The engine knows no size when it asks where to save; its reports of
  // bytes bring it.
  EXPECT_EQ(log.totalAtStart, -1);
  EXPECT_EQ(log.lastTotal, LocalWebServer::kDownloadSize);
  EXPECT_EQ(log.operation->TotalBytesToReceive(), LocalWebServer::kDownloadSize);
  EXPECT_EQ(log.operation->ResultFilePath(), target);
  EXPECT_EQ(QFileInfo(target).size(), LocalWebServer::kDownloadSize);
  ASSERT_FALSE(browser().Downloads().empty());
  EXPECT_EQ(browser().Downloads().back()->State, TORVZYNDashDownloadState::Completed);
}

TEST_F(BrowserEngineTest, BrokenDownloadIsReportedInterrupted) {
  ASSERT_TRUE(host->Load(Page()));
  DownloadLog log;
  const DownloadEventToken token =
      TrackNextDownload(browser(), log, temp->path() + QStringLiteral("/downloads/broken.bin"));
  browser().Navigate(server->Url(QStringLiteral("/broken.bin")));
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return log.ended(); }));
  browser().DownloadEvents()->RemoveDownloadStarting(token);
  browser().OnDownloadStarted = nullptr;
  EXPECT_EQ(log.events.last(), QStringLiteral("interrupted"));
  EXPECT_LT(log.lastBytes, LocalWebServer::kDownloadSize);
}

// Keeps the page's renderer from answering for a minute.
const QString kBusyScript =
    QStringLiteral("(function(){var end = Date.now() + 60000; while (Date.now() < end) {} return 'finished';})()");

QString Quoted(const QString& AText) { return QLatin1Char('"') + AText + QLatin1Char('"'); }

TEST_F(BrowserEngineTest, QueueGoesOnAfterTheRendererIsKilled) {
  ASSERT_TRUE(host->Load(Page()));
  QWebEnginePage* page = static_cast<QWebEngineView*>(browser().NativeBrowser())->page();
  const qint64 renderer = page->renderProcessPid();
  ASSERT_GT(renderer, 0);
  const int completed = host->CompleteCount();
  QStringList results;
  browser().ExecuteJavaScript(kBusyScript, [&](const QString& r) { results << r; });
  browser().ExecuteJavaScript(QStringLiteral("location.href"), [&](const QString& r) { results << r; });
  browser().OnProcessFailed = [&](TORVZYNDashCustomWebBrowser&, TORVZYNDashWebBrowserProcessFailedKind AKind) {
    results << QStringLiteral("failed %1").arg(static_cast<int>(AKind));
  };
  ASSERT_EQ(::kill(static_cast<pid_t>(renderer), SIGKILL), 0);

  // The owner heard first; the lost script failed; the next one ran in the
  // page loaded again.
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return results.size() == 3; }))
      << results.join(QLatin1Char(',')).toStdString();
  browser().OnProcessFailed = nullptr;
  const QString killed =
      QStringLiteral("failed %1").arg(static_cast<int>(TORVZYNDashWebBrowserProcessFailedKind::Killed));
  EXPECT_EQ(results, (QStringList{killed, QStringLiteral("null"), Quoted(Page())}));
  EXPECT_GT(host->CompleteCount(), completed);
  EXPECT_EQ(host->LastComplete().URL, Page());
  EXPECT_NE(page->renderProcessPid(), renderer);
}

// Page calls as the dashboard sends them, run by the engine: the page
// records each call with its text arguments as UTF-16 code units, so that
// nothing on the way back can hide a changed character.
class PageCallsInTheEngineTest : public BrowserEngineTest {
protected:
  void SetUp() override {
    BrowserEngineTest::SetUp();
    ASSERT_TRUE(host->Load(Page()));
    ASSERT_EQ(host->Eval(QStringLiteral(R"(
      const units = (v) => typeof v === 'string' ? [...Array(v.length).keys()].map((i) => v.charCodeAt(i)) : v;
      window.received = [];
      window.KitwrightOutput = (text) => {
        if (text === 'throw') throw new Error('thrown on purpose');
        received.push(['out', units(text)]);
      };
      window.KitwrightActionProgress = (...args) => { received.push(['progress', ...args.map(units)]); };
      true)")),
              QStringLiteral("true"));
  }

  // Hands what was called so far to the page (one drain of the pipeline).
  void Deliver() {
    bool drained = false;
    pipeline_.Post([&] { drained = true; });
    ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return drained; }));
  }
  // Runs a script behind the page calls (Eval would overtake them) and
  // returns its result.
  static std::string RunQueued(const QString& AScript) {
    auto result = std::make_shared<QString>(QStringLiteral("<no result>"));
    host->Browser().ExecuteJavaScript(AScript, [result](const QString& AResult) { *result = AResult; });
    BrowserTestHost::WaitFor([&] { return *result != QLatin1String("<no result>"); });
    return result->toStdString();
  }
  std::string Received() { return RunQueued(QStringLiteral("received")); }

  static QString Units(const QString& AText) {
    QStringList units;
    for (const QChar c : AText) units << QString::number(c.unicode());
    return QLatin1Char('[') + units.join(QLatin1Char(',')) + QLatin1Char(']');
  }
  static QString Output(const QString& AText) { return QStringLiteral("[\"out\",%1]").arg(Units(AText)); }
  static QString Progress(int APercent, const QString& AName, int AProductPercent, const QString& AKind) {
    return QStringLiteral("[\"progress\",%1,%2,%3,%4]")
        .arg(QString::number(APercent), Units(AName), QString::number(AProductPercent), Units(AKind));
  }
  static std::string List(const QStringList& AItems) {
    return QString(QLatin1Char('[') + AItems.join(QLatin1Char(',')) + QLatin1Char(']')).toStdString();
  }

  QtUiThread ui_;
  UiPipeline pipeline_{ui_};
  TORVDashboardPage page_{pipeline_, [](const QString& AScript) { host->Browser().ExecuteJavaScript(AScript); }};
};

TEST_F(PageCallsInTheEngineTest, HostileTextArrivesUnchangedAloneInARunAndAmongOtherCalls) {
  const QStringList hostile = {
      QStringLiteral("it's \"quoted\" and back\\slashed \\'"),
      QStringLiteral("line\nbreak\r\nand\ttab\b\f\v"),
      QString(QChar(0x2028)) + QStringLiteral("separators") + QChar(0x2029),
      QStringLiteral("</script><script>throw 1</script><!-- -->"),
      QStringLiteral("lone ") + QChar(0xD800) + QStringLiteral(" high, lone ") + QChar(0xDC00) + QStringLiteral(" low"),
      QStringLiteral("high at the end ") + QChar(0xD83D),
      QStringLiteral("a pair \U0001F600 and \u00e9"),
      QStringLiteral("nul") + QChar(0) + QStringLiteral("and control ") + QChar(1) + QChar(0x1f) + QChar(0x7f),
      QStringLiteral("${1+1} `tick` ]);throw 2;//"),
      QString(),
  };
  QStringList expected;
  // Each alone, one script each.
  for (const QString& text : hostile) {
    page_.KitwrightOutput(text);
    Deliver();
    expected << Output(text);
  }
  // All in one run, then each between two progress reports.
  for (const QString& text : hostile) {
    page_.KitwrightOutput(text);
    expected << Output(text);
  }
  for (const QString& text : hostile) {
    page_.KitwrightActionProgress(10, text, 20, text);
    page_.KitwrightOutput(text);
    expected << Progress(10, text, 20, text) << Output(text);
  }
  Deliver();
  EXPECT_EQ(Received(), List(expected));
}

TEST_F(PageCallsInTheEngineTest, AFunctionThatThrowsOrIsMissingTakesNoOtherCallWithIt) {
  page_.KitwrightOutput(QStringLiteral("first"));
  page_.KitwrightOutput(QStringLiteral("throw"));
  page_.KitwrightOutput(QStringLiteral("second"));
  page_.KitwrightActionProgress(50, QStringLiteral("P"), 60, QStringLiteral("Install"));
  page_.KitwrightOutput(QStringLiteral("throw"));
  page_.KitwrightOutput(QStringLiteral("throw"));
  page_.KitwrightActionProgress(70, QStringLiteral("P"), 80, QStringLiteral("Install"));
  page_.KitwrightOutput(QStringLiteral("third"));
  Deliver();
  // The page loses a function: calls of it fail, alone or in a run of their own.
  ASSERT_EQ(RunQueued(QStringLiteral("delete window.KitwrightActionProgress")), "true");
  page_.KitwrightOutput(QStringLiteral("fourth"));
  page_.KitwrightActionProgress(90, QStringLiteral("P"), 90, QStringLiteral("Install"));
  page_.KitwrightActionProgress(95, QStringLiteral("P"), 95, QStringLiteral("Install"));
  page_.KitwrightOutput(QStringLiteral("fifth"));
  page_.KitwrightOutput(QStringLiteral("sixth"));
  Deliver();
  EXPECT_EQ(Received(),
            List({Output(QStringLiteral("first")), Output(QStringLiteral("second")),
                  Progress(50, QStringLiteral("P"), 60, QStringLiteral("Install")),
                  Progress(70, QStringLiteral("P"), 80, QStringLiteral("Install")), Output(QStringLiteral("third")),
                  Output(QStringLiteral("fourth")), Output(QStringLiteral("fifth")), Output(QStringLiteral("sixth"))}));
}

TEST_F(BrowserEngineTest, ConsoleMessagesOfThePageReachTheOwner) {
  ASSERT_TRUE(host->Load(Page()));
  QList<TORVZYNDashWebBrowserConsoleMessage> messages;
  browser().OnGetConsoleMessage = [&](TORVZYNDashCustomWebBrowser&,
                                      const TORVZYNDashWebBrowserConsoleMessage& AMessage) { messages << AMessage; };
  host->Eval(QStringLiteral("console.warn('careful'); setTimeout(() => KitwrightActionFinished(), 0); true"));
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return messages.size() == 2; }));
  browser().OnGetConsoleMessage = nullptr;
  EXPECT_EQ(messages[0].Level, TORVZYNDashWebBrowserConsoleMessage::Warning);
  EXPECT_EQ(messages[0].Message, QStringLiteral("careful"));
  EXPECT_EQ(messages[1].Level, TORVZYNDashWebBrowserConsoleMessage::Error);
  EXPECT_TRUE(messages[1].Message.contains(QLatin1String("KitwrightActionFinished is not defined")))
      << messages[1].Message.toStdString();
}

TEST_F(BrowserEngineTest, QueueGoesOnAfterACrossSiteNavigation) {
  ASSERT_TRUE(host->Load(Page()));
  const QString otherSite = server->Url(QStringLiteral("/page"), QStringLiteral("localhost"));
  QStringList results;
  browser().ExecuteJavaScript(kBusyScript, [&](const QString& r) { results << r; });
  browser().Navigate(otherSite);
  browser().ExecuteJavaScript(QStringLiteral("location.href"), [&](const QString& r) { results << r; });

  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return results.size() == 2; }))
      << results.join(QLatin1Char(',')).toStdString();
  EXPECT_EQ(results, (QStringList{QStringLiteral("null"), Quoted(otherSite)}));
}

// The backend's error page has loaded in place of the page.
bool ErrorPageShown(TORVZYNDashCustomWebBrowser& browser) {
  const QWebEnginePage* page = static_cast<QWebEngineView*>(browser.NativeBrowser())->page();
  return page->url().scheme() == QLatin1String("data") && !page->isLoading();
}

// A port nothing listens on.
quint16 ClosedPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost);
  return probe.serverPort();
}

TEST_F(BrowserEngineTest, UnreachableAddressShowsTheErrorPageAndRetryLoadsIt) {
  ASSERT_TRUE(host->Load(Page()));
  const quint16 port = ClosedPort();
  // The bridge's own origin: its error page is still local content.
  browser().SetHostObjectOrigin(QStringLiteral("http://127.0.0.1:%1").arg(port));
  auto bridge = RegisterBridge();
  const int completed = host->CompleteCount();
  browser().Navigate(QStringLiteral("http://127.0.0.1:%1/page?q=<b>x</b>").arg(port));
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return host->CompleteCount() > completed && ErrorPageShown(browser()); }));
  const QString address = host->LastComplete().URL;
  EXPECT_FALSE(host->LastComplete().Success);
  // The error page is no navigation of the control's own.
  EXPECT_EQ(host->CompleteCount(), completed + 1);
  EXPECT_EQ(browser().URL(), address);

  EXPECT_EQ(host->Eval(QStringLiteral("document.getElementById('address').textContent")), Quoted(address));
  EXPECT_EQ(host->Eval(QStringLiteral("document.querySelectorAll('b').length")), QStringLiteral("0"));
  EXPECT_EQ(host->Eval(QStringLiteral("document.getElementById('reason').textContent")),
            QStringLiteral("\"net::ERR_CONNECTION_REFUSED\""));
  EXPECT_EQ(host->Eval(kHasHostObjects), QStringLiteral("false"));

  LocalWebServer revived(port);
  host->Eval(QStringLiteral("document.getElementById('retry').click()"));
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return host->LastComplete().Success; }));
  EXPECT_EQ(host->LastComplete().URL, address);
  EXPECT_EQ(host->Eval(QStringLiteral("document.title")), QStringLiteral("\"page\""));
  EXPECT_EQ(host->Eval(kHasHostObjects), QStringLiteral("true"));
  browser().SetHostObjectOrigin(server->Url(QStringLiteral("/")));
}

TEST_F(BrowserEngineTest, SiteThatNeverAnswersShowsTheTimeOutPage) {
  ASSERT_TRUE(host->Load(Page()));
  QTcpServer silent;  // accepts connections and never answers
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
  const QString address = QStringLiteral("http://127.0.0.1:%1/site/dashboard").arg(silent.serverPort());
  browser().SetNavigationTimeout(1000);
  const int completed = host->CompleteCount();
  browser().Navigate(address);
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return ErrorPageShown(browser()); }));
  browser().SetNavigationTimeout(TORVZYNDashCustomWebBrowser::kDefaultNavigationTimeout);

  EXPECT_EQ(host->Eval(QStringLiteral("document.getElementById('address').textContent")), Quoted(address));
  EXPECT_EQ(host->Eval(QStringLiteral("document.getElementById('reason').textContent")),
            Quoted(NavigationTimeoutReason(1000)));
  EXPECT_EQ(browser().URL(), address);
  ASSERT_GT(host->CompleteCount(), completed);
  EXPECT_EQ(host->LastComplete().URL, address);
  EXPECT_FALSE(host->LastComplete().Success);
}

// A navigation started while another one still loads has a time-out of
// its own, counted from its own start, and the error page names it.
TEST_F(BrowserEngineTest, NavigationStartedDuringALoadTimesOutOnItsOwn) {
  ASSERT_TRUE(host->Load(Page()));
  QTcpServer first, second;  // accept connections and never answer
  ASSERT_TRUE(first.listen(QHostAddress::LocalHost));
  ASSERT_TRUE(second.listen(QHostAddress::LocalHost));
  const QString address = QStringLiteral("http://127.0.0.1:%1/second").arg(second.serverPort());
  constexpr int kTimeout = 2000;
  browser().SetNavigationTimeout(kTimeout);
  const int completed = host->CompleteCount();
  browser().Navigate(QStringLiteral("http://127.0.0.1:%1/first").arg(first.serverPort()));
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return first.hasPendingConnections(); }));
  QElapsedTimer sinceSecond;
  sinceSecond.start();
  browser().Navigate(address);
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return ErrorPageShown(browser()); }));
  const qint64 shownAfter = sinceSecond.elapsed();
  browser().SetNavigationTimeout(TORVZYNDashCustomWebBrowser::kDefaultNavigationTimeout);

  EXPECT_GE(shownAfter, kTimeout * 9 / 10);  // a coarse timer may fire 5 % early
  EXPECT_EQ(host->Eval(QStringLiteral("document.getElementById('address').textContent")), Quoted(address));
  EXPECT_EQ(host->Eval(QStringLiteral("document.getElementById('reason').textContent")),
            Quoted(NavigationTimeoutReason(kTimeout)));
  EXPECT_EQ(browser().URL(), address);
  ASSERT_GT(host->CompleteCount(), completed);
  EXPECT_EQ(host->LastComplete().URL, address);
  EXPECT_FALSE(host->LastComplete().Success);
}

// The last cases (the suite runs in file order) release the engine and
// start new ones.
TEST_F(BrowserEngineTest, ForceReloadClearsTheCacheAndStartsANewEngine) {
  auto bridge = RegisterBridge();
  std::weak_ptr<TestBridge> weakBridge = bridge;
  bridge.reset();
  ASSERT_TRUE(host->Load(Page()));
  const QString folder = temp->path() + QStringLiteral("/data/EdgeCache");
  ASSERT_TRUE(QFileInfo(folder).isDir());

  browser().DeInitialize();
  EXPECT_EQ(browser().NativeBrowser(), nullptr);
  EXPECT_EQ(browser().DownloadEvents(), nullptr);
  EXPECT_TRUE(weakBridge.expired());  // the backend let go of its host objects
  bool called = false;
  browser().ExecuteJavaScript(QStringLiteral("1"), [&](const QString&) { called = true; });

  // Another browser with the same data folder has claimed it: not deleted.
  {
    TORVZYNDashWebBrowser other;
    other.SetCacheFolder(temp->path() + QStringLiteral("/data"));
    other.ClearCache();
    EXPECT_FALSE(QFileInfo(folder).exists());
    QDir().mkpath(folder);
    browser().ClearCache();
    EXPECT_TRUE(QFileInfo(folder).exists());
  }
  // The other browser is gone, and its claim with it.
  browser().ClearCache();
  EXPECT_FALSE(QFileInfo(folder).exists());

  const int completed = host->CompleteCount();
  browser().Initialize();
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return host->InitializedCount() == 2; }, 60000));
  EXPECT_FALSE(called);
  ExpectDashboardSettings(browser());
  auto again = RegisterBridge();
  // The new engine went back to the last address.
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return host->CompleteCount() > completed; }));
  EXPECT_EQ(host->LastComplete().URL, Page());
  EXPECT_EQ(host->Eval(kAssignAndRead.arg(QStringLiteral("'again'"))), QStringLiteral("\"echo:again\""));
}

// A new engine starts inside Initialize and heads for the last address at
// once, without waiting for its ready page; the site's page then lives in
// the engine's first renderer, with no second one started beside it.
TEST_F(BrowserEngineTest, NewEngineGoesStraightToTheLastAddressInItsFirstRenderer) {
  ASSERT_TRUE(host->Load(Page()));
  const int initialized = host->InitializedCount();
  const int completed = host->CompleteCount();
  browser().DeInitialize();
  browser().Initialize();
  auto* view = static_cast<QWebEngineView*>(browser().NativeBrowser());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(host->InitializedCount(), initialized);  // told from the event loop
  browser().Initialize();                            // again while the engine starts: still that engine
  EXPECT_EQ(browser().NativeBrowser(), view);
  QWebEnginePage* page = view->page();
  QSet<qint64> renderers;
  QObject::connect(page, &QWebEnginePage::renderProcessPidChanged, page, [&](qint64 pid) {
    if (pid > 0) renderers.insert(pid);
  });
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return host->CompleteCount() > completed; }, 60000));
  EXPECT_TRUE(host->LastComplete().Success);
  EXPECT_EQ(host->LastComplete().URL, Page());
  EXPECT_EQ(host->InitializedCount(), initialized + 1);
  renderers.insert(page->renderProcessPid());
  EXPECT_EQ(renderers.size(), 1);
}

TEST_F(BrowserEngineTest, EngineReleasedWhileStartingCanStartAgain) {
  const int initialized = host->InitializedCount();
  browser().DeInitialize();
  browser().Initialize();
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return browser().NativeBrowser() != nullptr; }));
  browser().DeInitialize();  // the ready page is still loading
  browser().Initialize();
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return host->InitializedCount() > initialized; }, 60000));
  EXPECT_EQ(host->InitializedCount(), initialized + 1);
  EXPECT_EQ(host->Eval(QStringLiteral("1")), QStringLiteral("1"));
}

// Moves within the page (a new fragment, a pushed history entry) load
// nothing and have no time-out: the page stays.
TEST_F(BrowserEngineTest, MovesWithinThePageNeverTimeOut) {
  ASSERT_TRUE(host->Load(Page()));
  constexpr int kTimeout = 500;
  browser().SetNavigationTimeout(kTimeout);
  host->Eval(QStringLiteral("location.hash = '#part'; history.pushState({}, '', '?pushed'); true"));
  // A timer started later and running longer fires after a time-out would have.
  bool waited = false;
  QTimer::singleShot(kTimeout * 3, [&] { waited = true; });
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return waited; }));
  browser().SetNavigationTimeout(TORVZYNDashCustomWebBrowser::kDefaultNavigationTimeout);
  EXPECT_FALSE(ErrorPageShown(browser()));
  EXPECT_EQ(host->Eval(QStringLiteral("document.title")), QStringLiteral("\"page\""));
}

// A page whose renderer dies on every load is loaded again three times,
// each time after a longer wait; then the error page shows, and its Retry
// loads the page once it works.
TEST_F(BrowserEngineTest, PageWhoseRendererDiesOnEveryLoadEndsOnTheErrorPage) {
  // A new engine: no renderer of earlier cases counts.
  const int initialized = host->InitializedCount();
  browser().DeInitialize();
  browser().Initialize();
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return host->InitializedCount() > initialized; }, 60000));
  ASSERT_TRUE(host->Load(Page()));
  QWebEnginePage* page = static_cast<QWebEngineView*>(browser().NativeBrowser())->page();
  bool crashing = true;
  const auto killRenderer = [&] {
    if (crashing && page->url().toString() == Page()) ::kill(static_cast<pid_t>(page->renderProcessPid()), SIGKILL);
  };
  QElapsedTimer clock;
  clock.start();
  QList<qint64> failedAt, reloadedAt;
  const QMetaObject::Connection onLoad = QObject::connect(page, &QWebEnginePage::loadFinished, page, killRenderer);
  browser().OnProcessFailed = [&](TORVZYNDashCustomWebBrowser&, TORVZYNDashWebBrowserProcessFailedKind) {
    failedAt << clock.elapsed();
  };
  browser().OnBeforeNavigate = [&](TORVZYNDashCustomWebBrowser&, auto&) { reloadedAt << clock.elapsed(); };
  const auto stopCrashing = qScopeGuard([&] {
    QObject::disconnect(onLoad);
    browser().OnProcessFailed = nullptr;
    browser().OnBeforeNavigate = nullptr;
  });
  killRenderer();

  // Four renderers start one after another.
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return failedAt.size() == 4 && ErrorPageShown(browser()); }, 120000))
      << failedAt.size() << " failures";
  crashing = false;
  ASSERT_EQ(reloadedAt.size(), 3);
  // Each reload waited longer than the one before (a coarse timer may fire
  // 5 % early).
  const qint64 waits[] = {0, 900, 3600};
  for (int i = 0; i < 3; ++i) EXPECT_GE(reloadedAt[i] - failedAt[i], waits[i]) << "reload " << i;
  EXPECT_EQ(host->Eval(QStringLiteral("document.getElementById('address').textContent")), Quoted(Page()));
  EXPECT_TRUE(host->Eval(QStringLiteral("document.getElementById('reason').textContent"))
                  .contains(QLatin1String("(4 times in a row)")));
  EXPECT_EQ(browser().URL(), Page());

  host->Eval(QStringLiteral("document.getElementById('retry').click()"));
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return page->url().toString() == Page() && !page->isLoading(); }));
  EXPECT_EQ(host->Eval(QStringLiteral("document.title")), QStringLiteral("\"page\""));
}

// The renderer ends while a new engine still shows its ready page: the
// engine failed to start and is released, but its view is deleted after
// the engine's signal has returned, never inside it.
TEST_F(BrowserEngineTest, RendererEndingOnTheReadyPageReleasesTheViewAfterTheSignal) {
  const int initialized = host->InitializedCount();
  browser().DeInitialize();
  QStringList errors;
  browser().OnError = [&](TORVZYNDashCustomWebBrowser&, const TORVZYNDashWebBrowserError& AError) {
    errors << AError.Type();
  };
  browser().Initialize();
  QPointer<QWebEngineView> view = static_cast<QWebEngineView*>(browser().NativeBrowser());
  ASSERT_FALSE(view.isNull());
  QWebEnginePage* page = view->page();
  bool viewAliveAfterTheBackend = false;
  // Connected after the backend's handler: runs when it has returned, if
  // the signal's sender still exists.
  QObject::connect(page, &QWebEnginePage::renderProcessTerminated, qApp,
                   [&] { viewAliveAfterTheBackend = !view.isNull(); });
  emit page->renderProcessTerminated(QWebEnginePage::CrashedTerminationStatus, SIGSEGV);

  EXPECT_TRUE(viewAliveAfterTheBackend);
  EXPECT_EQ(browser().NativeBrowser(), nullptr);
  EXPECT_EQ(errors, QStringList{QStringLiteral("INIT_ERROR")});
  // Deleted later (here outside any running event loop, so asked for).
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return view.isNull();
  }));
  browser().OnError = nullptr;

  browser().Initialize();
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return host->InitializedCount() > initialized; }, 60000));
  EXPECT_EQ(host->Eval(QStringLiteral("1")), QStringLiteral("1"));
}

// Force Reload while a download runs: it ends as interrupted with its
// engine, for its listeners and for the component's own record.
TEST_F(BrowserEngineTest, ReleasingTheEngineInterruptsItsDownloads) {
  ASSERT_TRUE(host->Load(Page()));
  DownloadLog log;
  TrackNextDownload(browser(), log, temp->path() + QStringLiteral("/downloads/slow.bin"));
  browser().Navigate(server->Url(QStringLiteral("/slow.bin")));
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return log.lastBytes > 0; }));
  const int initialized = host->InitializedCount();

  browser().DeInitialize();
  browser().OnDownloadStarted = nullptr;
  EXPECT_EQ(log.events.last(), QStringLiteral("interrupted"));
  EXPECT_EQ(log.operation->State(), DownloadState::Interrupted);
  EXPECT_EQ(browser().Downloads().back()->State, TORVZYNDashDownloadState::Interrupted);

  browser().Initialize();
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return host->InitializedCount() > initialized; }, 60000));
  EXPECT_EQ(log.events.count(QStringLiteral("interrupted")), 1) << "reported once";
}

TEST(BrowserWithoutHost, EngineStartFailsWithTheInitializationError) {
  TORVZYNDashWebBrowser browser;
  QStringList errors;
  browser.OnError = [&](TORVZYNDashCustomWebBrowser&, const TORVZYNDashWebBrowserError& error) {
    errors << error.Type() + QLatin1Char('|') + error.Message();
  };
  browser.Initialize();           // no parent window to live in
  EXPECT_TRUE(errors.isEmpty());  // never inside the call
  ASSERT_TRUE(BrowserTestHost::WaitFor([&] { return !errors.isEmpty(); }));
  EXPECT_EQ(errors, QStringList{QStringLiteral("INIT_ERROR|Could not initialize Edge Chromium! Please check Edge "
                                               "Chromium installation and verify correct version number.")});
}

// Run with QTWEBENGINEPROCESS_PATH pointing nowhere.
TEST(EngineMissing, InitializeReportsTheMissingEngine) {
  EXPECT_FALSE(QtWebEngineLoaded());
  TORVZYNDashWebBrowser browser;
  QStringList errors;
  browser.OnError = [&](TORVZYNDashCustomWebBrowser&, const TORVZYNDashWebBrowserError& error) {
    errors << error.Type();
  };
  QWidget window;
  browser.SetParent(&window);
  EXPECT_EQ(errors, QStringList{QStringLiteral("DLL_ERROR")});
  EXPECT_EQ(browser.NativeBrowser(), nullptr);
}

}  // namespace
}  // namespace orv
