// The controller's package-manager side: the environment's handlers and
// their page calls, batches, the package manager's queries, and the
// threads, against the orv.exe stand-in where commands run.
#include "dashboard_fixture.h"
#include "platform/exception.h"
#include "support/error_of.h"
#include "support/page_recorder.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace orv {
namespace {

using Json = nlohmann::ordered_json;
using test::Message;

const QString kFinished = QStringLiteral("KitwrightActionFinished();");

// The page calls of the scripts, one entry each: the scripts that join
// output and progress calls are cut after every ");" outside a string.
QStringList Calls(const QStringList& scripts) {
  QStringList calls;
  for (const QString& script : scripts) {
    if (!script.startsWith(QLatin1String("KitwrightOutput(")) &&
        !script.startsWith(QLatin1String("KitwrightActionProgress("))) {
      calls << script;
      continue;
    }
    qsizetype start = 0;
    QChar quote;
    for (qsizetype i = 0; i < script.size(); ++i) {
      const QChar c = script[i];
      if (!quote.isNull()) {
        if (c == u'\\')
          ++i;
        else if (c == quote)
          quote = QChar();
      } else if (c == u'\'' || c == u'"') {
        quote = c;
      } else if (c == u';' && script[i - 1] == u')') {
        calls << script.mid(start, i + 1 - start);
        start = i + 1;
      }
    }
  }
  return calls;
}

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

TGUIProductList Rows(std::initializer_list<std::tuple<const char*, const char*, TVersion, TProductStatus>> rows) {
  TGUIProductList list;
  for (const auto& [id, name, version, status] : rows) {
    auto row = std::make_unique<TGUIProduct>();
    row->SetId(QString::fromUtf8(id));
    row->SetName(QString::fromUtf8(name));
    row->SetLocalVersion(version);
    row->SetStatus(status);
    list.Add(std::move(row));
  }
  return list;
}

// --- the handlers on their own -----------------------------------------------

using DashboardKitwrightTest = test::DashboardFixture;

TEST_F(DashboardKitwrightTest, OutputLinesReachThePageAsTheirTextWithErrorsInRed) {
  struct Case {
    QString line;
    QString script;
  };
  const Case cases[] = {
      {QStringLiteral("[ 40%] Building x"), QStringLiteral("KitwrightOutput('[ 40%] Building x');")},
      {QStringLiteral("Error: disk full"),
       QStringLiteral("KitwrightOutput('<span style=\\\"color: red;\\\">Error: disk full<\\/span>');")},
      {QStringLiteral("ERROR: in capitals"),
       QStringLiteral("KitwrightOutput('<span style=\\\"color: red;\\\">ERROR: in capitals<\\/span>');")},
      {QStringLiteral("x: failed, Errors found: 1"),
       QStringLiteral("KitwrightOutput('<span style=\\\"color: red;\\\">x: failed, Errors found: 1<\\/span>');")},
      {QStringLiteral("no error here, one error"), QStringLiteral("KitwrightOutput('no error here, one error');")},
      {QStringLiteral("C:\\dir\\\"quoted\" it's"),
       QStringLiteral("KitwrightOutput('C:\\\\dir\\\\\\\"quoted\\\" it\\'s');")},
      {QStringLiteral("lone\rreturn, tab\t, \u2028 and </script>"),
       QStringLiteral("KitwrightOutput('lone\\rreturn, tab\\t, \\u2028 and <\\/script>');")},
      {QStringLiteral("<b>markup</b> is text"), QStringLiteral("KitwrightOutput('<b>markup<\\/b> is text');")},
      {QString(), QStringLiteral("KitwrightOutput('');")},
  };
  int count = 0;
  for (const Case& c : cases) {
    dashboard_->SendKitwrightOutput(c.line);
    EXPECT_EQ(dashboard_->OutputCount(), count) << "counted on the UI thread";
    EXPECT_EQ(PageCalls(), QStringList{c.script}) << c.line.toStdString();
    EXPECT_EQ(dashboard_->OutputCount(), ++count);
  }
}

TEST_F(DashboardKitwrightTest, ProgressCallsCarryTheirFourArguments) {
  test::PageRecorder recorder;
  TORVDashboardPage page(ui_, recorder.Runner());
  page.KitwrightActionProgress(40, QStringLiteral("Sample Pack"), 75, QStringLiteral("Install"));
  page.KitwrightActionProgress(100, QString(), 0, QStringLiteral("Uninstall"));
  page.KitwrightActionProgress(5, QStringLiteral("Say \"%1\" \\ now"), 0, QStringLiteral("Install"));
  ui_.Pump();
  EXPECT_EQ(Calls(recorder.scripts),
            (QStringList{QStringLiteral("KitwrightActionProgress(40, \"Sample Pack\", 75, \"Install\");"),
                         QStringLiteral("KitwrightActionProgress(100, \"\", 0, \"Uninstall\");"),
                         QStringLiteral("KitwrightActionProgress(5, \"Say \\\"%1\\\" \\\\ now\", 0, \"Install\");")}));
}

// Output and progress calls in a row join one script; any other page call
// ends it, and the order stays.
TEST_F(DashboardKitwrightTest, OutputAndProgressInARowShareAScriptUntilAnotherPageCall) {
  dashboard_->SendKitwrightOutput(QStringLiteral("one"));
  dashboard_->SendKitwrightOutput(QStringLiteral("two"));
  dashboard_->HandleRunFinish();
  dashboard_->SendKitwrightOutput(QStringLiteral("three"));
  EXPECT_EQ(PageCalls(), (QStringList{QStringLiteral("KitwrightOutput('one');KitwrightOutput('two');"), kFinished,
                                      QStringLiteral("KitwrightOutput('three');")}));
  EXPECT_EQ(dashboard_->OutputCount(), 3);

  test::PageRecorder recorder;
  TORVDashboardPage page(ui_, recorder.Runner());
  page.KitwrightOutput(QStringLiteral("one"));
  page.KitwrightActionProgress(50, QStringLiteral("P"), 100, QStringLiteral("Install"));
  page.KitwrightOutput(QStringLiteral("two"));
  page.Log(QStringLiteral("a log line"));
  page.KitwrightOutput(QStringLiteral("three"));
  ui_.Pump();
  page.KitwrightOutput(QStringLiteral("four"));
  ui_.Pump();
  EXPECT_EQ(recorder.scripts,
            (QStringList{QStringLiteral("KitwrightOutput('one');KitwrightActionProgress(50, \"P\", 100, \"Install\");"
                                        "KitwrightOutput('two');"),
                         QStringLiteral("KitwrightOutput('three');"), QStringLiteral("KitwrightOutput('four');")}));
  EXPECT_EQ(recorder.log, QStringList{QStringLiteral("a log line")});
}

TEST_F(DashboardKitwrightTest, RunStartAndFinishChangeTheStatusOnTheUiThreadInOrder) {
  dashboard_->Include(sInstalling);
  dashboard_->HandleRunStart();
  EXPECT_FALSE(dashboard_->HasStatus(sRunning));
  ui_.Pump();
  EXPECT_TRUE(dashboard_->HasStatus(sRunning));
  EXPECT_EQ(Ask(QStringLiteral("GETSTATUS")), QStringLiteral("Install"));

  dashboard_->HandleRunFinish();
  dashboard_->HandleRunStart();
  EXPECT_EQ(PageCalls().filter(kFinished).size(), 1);
  EXPECT_TRUE(dashboard_->HasStatus(sRunning)) << "the later start wins";
  EXPECT_FALSE(dashboard_->HasStatus(sInstalling));
  dashboard_->HandleRunFinish();
  EXPECT_EQ(PageCalls(), QStringList{kFinished});
  EXPECT_EQ(dashboard_->Status(), 0);
  EXPECT_FALSE(dashboard_->IsRunning());
}

TEST_F(DashboardKitwrightTest, ProductRowsReplaceTheStatusListOnTheUiThread) {
  dashboard_->HandleProductsUpdated(Rows({{"orv.a", "A \"1\"", TVersion::Make(2, 5, 0, 0), TProductStatus::Installed},
                                          {"orv.b", "B", TVersion::Make(1, 2, 3, 0), TProductStatus::Available},
                                          {"orv.c", "C", TVersion(), TProductStatus::NotInstalled}}));
  EXPECT_EQ(Ask(QStringLiteral("GETKITWRIGHTPRODUCTSTATUS")), QStringLiteral("{\"Products\": []}"));
  ui_.Pump();
  EXPECT_EQ(
      Ask(QStringLiteral("GETKITWRIGHTPRODUCTSTATUS")),
      QStringLiteral("{\"Products\": ["
                     "{\"Name\": \"A \\\"1\\\"\", \"Version\": \"2.5\", \"ID\": \"orv.a\", \"Status\": \"installed\"},"
                     "{\"Name\": \"B\", \"Version\": \"1.2.3\", \"ID\": \"orv.b\", \"Status\": \"available\"},"
                     "{\"Name\": \"C\", \"Version\": \"\", \"ID\": \"orv.c\", \"Status\": \"not installed\"}]}"));
  EXPECT_EQ(Read(), QStringLiteral("{\"action not found\"}"));

  dashboard_->HandleProductsUpdated({});
  ui_.Pump();
  EXPECT_EQ(Ask(QStringLiteral("GETKITWRIGHTPRODUCTSTATUS")), QStringLiteral("{\"Products\": []}"));
}

TEST_F(DashboardKitwrightTest, CredentialsAreTheStoredAccount) {
  SetSetting(QStringLiteral("USERNAME"), QStringLiteral("dev@example.com"));
  SetSetting(QStringLiteral("PASSWORD"), QStringLiteral("CODE \"1\""));
  QString email = QStringLiteral("old");
  QString code;
  bool accepted = false;
  dashboard_->HandleRequestCredentials(email, code, accepted);
  EXPECT_EQ(email, QStringLiteral("dev@example.com"));
  EXPECT_EQ(code, QStringLiteral("CODE \"1\""));
  EXPECT_TRUE(accepted);
}

TEST_F(DashboardKitwrightTest, RunnersUseThePackageManagerInItsFolderWhenItIsThere) {
  const QString folder = Dir(QStringLiteral("kit wright"));
  SetSetting(QStringLiteral("KITWRIGHTDIR"), folder);
  TOrvInstallRunner defaults;
  TOrvInstallRunner runner;
  dashboard_->HandleRunnerCreated(runner);
  EXPECT_EQ(runner.ExeFileName(), defaults.ExeFileName());
  EXPECT_EQ(runner.WorkingDir(), defaults.WorkingDir());

  WriteFile(folder + QStringLiteral("/orv.exe"));
  dashboard_->HandleRunnerCreated(runner);
  EXPECT_EQ(runner.ExeFileName(), folder + QStringLiteral("/orv.exe"));
  EXPECT_EQ(runner.WorkingDir(), folder + QStringLiteral("/"));
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
    EXPECT_TRUE(dashboard_->KitwrightAction().isEmpty()) << data.toStdString();
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

  // Pumps until the environment is idle after the stand-in ran commands
  // with each prefix (since the given count of commands); the page calls
  // that came meanwhile go to calls_.
  void WaitFor(const QStringList& prefixes, qsizetype since = 0) {
    const bool done = ui_.PumpUntil([&] {
      calls_ += Calls(PageCalls());
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
    ASSERT_EQ(dashboard_->KitwrightProductStatusList().Count(), 3u);
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
      calls_ += Calls(PageCalls());
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
    for (const auto& row : dashboard_->KitwrightProductStatusList())
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
  EXPECT_EQ(dashboard_->OutputCount(), lines.size());
  EXPECT_TRUE(lines.filter(QStringLiteral("<span")).isEmpty());

  EXPECT_EQ(Status("orv.zyn.core"), QStringLiteral("installed"));
  EXPECT_EQ(Status("orv.zyn.canvas"), QStringLiteral("installed"));
  EXPECT_EQ(dashboard_->Status(), 0);
  EXPECT_TRUE(dashboard_->KitwrightAction().isEmpty());
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

TEST_F(KitwrightStandIn, MixedBatchWhoseUninstallFailsInstallsNothing) {
  WriteScene({{"fail_products", {"orv.grids"}}});
  LoadRows();
  RunBatch(Json::array({Item("UNINSTALLKITWRIGHTPRODUCT", "Grid Suite", "orv.grids"),
                        Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Core", "orv.zyn.core")}));
  EXPECT_TRUE(Ran(QStringLiteral("uninstall orv.grids")));
  EXPECT_FALSE(Ran(QStringLiteral("install "))) << Commands().join(QStringLiteral(" | ")).toStdString();
  EXPECT_FALSE(OutputLines(calls_)
                   .filter(QRegularExpression(QStringLiteral("^<span style=\"color: red;\">.*Error: E2003")))
                   .isEmpty());
  EXPECT_EQ(dashboard_->Status(), 0);
  EXPECT_TRUE(dashboard_->KitwrightAction().isEmpty());

  // Nothing of that batch is left for the next one.
  WriteScene();
  RunBatch(Json::array({Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Canvas", "orv.zyn.canvas")}));
  EXPECT_TRUE(Ran(QStringLiteral("install orv.zyn.canvas -display-options")))
      << Commands().join(QStringLiteral(" | ")).toStdString();
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
  WriteScene({{"delay_ms", 500}});
  Ask(QStringLiteral("GETKITWRIGHTPRODUCTSTATUS"));
  ASSERT_TRUE(ui_.PumpUntil([&] { return dashboard_->HasStatus(sRunning); }));
  dashboard_->Exclude(sRunning);
  EXPECT_EQ(dashboard_->Status(), 0);
  EXPECT_TRUE(dashboard_->IsRunning());
  EXPECT_EQ(Ask(QStringLiteral("GETSTATUS")), QString());
}

// The environment goes first: its command is cancelled and its handlers
// reach no freed controller (the address and thread sanitizers watch).
TEST_F(KitwrightStandIn, DestroyingTheControllerStopsARunningBatch) {
  LoadRows();
  WriteScene({{"delay_ms", 300}});
  Send(Message(
      QStringLiteral("{\"EventName\":\"MULTIACTION\"}"),
      QString::fromStdString(Json::array({Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Core", "orv.zyn.core")}).dump())));
  ASSERT_TRUE(ui_.PumpUntil([&] { return !OutputLines(calls_ += Calls(PageCalls())).isEmpty(); }));
  dashboard_.reset();
  ui_.Pump();
  EXPECT_FALSE(State()["installed"].contains("orv.zyn.core"));
}

// Real commands on the environment's threads while the UI thread asks for
// the status, the rows and product names and starts more commands
// (labelled tsan: the thread sanitizer runs this).
TEST_F(KitwrightStandIn, HandlersQueuesAndStatusHoldUpWhileTheUiThreadQueries) {
  LoadRows();
  WriteScene({{"delay_ms", 2}});
  const qsizetype since = Commands().size();
  Send(Message(QStringLiteral("{\"EventName\":\"MULTIACTION\"}"),
               QString::fromStdString(Json::array({Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Canvas", "orv.zyn.canvas"),
                                                   Item("INSTALLKITWRIGHTPRODUCT", "ORV ZYN Core", "orv.zyn.core"),
                                                   Item("UNINSTALLKITWRIGHTPRODUCT", "Grid Suite", "orv.grids")})
                                          .dump())));
  int queries = 0;
  const bool done = ui_.PumpUntil([&] {
    calls_ += Calls(PageCalls());
    Ask(QStringLiteral("GETSTATUS"));
    if (++queries % 10 == 0) Ask(QStringLiteral("GETKITWRIGHTPRODUCTSTATUS"));
    dashboard_->GetKitwrightProductName(QStringLiteral("orv.zyn.core"));
    return calls_.contains(kFinished) && Ran(QStringLiteral("install "), since) && !dashboard_->IsRunning();
  });
  ASSERT_TRUE(done) << Commands().mid(since).join(QStringLiteral(" | ")).toStdString();
  EXPECT_TRUE(Ran(QStringLiteral("install orv.zyn.core orv.zyn.canvas "), since));
  EXPECT_GT(queries, 10);
}

}  // namespace
}  // namespace orv
