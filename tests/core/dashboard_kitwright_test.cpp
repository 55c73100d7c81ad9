// The controller's package-manager side: the environment's handlers and
// their page calls, batches, the package manager's queries, and the
// threads, against the orv.exe stand-in where commands run.
#include "dashboard_fixture.h"
#include "platform/exception.h"
#include "support/error_of.h"
#include "support/page_calls.h"
#include "support/page_recorder.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <thread>

namespace orv {
namespace {

using Json = nlohmann::ordered_json;
using test::Message;

const QString kFinished = QStringLiteral("KitwrightActionFinished();");

// The texts of the KitwrightOutput calls, in order.
QStringList OutputLines(const QStringList& calls) {
  static const QString kCall = QStringLiteral("KitwrightOutput(");
  QStringList lines;
  for (const QString& call : calls)
    if (call.startsWith(kCall))
      lines << test::PageRecorder::Unquote(call.mid(kCall.size(), call.size() - kCall.size() - 2));
  return lines;
}

QStringList Progress(const QStringList& calls) {
  return calls.filter(QRegularExpression(QStringLiteral("^KitwrightActionProgress\\(")));
}

// --- the handlers on their own -----------------------------------------------

using DashboardKitwrightTest = test::DashboardFixture;

// What the page shows in red; the rest of an output line's way to the page
// is the page's (dashboard_page_test).
TEST(KitwrightOutputMarkupTest, LinesThatMentionErrorsAreRed) {
  const QString red = QStringLiteral("<span style=\"color: red;\">%1</span>");
  const QString cases[][2] = {
      {QStringLiteral("[ 40%] Building x"), QStringLiteral("[ 40%] Building x")},
      {QStringLiteral("Error: disk full"), red.arg(QStringLiteral("Error: disk full"))},
      {QStringLiteral("ERROR: in capitals"), red.arg(QStringLiteral("ERROR: in capitals"))},
      {QStringLiteral("x: failed, Errors found: 1"), red.arg(QStringLiteral("x: failed, Errors found: 1"))},
      {QStringLiteral("no error here, one error"), QStringLiteral("no error here, one error")},
      {QString(), QString()},
  };
  for (const auto& [line, shown] : cases) EXPECT_EQ(KitwrightOutputMarkup(line), shown) << line.toStdString();
}

TEST_F(DashboardKitwrightTest, BatchesWithoutPackageManagerProductsStartNothing) {
  WriteFile(Dir(QStringLiteral("dl/P/P_1.0_REG.zip")));
  const QString cases[] = {
      QStringLiteral("{\"EventName\":\"INSTALLKITWRIGHTPRODUCT\",\"Name\":\"K\",\"Version\":\"1\"}"),  // an object
      QStringLiteral("[]"),
      QStringLiteral("[{\"EventName\":\"INSTALLKITWRIGHTPRODUCT\",\"Name\":\"K\",\"KitwrightID\":\"k\"}]"),
      QStringLiteral("[{\"EventName\":\"INSTALL\",\"Name\":\"P\",\"Version\":\"1.0\"}]"),  // classic
      QStringLiteral("[{\"EventName\":\"REMOVE\",\"Name\":\"K\",\"Version\":\"1\",\"KitwrightID\":\"k\"}]"),
  };
  for (const QString& data : cases) {
    Send(Message(QStringLiteral("{\"EventName\":\"MULTIACTION\"}"), data));
    EXPECT_EQ(PageCalls().size(), 1) << "only the log of the data: " << data.toStdString();
    EXPECT_EQ(dashboard_->Status(), 0) << data.toStdString();
    EXPECT_FALSE(dashboard_->IsRunning()) << data.toStdString();
    EXPECT_TRUE(dashboard_->Kitwright().KitwrightAction().isEmpty()) << data.toStdString();
  }
  EXPECT_EQ(dialogs_.asked.size(), static_cast<qsizetype>(std::size(cases)));
}

// --- against the stand-in ------------------------------------------------------

// The package manager in a folder whose name has a blank, with a scene of
// three products of which one is installed, and a stored account.
class KitwrightStandIn : public test::DashboardFixture {
protected:
  void SetUp() override {
    DashboardFixture::SetUp();
    folder_ = Dir(QStringLiteral("kit wright"));
    ASSERT_TRUE(QDir().mkpath(folder_));
    ASSERT_TRUE(QFile::link(QStringLiteral(ORV_STANDIN_EXE), folder_ + QStringLiteral("/orv.exe")));
    SetSetting(QStringLiteral("KITWRIGHTDIR"), folder_);
    SetSetting(QStringLiteral("USERNAME"), QStringLiteral("dev@example.com"));
    SetSetting(QStringLiteral("PASSWORD"), QStringLiteral("CODE-1"));
    WriteScene();
  }

  void WriteScene(const Json& knobs = Json::object(), const Json& config = Json::object()) {
    const Json scene = {{"version", "2.5.0.0"},
                        {"folder_initialized", true},
                        {"credentials", nullptr},
                        {"repositories",
                         {{"default",
                           {{"orv.zyn.core", {{"name", "ORV ZYN Core"}, {"version", "3.2.0.0"}}},
                            {"orv.zyn.canvas", {{"name", "ORV ZYN Canvas"}, {"version", "3.2.0.0"}}},
                            {"orv.grids", {{"name", "Grid Suite"}, {"version", "5.2.0.0"}}}}}}},
                        {"installed",
                         {{"orv.grids",
                           {{"name", "Grid Suite"},
                            {"version", "5.1.0.0"},
                            {"local", false},
                            {"ides", {{"delphi12", {{"platforms", {{"win32intel", {{"built", true}}}}}}}}}}}}},
                        {"config", config},
                        {"knobs", knobs}};
    WriteFile(folder_ + QStringLiteral("/orv-state.json"), QByteArray::fromStdString(scene.dump()));
  }
  Json State() const { return Json::parse(ReadFile(folder_ + QStringLiteral("/orv-state.json")).toStdString()); }
  void EditState(const std::function<void(Json&)>& AEdit) {
    Json state = State();
    AEdit(state);
    WriteFile(folder_ + QStringLiteral("/orv-state.json"), QByteArray::fromStdString(state.dump()));
  }
  // Two more products: Chart Kit to install, and ORV ZYN Canvas installed.
  void AddChartsAndInstalledCanvas() {
    EditState([](Json& state) {
      state["repositories"]["default"]["orv.charts"] = {{"name", "Chart Kit"}, {"version", "2.0.0.0"}};
      Json canvas = state["installed"]["orv.grids"];
      canvas["name"] = "ORV ZYN Canvas";
      canvas["version"] = "3.2.0.0";
      state["installed"]["orv.zyn.canvas"] = canvas;
    });
  }
  QStringList BatchCommands(qsizetype since = 0) const {
    return Commands().mid(since).filter(QRegularExpression(QStringLiteral("^(un)?install ")));
  }
  void SendBatch(const Json& items) {
    Send(Message(QStringLiteral("{\"EventName\":\"MULTIACTION\"}"), QString::fromStdString(items.dump())));
  }

  // The command lines the stand-in ran, from its log, oldest first.
  QStringList Commands() const {
    static const QRegularExpression heading(QStringLiteral("<h3>\\S+ orv (.*)</h3>"));
    QStringList commands;
    const QString log = QString::fromUtf8(ReadFile(folder_ + QStringLiteral("/Logs/orv.log.html")));
    for (auto match = heading.globalMatch(log); match.hasNext();)
      commands << match.next()
                      .captured(1)
                      .replace(QStringLiteral("&quot;"), QStringLiteral("\""))
                      .replace(QStringLiteral("&lt;"), QStringLiteral("<"))
                      .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
                      .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    return commands;
  }
  bool Ran(const QString& prefix, qsizetype since = 0) const {
    return !Commands()
                .mid(since)
                .filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(prefix)))
                .isEmpty();
  }

  // Waits for what no posted work announces (a file the stand-in writes, a
  // command's end) without running the UI thread's work, which piles up
  // meanwhile.
  static bool WaitUnpumped(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  // Pumps until the environment is idle after the stand-in ran commands
  // with each prefix (since the given count of commands); the page calls
  // that came meanwhile go to calls_.
  void WaitFor(const QStringList& prefixes, qsizetype since = 0) {
    const bool done = ui_.PumpUntil([&] {
      calls_ += test::PageCallsOf(PageCalls());
      if (dashboard_->IsRunning()) return false;
      for (const QString& prefix : prefixes)
        if (!Ran(prefix, since)) return false;
      return true;
    });
    ASSERT_TRUE(done) << "ran: " << Commands().join(QStringLiteral(" | ")).toStdString();
  }

  // The product rows from a first refresh, with the environment idle.
  void LoadRows() {
    EXPECT_EQ(Ask(QStringLiteral("GETKITWRIGHTPRODUCTSTATUS")), QStringLiteral("{\"Products\": []}"));
    WaitFor({QStringLiteral("self-update"), QStringLiteral("list-remote")});
    ASSERT_GE(dashboard_->Kitwright().ProductStatusList().Count(), 3u);
  }

  // Sends a batch the user confirms and pumps until the page heard of the
  // batch's end and nothing runs any more. The calls go to calls_, those
  // from the batch's first progress report to that end to batch_; status
  // refreshes started earlier may end before or after.
  void RunBatch(const Json& items) {
    const qsizetype since = Commands().size();
    calls_.clear();
    Send(Message(QStringLiteral("{\"EventName\":\"MULTIACTION\"}"), QString::fromStdString(items.dump())));
    const bool done = ui_.PumpUntil([&] {
      calls_ += test::PageCallsOf(PageCalls());
      return !BatchCalls().isEmpty() && !dashboard_->IsRunning();
    });
    ASSERT_TRUE(done) << "ran: " << Commands().mid(since).join(QStringLiteral(" | ")).toStdString();
    batch_ = BatchCalls();
  }
  QStringList BatchCalls() const {
    // indexOf matches the expression against whole calls.
    const qsizetype first = calls_.indexOf(QRegularExpression(QStringLiteral("KitwrightActionProgress\\(.*")));
    const qsizetype end = first < 0 ? -1 : calls_.indexOf(kFinished, first);
    return end < 0 ? QStringList() : calls_.mid(first, end - first + 1);
  }
  static Json Item(const char* kind, const char* name, const char* id) {
    return {{"EventName", kind}, {"Name", name}, {"Version", "1.0"}, {"KitwrightID", id}};
  }

  QString Status(const char* id) const {
    for (const auto& row : dashboard_->Kitwright().ProductStatusList())
      if (row->ProductID() == QLatin1String(id)) return row->ProductStatus();
    return {};
  }

  QString folder_;
  QStringList calls_;
  QStringList batch_;
};

// The refresh starts whenever the environment was idle before the query,
// however soon the query's own self-update begins (a slow machine).
TEST_F(KitwrightStandIn, StatusQueryAnswersTheLastRefreshAndStartsTheNext) {
  LoadRows();
  const QStringList commands = Commands();
  EXPECT_TRUE(commands.contains(QStringLiteral("credentials -set -email:dev@example.com -code:CODE-1")) ||
              commands.contains(QStringLiteral("credentials -set -email:dev@example.com -code:****")))
      << commands.join(QStringLiteral(" | ")).toStdString();
  const qsizetype since = commands.size();
  EXPECT_EQ(
      Ask(QStringLiteral("GETKITWRIGHTPRODUCTSTATUS")),
      QStringLiteral(
          "{\"Products\": ["
          "{\"Name\": \"Grid Suite\", \"Version\": \"5.1\", \"ID\": \"orv.grids\", \"Status\": \"installed\"},"
          "{\"Name\": \"ORV ZYN Core\", \"Version\": \"\", \"ID\": \"orv.zyn.core\", \"Status\": \"not installed\"},"
          "{\"Name\": \"ORV ZYN Canvas\", \"Version\": \"\", \"ID\": \"orv.zyn.canvas\", \"Status\": \"not "
          "installed\"}]}"));
  WaitFor({QStringLiteral("self-update"), QStringLiteral("list-remote")}, since);
  // The information command and the refresh each ended with the page told.
  EXPECT_FALSE(calls_.filter(kFinished).isEmpty());
}

// A failing self-update costs the rows nothing, and the page hears of the
// end as for any command.
TEST_F(KitwrightStandIn, AFailingSelfUpdateStillLoadsTheRows) {
  WriteScene({{"exit_code", {{"self-update", 1}}}});
  LoadRows();
  EXPECT_EQ(Status("orv.grids"), QStringLiteral("installed"));
  EXPECT_FALSE(calls_.filter(kFinished).isEmpty());
  EXPECT_EQ(dashboard_->Status(), 0);
  EXPECT_FALSE(dashboard_->IsRunning());
}

TEST_F(KitwrightStandIn, InstallBatchRunsInRequirementOrderWithProgressOutputAndNewRows) {
  LoadRows();
  RunBatch(Json::array({Item("InstallKitwrightProduct", "ORV ZYN Canvas", "orv.zyn.canvas"),
                        Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Core", "orv.zyn.core")}));

  EXPECT_TRUE(Ran(QStringLiteral("install orv.zyn.core orv.zyn.canvas -display-options:product-progress")))
      << Commands().join(QStringLiteral(" | ")).toStdString();
  const QStringList progress = Progress(batch_);
  ASSERT_GE(progress.size(), 3);
  EXPECT_EQ(progress.first(), QStringLiteral("KitwrightActionProgress(0, \"\", 0, \"Install\");"));
  EXPECT_FALSE(progress.filter(QStringLiteral(", \"ORV ZYN Canvas\", ")).isEmpty());
  EXPECT_EQ(progress.last(), QStringLiteral("KitwrightActionProgress(100, \"\", 0, \"Install\");"));

  const QStringList lines = OutputLines(calls_);
  EXPECT_EQ(lines.first(), QStringLiteral("Installing 2 products: orv.zyn.core, orv.zyn.canvas"));
  EXPECT_TRUE(lines.contains(QStringLiteral("=== Build Summary ===")));
  EXPECT_EQ(dashboard_->Kitwright().OutputCount(), lines.size());
  EXPECT_TRUE(lines.filter(QStringLiteral("<span")).isEmpty());

  EXPECT_EQ(Status("orv.zyn.core"), QStringLiteral("installed"));
  EXPECT_EQ(Status("orv.zyn.canvas"), QStringLiteral("installed"));
  EXPECT_EQ(dashboard_->Status(), 0);
  EXPECT_TRUE(dashboard_->Kitwright().KitwrightAction().isEmpty());
}

TEST_F(KitwrightStandIn, UninstallBatchReportsOverallProgress) {
  LoadRows();
  RunBatch(Json::array({Item("UNINSTALLKITWRIGHTPRODUCT", "Grid Suite", "orv.grids")}));
  EXPECT_TRUE(Ran(QStringLiteral("uninstall orv.grids"))) << Commands().join(QStringLiteral(" | ")).toStdString();
  const QStringList progress = Progress(batch_);
  ASSERT_GE(progress.size(), 2);
  EXPECT_EQ(progress.first(), QStringLiteral("KitwrightActionProgress(0, \"\", 0, \"Uninstall\");"));
  EXPECT_EQ(progress.last(), QStringLiteral("KitwrightActionProgress(100, \"\", 0, \"Uninstall\");"));
  EXPECT_EQ(Status("orv.grids"), QStringLiteral("available"));
}

// The uninstall command gets only the products to remove; the installs
// follow once it succeeded, and the page hears of the end once.
TEST_F(KitwrightStandIn, MixedBatchUninstallsFirstThenInstalls) {
  LoadRows();
  RunBatch(Json::array({Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Core", "orv.zyn.core"),
                        Item("UNINSTALLKITWRIGHTPRODUCT", "Grid Suite", "orv.grids")}));

  const QStringList batchCommands = Commands().filter(QRegularExpression(QStringLiteral("^(un)?install ")));
  EXPECT_EQ(batchCommands, (QStringList{QStringLiteral("uninstall orv.grids"),
                                        QStringLiteral("install orv.zyn.core -display-options:product-progress")}));
  const QStringList progress = Progress(batch_);
  const qsizetype uninstallDone =
      progress.indexOf(QStringLiteral("KitwrightActionProgress(100, \"\", 0, \"Uninstall\");"));
  const qsizetype installStart = progress.indexOf(QStringLiteral("KitwrightActionProgress(0, \"\", 0, \"Install\");"));
  EXPECT_GE(uninstallDone, 0);
  EXPECT_GT(installStart, uninstallDone);
  EXPECT_EQ(progress.last(), QStringLiteral("KitwrightActionProgress(100, \"\", 0, \"Install\");"));
  EXPECT_EQ(Status("orv.grids"), QStringLiteral("available"));
  EXPECT_EQ(Status("orv.zyn.core"), QStringLiteral("installed"));
  EXPECT_EQ(dashboard_->Status(), 0);
}

// The installs do not depend on the uninstall command's success: the page
// hears of the failure, and nothing of that batch is left for the next.
TEST_F(KitwrightStandIn, MixedBatchWhoseUninstallFailsStillInstalls) {
  WriteScene({{"fail_products", {"orv.grids"}}});
  LoadRows();
  RunBatch(Json::array({Item("UNINSTALLKITWRIGHTPRODUCT", "Grid Suite", "orv.grids"),
                        Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Core", "orv.zyn.core")}));
  EXPECT_EQ(BatchCommands(), (QStringList{QStringLiteral("uninstall orv.grids"),
                                          QStringLiteral("install orv.zyn.core -display-options:product-progress")}));
  EXPECT_FALSE(OutputLines(calls_)
                   .filter(QRegularExpression(QStringLiteral("^<span style=\"color: red;\">.*Error: E2003")))
                   .isEmpty());
  EXPECT_EQ(Status("orv.zyn.core"), QStringLiteral("installed"));
  EXPECT_EQ(dashboard_->Status(), 0);
  EXPECT_TRUE(dashboard_->Kitwright().KitwrightAction().isEmpty());

  // The next mixed batch runs both of its commands.
  EditState([](Json& state) { state["knobs"] = Json::object(); });
  const qsizetype since = Commands().size();
  RunBatch(Json::array({Item("UNINSTALLKITWRIGHTPRODUCT", "ORV ZYN Core", "orv.zyn.core"),
                        Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Canvas", "orv.zyn.canvas")}));
  EXPECT_EQ(BatchCommands(since),
            (QStringList{QStringLiteral("uninstall orv.zyn.core"),
                         QStringLiteral("install orv.zyn.canvas -display-options:product-progress")}));
  EXPECT_EQ(Status("orv.zyn.core"), QStringLiteral("available"));
  EXPECT_EQ(Status("orv.zyn.canvas"), QStringLiteral("installed"));
}

// A reinstall where the package manager fails one product: the other is
// installed again, the failed one was never removed, and the page hears
// which failed.
TEST_F(KitwrightStandIn, ReinstallNeverLeavesAProductRemoved) {
  AddChartsAndInstalledCanvas();
  EditState([](Json& state) { state["knobs"] = {{"fail_products", {"orv.grids"}}}; });
  LoadRows();
  RunBatch(Json::array({Item("UNINSTALLKITWRIGHTPRODUCT", "ORV ZYN Canvas", "orv.zyn.canvas"),
                        Item("UNINSTALLKITWRIGHTPRODUCT", "Grid Suite", "orv.grids"),
                        Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Canvas", "orv.zyn.canvas"),
                        Item("INSTALLKITWRIGHTPRODUCT", "Grid Suite", "orv.grids")}));
  const QStringList commands = BatchCommands();
  ASSERT_EQ(commands.size(), 2) << commands.join(QStringLiteral(" | ")).toStdString();
  EXPECT_TRUE(commands[0].startsWith(QLatin1String("uninstall "))) << commands[0].toStdString();
  EXPECT_TRUE(commands[1].startsWith(QLatin1String("install "))) << commands[1].toStdString();
  EXPECT_EQ(Status("orv.zyn.canvas"), QStringLiteral("installed"));
  EXPECT_EQ(Status("orv.grids"), QStringLiteral("installed"));
  EXPECT_FALSE(OutputLines(calls_)
                   .filter(QRegularExpression(QStringLiteral("^<span style=\"color: red;\">.*orv\\.grids")))
                   .isEmpty());
  EXPECT_EQ(batch_.filter(kFinished).size(), 1);
}

// A batch sent while the first refresh still reads the rows waits for it:
// its commands get their products, and until the last has ended the page
// hears of no end and the status stays "Install".
class BatchDuringARefresh : public KitwrightStandIn {
protected:
  void Check(const Json& items, const QString& firstKind, const QStringList& commands) {
    WriteScene({{"delay_ms", 20}});
    Ask(QStringLiteral("GETKITWRIGHTPRODUCTSTATUS"));
    ASSERT_TRUE(ui_.PumpUntil([&] { return dashboard_->IsRunning(); }));
    calls_ += test::PageCallsOf(PageCalls());
    const qsizetype sent = calls_.size();
    SendBatch(items);
    bool statusKept = true;
    ASSERT_TRUE(ui_.PumpUntil([&] {
      calls_ += test::PageCallsOf(PageCalls());
      const bool ended = calls_.mid(sent).contains(kFinished);
      if (!ended) statusKept = statusKept && Ask(QStringLiteral("GETSTATUS")) == QLatin1String("Install");
      return ended;
    }));
    EXPECT_TRUE(statusKept);
    const QStringList afterSending = calls_.mid(sent);
    const qsizetype begun =
        afterSending.indexOf(QStringLiteral("KitwrightActionProgress(0, \"\", 0, \"%1\");").arg(firstKind));
    ASSERT_GE(begun, 0) << afterSending.join(QLatin1Char('\n')).toStdString();
    const qsizetype installed =
        afterSending.indexOf(QStringLiteral("KitwrightActionProgress(100, \"\", 0, \"Install\");"), begun);
    ASSERT_GE(installed, 0) << afterSending.join(QLatin1Char('\n')).toStdString();
    EXPECT_GT(afterSending.indexOf(kFinished), installed) << "no end before the last command's";
    EXPECT_EQ(afterSending.filter(kFinished).size(), 1);
    EXPECT_EQ(BatchCommands(), commands);
    ASSERT_TRUE(ui_.PumpUntil([&] { return !dashboard_->IsRunning(); }));
  }
};

// The refresh and the self-update beside it both end before the UI thread
// hears of either: the first end starts the batch's uninstall, and the
// second must not be taken for the end of that command, which has not
// begun yet.
TEST_F(BatchDuringARefresh, EndsHeardBeforeItsFirstCommandBegan) {
  // The refresh's reading of the remote rows waits until the batch is sent.
  const QString go = folder_ + QStringLiteral("/go");
  WriteScene({{"wait_for_file", {{"list-remote", go.toStdString()}}}});
  Ask(QStringLiteral("GETKITWRIGHTPRODUCTSTATUS"));
  ASSERT_TRUE(WaitUnpumped([&] { return QFile::exists(go + QStringLiteral(".waiting")); }));
  calls_ += test::PageCallsOf(PageCalls());  // the status query's own
  const qsizetype sent = calls_.size();
  SendBatch(Json::array({Item("UNINSTALLKITWRIGHTPRODUCT", "Grid Suite", "orv.grids"),
                         Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Core", "orv.zyn.core")}));
  WriteFile(go, {});
  ASSERT_TRUE(WaitUnpumped([&] {
    return Ran(QStringLiteral("self-update")) && Ran(QStringLiteral("list-remote")) &&
           !dashboard_->Kitwright().IsRunning();
  }));
  ASSERT_TRUE(ui_.PumpUntil([&] {
    calls_ += test::PageCallsOf(PageCalls());
    return calls_.contains(kFinished) && !dashboard_->IsRunning();
  }));
  const QStringList progress = Progress(calls_.mid(sent));
  const qsizetype uninstalled =
      progress.indexOf(QStringLiteral("KitwrightActionProgress(100, \"\", 0, \"Uninstall\");"));
  const qsizetype installBegun = progress.indexOf(QStringLiteral("KitwrightActionProgress(0, \"\", 0, \"Install\");"));
  ASSERT_GE(uninstalled, 0) << progress.join(QLatin1Char('\n')).toStdString();
  EXPECT_GT(installBegun, uninstalled) << progress.join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(calls_.mid(sent).filter(kFinished).size(), 1) << calls_.join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(BatchCommands(), (QStringList{QStringLiteral("uninstall orv.grids"),
                                          QStringLiteral("install orv.zyn.core -display-options:product-progress")}));
}

TEST_F(BatchDuringARefresh, OfOneKind) {
  Check(Json::array({Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Core", "orv.zyn.core")}), QStringLiteral("Install"),
        {QStringLiteral("install orv.zyn.core -display-options:product-progress")});
  EXPECT_EQ(Status("orv.zyn.core"), QStringLiteral("installed"));
}

TEST_F(BatchDuringARefresh, Mixed) {
  Check(Json::array({Item("UNINSTALLKITWRIGHTPRODUCT", "Grid Suite", "orv.grids"),
                     Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Core", "orv.zyn.core")}),
        QStringLiteral("Uninstall"),
        {QStringLiteral("uninstall orv.grids"),
         QStringLiteral("install orv.zyn.core -display-options:product-progress")});
  EXPECT_EQ(Status("orv.grids"), QStringLiteral("available"));
  EXPECT_EQ(Status("orv.zyn.core"), QStringLiteral("installed"));
}

// A second batch sent while the first runs follows it in full; the page
// hears of each batch's end once, after its last command.
TEST_F(KitwrightStandIn, SecondBatchFollowsTheFirstInFull) {
  AddChartsAndInstalledCanvas();
  LoadRows();
  EditState([](Json& state) { state["knobs"] = {{"delay_ms", 5}}; });
  calls_.clear();
  SendBatch(Json::array({Item("UNINSTALLKITWRIGHTPRODUCT", "Grid Suite", "orv.grids"),
                         Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Core", "orv.zyn.core")}));
  const QString installBegun = QStringLiteral("KitwrightActionProgress(0, \"\", 0, \"Install\");");
  ASSERT_TRUE(ui_.PumpUntil([&] { return (calls_ += test::PageCallsOf(PageCalls())).contains(installBegun); }));
  SendBatch(Json::array({Item("UNINSTALLKITWRIGHTPRODUCT", "ORV ZYN Canvas", "orv.zyn.canvas"),
                         Item("INSTALLKITWRIGHTPRODUCT", "Chart Kit", "orv.charts")}));
  ASSERT_TRUE(ui_.PumpUntil([&] {
    calls_ += test::PageCallsOf(PageCalls());
    return calls_.filter(kFinished).size() >= 2 && !dashboard_->IsRunning();
  }));
  EXPECT_EQ(BatchCommands(), (QStringList{QStringLiteral("uninstall orv.grids"),
                                          QStringLiteral("install orv.zyn.core -display-options:product-progress"),
                                          QStringLiteral("uninstall orv.zyn.canvas"),
                                          QStringLiteral("install orv.charts -display-options:product-progress")}));
  const qsizetype firstEnd = calls_.indexOf(kFinished);
  const qsizetype secondStart =
      calls_.indexOf(QStringLiteral("KitwrightActionProgress(0, \"\", 0, \"Uninstall\");"), firstEnd);
  EXPECT_GT(secondStart, firstEnd);
  EXPECT_EQ(calls_.mid(0, firstEnd).filter(installBegun).size(), 1);
  EXPECT_EQ(calls_.filter(kFinished).size(), 2);
  EXPECT_EQ(calls_.lastIndexOf(kFinished), calls_.size() - 1);
  EXPECT_EQ(Status("orv.grids"), QStringLiteral("available"));
  EXPECT_EQ(Status("orv.zyn.core"), QStringLiteral("installed"));
  EXPECT_EQ(Status("orv.zyn.canvas"), QStringLiteral("available"));
  EXPECT_EQ(Status("orv.charts"), QStringLiteral("installed"));
  EXPECT_EQ(dashboard_->Status(), 0);
}

TEST_F(KitwrightStandIn, FailingInstallShowsItsErrorsAndEndsWithoutFinalProgress) {
  WriteScene({{"fail_products", {"orv.zyn.canvas"}}});
  LoadRows();
  RunBatch(Json::array({Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Core", "orv.zyn.core"),
                        Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Canvas", "orv.zyn.canvas")}));
  const QStringList red =
      OutputLines(calls_).filter(QRegularExpression(QStringLiteral("^<span style=\"color: red;\">.*</span>$")));
  ASSERT_GE(red.size(), 2);  // the error and the summary line
  EXPECT_TRUE(red.first().contains(QStringLiteral("Error: E2003"))) << red.first().toStdString();
  EXPECT_FALSE(Progress(batch_).contains(QStringLiteral("KitwrightActionProgress(100, \"\", 0, \"Install\");")));
  EXPECT_EQ(dashboard_->Status(), 0);
}

TEST_F(KitwrightStandIn, DelphiVersionsAreStoredAsOneListAndReadBackTrimmed) {
  EXPECT_EQ(Ask(QStringLiteral("GETKITWRIGHTWRITEDELPHIVERSIONS")), QString());
  EXPECT_EQ(State()["config"]["configuration for all products:delphi versions"], "[]");
  EXPECT_EQ(Ask(QStringLiteral("GETKITWRIGHTREADDELPHIVERSIONS")), QString());

  dashboard_->WriteDelphiVersions({QStringLiteral("delphi12"), QStringLiteral("delphi11")});
  EXPECT_EQ(State()["config"]["configuration for all products:delphi versions"], "[delphi12, delphi11]");
  QStringList values{QStringLiteral("stale")};
  dashboard_->ReadDelphiVersions(values);
  EXPECT_EQ(values, (QStringList{QStringLiteral("delphi12"), QStringLiteral("delphi11")}));

  dashboard_->WriteDelphiVersions({});
  dashboard_->ReadDelphiVersions(values);
  EXPECT_EQ(values, QStringList());
}

TEST_F(KitwrightStandIn, DelphiVersionQueriesFailWithTheirMessages) {
  struct Case {
    const char* query;
    const char* failingCommand;
    const char* message;
  };
  const Case cases[] = {
      {"GETKITWRIGHTREADDELPHIVERSIONS", "config-read", "Failed to load Delphi version selection"},
      {"GETKITWRIGHTWRITEDELPHIVERSIONS", "config-write", "Failed to save Delphi version selection"},
  };
  for (const Case& c : cases) {
    WriteScene({{"exit_code", {{c.failingCommand, 1}}}});
    const QString query = QString::fromLatin1(c.query);
    Send(test::Event(query));
    EXPECT_EQ(test::errorOf([&] { Read(); }),
              (test::Error{QStringLiteral("Exception"), QString::fromLatin1(c.message)}));
    EXPECT_EQ(dashboard_->Action(), query) << "kept for the next read";
  }
}

TEST_F(KitwrightStandIn, VersionAndConfigureRunOnTheCallingThread) {
  EXPECT_EQ(dashboard_->GetKitwrightVersion(), QStringLiteral("2.5"));
  dashboard_->OpenKitwrightConfig();
  EXPECT_EQ(Commands().last(), QStringLiteral("config"));
  // Each ended with the page told.
  EXPECT_EQ(PageCalls().filter(kFinished).size(), 2);
}

// The environment's own clause: a command runs before its start reached
// the controller's status.
TEST_F(KitwrightStandIn, IsRunningWhileTheEnvironmentRunsACommand) {
  LoadRows();
  // The refresh's commands wait until the test has looked.
  const QString go = folder_ + QStringLiteral("/go");
  WriteScene({{"wait_for_file",
               {{"self-update", go.toStdString()}, {"list", go.toStdString()}, {"list-remote", go.toStdString()}}}});
  Ask(QStringLiteral("GETKITWRIGHTPRODUCTSTATUS"));
  ASSERT_TRUE(WaitUnpumped([&] { return QFile::exists(go + QStringLiteral(".waiting")); }));
  ASSERT_TRUE(ui_.PumpUntil([&] { return dashboard_->Statuses().Has(sRunning); }));
  dashboard_->Statuses().Exclude(sRunning);
  EXPECT_EQ(dashboard_->Status(), 0);
  EXPECT_TRUE(dashboard_->IsRunning());
  EXPECT_EQ(Ask(QStringLiteral("GETSTATUS")), QString());
  WriteFile(go, {});
  EXPECT_TRUE(ui_.PumpUntil([&] { return !dashboard_->IsRunning(); }));
}

// The environment goes first: its command is cancelled and its handlers
// reach no freed controller (the address and thread sanitizers watch).
TEST_F(KitwrightStandIn, DestroyingTheControllerStopsARunningBatch) {
  LoadRows();
  // The install prints that it waits for its build tool, then waits ten
  // minutes before its product: the batch is surely running.
  WriteScene({{"grandchild_seconds", 600}});
  Send(Message(
      QStringLiteral("{\"EventName\":\"MULTIACTION\"}"),
      QString::fromStdString(Json::array({Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Core", "orv.zyn.core")}).dump())));
  ASSERT_TRUE(ui_.PumpUntil([&] {
    return !OutputLines(calls_ += test::PageCallsOf(PageCalls()))
                .filter(QStringLiteral("Waiting for the build tool"))
                .isEmpty();
  }));
  dashboard_.reset();
  ui_.Pump();
  EXPECT_FALSE(State()["installed"].contains("orv.zyn.core"));
}

// Real commands on the environment's threads while the UI thread asks for
// the status, the rows and product names and starts more commands
// (labelled tsan: the thread sanitizer runs this).
TEST_F(KitwrightStandIn, HandlersQueuesAndStatusHoldUpWhileTheUiThreadQueries) {
  LoadRows();
  // The install waits until the UI thread has asked a while, with the
  // uninstall's handlers running meanwhile.
  const QString go = folder_ + QStringLiteral("/go");
  WriteScene({{"delay_ms", 2}, {"wait_for_file", {{"install", go.toStdString()}}}});
  const qsizetype since = Commands().size();
  Send(Message(QStringLiteral("{\"EventName\":\"MULTIACTION\"}"),
               QString::fromStdString(Json::array({Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Canvas", "orv.zyn.canvas"),
                                                   Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Core", "orv.zyn.core"),
                                                   Item("UNINSTALLKITWRIGHTPRODUCT", "Grid Suite", "orv.grids")})
                                          .dump())));
  int queries = 0;
  const bool done = ui_.PumpUntil([&] {
    calls_ += test::PageCallsOf(PageCalls());
    Ask(QStringLiteral("GETSTATUS"));
    if (++queries % 10 == 0) Ask(QStringLiteral("GETKITWRIGHTPRODUCTSTATUS"));
    if (queries == 20) WriteFile(go, {});
    dashboard_->GetKitwrightProductName(QStringLiteral("orv.zyn.core"));
    return calls_.contains(kFinished) && Ran(QStringLiteral("install "), since) && !dashboard_->IsRunning();
  });
  ASSERT_TRUE(done) << Commands().mid(since).join(QStringLiteral(" | ")).toStdString();
  EXPECT_TRUE(Ran(QStringLiteral("install orv.zyn.core orv.zyn.canvas "), since));
  EXPECT_GT(queries, 10);
}

}  // namespace
}  // namespace orv
