#include "pkgmgr/orv_runner.h"

#include "child_scripts.h"
#include "support/error_of.h"

#include <QDir>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <tuple>
#include <vector>

namespace orv {
namespace {

using testing_support::ChildScripts;

// Opens the protected parts to the tests.
class TestRunner : public TAbstractOrvBuildRunner {
public:
  using TAbstractOrvBuildRunner::RunCommand;
  using TOrvRunner::JsonOutput;
  using TOrvRunner::Run;
  using TOrvRunner::WithRepository;
  void SetProductProgress(bool value) { FProductProgress = value; }
};

class OrvRunnerTest : public testing::Test {
protected:
  // Makes the runner run a script in place of the package manager and
  // records what the line listener sees.
  void UseScript(const QByteArray& body) {
    runner_.SetExeFileName(scripts_.Write("orv.exe", body));
    runner_.SetOnOutputLine([this](const QString& line) { heard_ << line; });
  }

  ChildScripts scripts_;
  TestRunner runner_;
  QStringList heard_;
};

TEST_F(OrvRunnerTest, DefaultsToBareNameAndCurrentFolder) {
  TestRunner runner;
  EXPECT_EQ(runner.ExeFileName(), "orv.exe");
  EXPECT_EQ(runner.WorkingDir(), QDir::currentPath());
  EXPECT_FALSE(runner.IsCanceled());
  EXPECT_FALSE(runner.NewVersionDetected());
}

struct LinesCase {
  const char* name;
  QByteArray script;
  QStringList lines;
};

void PrintTo(const LinesCase& c, std::ostream* os) { *os << c.name; }

class RunnerLinesTest : public OrvRunnerTest, public testing::WithParamInterface<LinesCase> {};

// Pieces arrive split where the sleeps are; both listeners and Output get
// every line once, whole, in order.
TEST_P(RunnerLinesTest, DeliversEveryLineOnceWhole) {
  UseScript(GetParam().script);
  QStringList callback;
  runner_.Run(QStringLiteral("x"), [&](const QString& line) {
    callback << line;
    EXPECT_EQ(heard_.size(), callback.size()) << "OnOutputLine comes first";
  });
  EXPECT_EQ(runner_.Output(), GetParam().lines);
  EXPECT_EQ(heard_, GetParam().lines);
  EXPECT_EQ(callback, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunnerLinesTest,
    testing::Values(
        LinesCase{"CrLfSplitBetweenPieces", "printf 'first\\r'; sleep 0.3; printf '\\nsecond'", {"first", "second"}},
        LinesCase{"LineSplitAcrossPieces",
                  "printf 'fir'; sleep 0.3; printf 'st\\nsec'; sleep 0.3; printf 'ond\\n'",
                  {"first", "second"}},
        LinesCase{"BlankLinesAndLoneCr", "printf 'a\\n\\nb\\rc\\r\\n'", {"a", "", "b", "c"}},
        LinesCase{"LineLongerThanOneRead", "printf '%0700d\\nend' 7", {QString(699, u'0') + u'7', "end"}},
        LinesCase{"NoOutput", "exit 0", {}}),
    [](const auto& info) { return std::string(info.param.name); });

// The output is kept as one text; OutputText normalises every break to
// CR LF and ends the last line, and Output decodes the lines from it.
struct TextCase {
  const char* name;
  QByteArray script;
  QString text;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class RunnerTextTest : public OrvRunnerTest, public testing::WithParamInterface<TextCase> {};

TEST_P(RunnerTextTest, KeepsEveryLineFollowedByCrLf) {
  UseScript(GetParam().script);
  runner_.Run(QStringLiteral("x"));
  EXPECT_EQ(runner_.OutputText(), GetParam().text);
  QStringList lines = GetParam().text.split(QStringLiteral("\r\n"));
  lines.removeLast();
  EXPECT_EQ(runner_.Output(), lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunnerTextTest,
    testing::Values(
        TextCase{"MixedBreaksAndOpenLastLine", "printf 'a\\n\\nb\\rc\\r\\nd'", "a\r\n\r\nb\r\nc\r\nd\r\n"},
        TextCase{"OnlyABreak", "printf '\\n'", "\r\n"}, TextCase{"NoOutput", "exit 0", ""},
        TextCase{"NonAscii", "printf 'caf\\303\\251 \\342\\224\\200\\r\\n\\360\\237\\230\\200\\377'",
                 QStringLiteral(u"caf\u00e9 \u2500\r\n\U0001F600\uFFFD\r\n")},
        // Non-ASCII text among runs that are copied a block at a time.
        TextCase{"NonAsciiAmidLongRuns",
                 "printf 'abcdefg\\303\\251hijklmnopqrstu\\342\\224\\200vwxyz0123456789\\360\\237\\230\\200ABCD\\r\\n'",
                 QStringLiteral(u"abcdefg\u00e9hijklmnopqrstu\u2500vwxyz0123456789\U0001F600ABCD\r\n")},
        // Many lines, read in several blocks and cut into pieces
        // anywhere, CR LF pairs among the cuts.
        TextCase{"ManyBlocks", "i=0; while [ $i -lt 9000 ]; do printf 'line %05d\\r\\n' $i; i=$((i+1)); done",
                 [] {
                   QString text;
                   for (int i = 0; i < 9000; ++i) text += QStringLiteral("line %1\r\n").arg(i, 5, 10, QChar(u'0'));
                   return text;
                 }()}),
    [](const auto& info) { return std::string(info.param.name); });

// Output asked for by a listener shows the lines so far, and the whole
// output once the run has ended.
TEST_F(OrvRunnerTest, OutputDuringTheRunHoldsTheLinesSoFar) {
  UseScript("echo one; sleep 0.2; echo two; sleep 0.2; printf three");
  QList<QStringList> seen;
  runner_.Run(QStringLiteral("x"), [&](const QString&) { seen << runner_.Output(); });
  EXPECT_EQ(seen, QList<QStringList>({{"one"}, {"one", "two"}, {"one", "two", "three"}}));
  EXPECT_EQ(runner_.Output(), QStringList({"one", "two", "three"}));
}

// The alerts go, and the JSON that follows them is parsed from the text
// that is left, non-ASCII text included.
TEST_F(OrvRunnerTest, JsonAfterAnAlertIsParsedFromTheKeptText) {
  UseScript(
      "echo 'There is a new version of ORV Kitwright available: 2.0.0'\n"
      "echo 'Run orv self-update'\n"
      "echo ''\n"
      "printf '{\"name\": \"Caf\\303\\251\",\\r\\n'\n"
      "echo '  WARNING: You only have 9 MB left in disk. ORV Kitwright might not work properly.'\n"
      "echo 'Free some space.'\n"
      "echo '\"n\": 2}'");
  runner_.Run(QStringLiteral("info -json"));
  EXPECT_EQ(runner_.OutputText(), QStringLiteral(u"{\"name\": \"Caf\u00e9\",\r\n\"n\": 2}\r\n"));
  EXPECT_EQ(runner_.JsonOutput(), nlohmann::ordered_json::parse("{\"name\": \"Caf\u00e9\", \"n\": 2}"));
  EXPECT_EQ(runner_.AlertNewVersion().size(), 3);
  EXPECT_EQ(runner_.AlertDiskSpace().size(), 2);
}

TEST_F(OrvRunnerTest, TakesAlertsOutWhileListenersSeeThem) {
  UseScript(
      "echo 'There is a new version of ORV Kitwright available: 2.0.0'\n"
      "echo 'Run orv self-update'\n"
      "echo ''\n"
      "echo '{\"a\": 1,'\n"
      "echo '  WARNING: You only have 90 MB left in disk. ORV Kitwright might not work properly.  '\n"
      "echo 'Free some space.'\n"
      "echo 'WARNING: You only have a few friends'\n"
      "echo '\"b\": 2}'\n"
      "echo 'There is a new version of ORV Kitwright available again'");
  runner_.Run(QStringLiteral("info -json"));
  EXPECT_EQ(runner_.Output(), QStringList({"{\"a\": 1,", "WARNING: You only have a few friends", "\"b\": 2}"}));
  EXPECT_EQ(heard_.size(), 9);
  EXPECT_TRUE(runner_.NewVersionDetected());
  EXPECT_EQ(runner_.AlertNewVersion(),
            QStringList({"There is a new version of ORV Kitwright available: 2.0.0", "Run orv self-update", "",
                         "There is a new version of ORV Kitwright available again"}));
  EXPECT_EQ(runner_.AlertDiskSpace(),
            QStringList({"  WARNING: You only have 90 MB left in disk. ORV Kitwright might not work properly.  ",
                         "Free some space."}));
}

TEST_F(OrvRunnerTest, JsonOutputParsesOnceAndIsNullForMalformedText) {
  UseScript("echo '{\"x\": [1, 2]}'");
  runner_.Run(QStringLiteral("a"));
  const nlohmann::ordered_json& json = runner_.JsonOutput();
  EXPECT_EQ(json, nlohmann::ordered_json::parse(R"({"x": [1, 2]})"));
  EXPECT_EQ(&runner_.JsonOutput(), &json);

  TestRunner broken;
  broken.SetExeFileName(scripts_.Write("broken.sh", "echo '{\"x\": '"));
  broken.Run(QStringLiteral("a"));
  EXPECT_TRUE(broken.JsonOutput().is_null());
}

// Product fields drop the other members of the root's member objects
// only: the root's own members, objects in its arrays and everything
// deeper stay, and a malformed
// text is still null.
TEST_F(OrvRunnerTest, JsonOutputWithProductFieldsBuildsOnlyThose) {
  UseScript(R"(echo '{"a": {"name": "A", "notes": ["x", "y"], "ides": {"notes": 1, "name": 2}},'
echo ' "b": 1, "c": [{"notes": 2}], "notes": {"name": "N", "notes": 3}}')");
  runner_.Run(QStringLiteral("list"));
  EXPECT_EQ(runner_.JsonOutput({"name", "ides"}), nlohmann::ordered_json::parse(R"({
    "a": {"name": "A", "ides": {"notes": 1, "name": 2}}, "b": 1, "c": [{"notes": 2}], "notes": {"name": "N"}})"));

  TestRunner broken;
  broken.SetExeFileName(scripts_.Write("broken.sh", "echo '{\"a\": {\"notes\": 1, \"name\": '"));
  broken.Run(QStringLiteral("list"));
  EXPECT_TRUE(broken.JsonOutput({"name"}).is_null());
}

TEST_F(OrvRunnerTest, NonZeroExitCodeRaisesWithTheArguments) {
  UseScript("echo partial; exit 2");
  EXPECT_EQ(test::errorOf([&] { runner_.Run(QStringLiteral("list -detailed -json")); }),
            test::Error(QStringLiteral("EOrvRunner"), QStringLiteral("Running failed: list -detailed -json")));
  EXPECT_EQ(runner_.LastExitCode(), 2);
  EXPECT_EQ(runner_.Output(), QStringList({"partial"}));

  runner_.SetIgnoreExitCode(true);
  EXPECT_NO_THROW(runner_.Run(QStringLiteral("list")));
  EXPECT_EQ(runner_.LastExitCode(), 2);
}

TEST_F(OrvRunnerTest, CancelFromAnotherThreadEndsTheRunNormally) {
  UseScript("echo started; sleep 30; echo never");
  // Cancels once the first line is in, not after a guessed time: a slow
  // start would otherwise be cancelled before it printed anything.
  std::promise<void> started;
  runner_.SetOnOutputLine([&](const QString& line) {
    if (heard_.isEmpty()) started.set_value();
    heard_ << line;
  });
  std::thread canceller([&] {
    started.get_future().wait();
    runner_.Cancel();
  });
  EXPECT_NO_THROW(runner_.Run(QStringLiteral("install a")));
  if (heard_.isEmpty()) started.set_value();  // a failed run must not leave the canceller waiting
  canceller.join();
  EXPECT_TRUE(runner_.IsCanceled());
  EXPECT_EQ(runner_.LastExitCode(), 0);
  EXPECT_EQ(runner_.Output(), QStringList({"started"}));
}

// A line whose break has arrived is not held back for the next piece: the
// listener hears it while the command goes on with a long step.
TEST_F(OrvRunnerTest, ACompleteLineReachesTheListenersDuringTheNextStep) {
  UseScript("printf 'waiting\\r\\n'; sleep 20; echo late");
  runner_.SetOnOutputLine([this](const QString& line) {
    heard_ << line;
    runner_.Cancel();
  });
  runner_.Run(QStringLiteral("install a"));
  EXPECT_EQ(heard_, QStringList({"waiting"}));
  EXPECT_EQ(runner_.Output(), QStringList({"waiting"}));
}

TEST_F(OrvRunnerTest, ListenerExceptionsLeaveRun) {
  UseScript("echo one; echo two");
  runner_.SetOnOutputLine([](const QString&) { throw EOrvRunner(QStringLiteral("listener")); });
  EXPECT_THROW(runner_.Run(QStringLiteral("a")), EOrvRunner);
}

TEST_F(OrvRunnerTest, StartFailureLeavesRun) {
  runner_.SetExeFileName(scripts_.Path("missing/orv.exe"));
  EXPECT_THROW(runner_.Run(QStringLiteral("a")), Exception);
}

TEST_F(OrvRunnerTest, WithRepositoryAddsOptionOnlyWhenSet) {
  EXPECT_EQ(runner_.WithRepository(QStringLiteral("info -json")), "info -json");
  runner_.SetRepository(QStringLiteral("my repo"));
  EXPECT_EQ(runner_.WithRepository(QStringLiteral("info -json")), "info -json -repo:my repo");
}

struct ProgressCase {
  QString line;
  bool productProgress;
  std::optional<TProgressInfo> expected;
};

void PrintTo(const ProgressCase& c, std::ostream* os) { *os << c.line.toStdString(); }

class ProgressParserTest : public testing::TestWithParam<ProgressCase> {};

TEST_P(ProgressParserTest, ParsesPercentages) {
  const auto actual = TAbstractOrvBuildRunner::ParseProgress(GetParam().line, GetParam().productProgress);
  ASSERT_EQ(actual.has_value(), GetParam().expected.has_value());
  if (!actual) return;
  EXPECT_EQ(actual->Percent, GetParam().expected->Percent);
  EXPECT_EQ(actual->ProductId, GetParam().expected->ProductId);
  EXPECT_EQ(actual->ProductPercent, GetParam().expected->ProductPercent);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressParserTest,
    testing::Values(ProgressCase{"[ 40%] [x.y:  75%] Building", true, TProgressInfo{40, "x.y", 75}},
                    ProgressCase{"[ 40%] [x.y:  75%] Building", false, TProgressInfo{40, "", 0}},
                    ProgressCase{"[100%] done", true, TProgressInfo{100, "", 0}},
                    ProgressCase{"[  5%] x", true, TProgressInfo{5, "", 0}},
                    ProgressCase{"[ 5%] x", true, std::nullopt},   // the three characters hold the "["
                    ProgressCase{"5%] x", false, std::nullopt},    // "%]" at position 2
                    ProgressCase{"[5%] x", false, std::nullopt},   // position 3
                    ProgressCase{"[ab%] x", false, std::nullopt},  // not a number
                    ProgressCase{"no progress here", true, std::nullopt},
                    ProgressCase{"[ 40%] [x.y:  ab%]", true, TProgressInfo{40, "x.y", 0}},
                    ProgressCase{"[ 40%] [x.y:5%]", true, TProgressInfo{40, "", 0}},      // "%]" too close to ":"
                    ProgressCase{"[ 40%] x:y [z:  9%]", true, TProgressInfo{40, "", 0}},  // "[" after the ":"
                    // Without a "[" the product text starts at the beginning of the line.
                    ProgressCase{"[ 40%] x:  9%]", true, TProgressInfo{40, "[ 40%] x", 9}}));

TEST_F(OrvRunnerTest, RunCommandReportsProgressAndTakesTheSummary) {
  UseScript(
      "echo '[  0%] Starting'\n"
      "echo '[ 50%] [x.y:  40%] Compiling'\n"
      "echo 'no progress'\n"
      "echo '[100%] === Build Summary ==='\n"
      "echo '[100%] x.y: built'\n"
      "echo 'z: failed'\n"
      "echo '[100%]   '\n"
      "echo 'after the summary'");
  runner_.SetProductProgress(true);
  std::vector<TProgressInfo> progress;
  runner_.SetOnProgress([&](const TProgressInfo& info) { progress.push_back(info); });
  runner_.RunCommand(QStringLiteral("build"));
  ASSERT_EQ(progress.size(), 5u);
  EXPECT_EQ(progress[1].Percent, 50);
  EXPECT_EQ(progress[1].ProductId, "x.y");
  EXPECT_EQ(progress[1].ProductPercent, 40);
  EXPECT_EQ(runner_.Summary(), QStringList({" x.y: built", "z: failed"}));
  EXPECT_EQ(heard_.size(), 8);
}

// Every progress call carries the fields of its own line only, whatever
// the line before held.
TEST_F(OrvRunnerTest, RunCommandReportsEachLinesOwnProgress) {
  UseScript(
      "echo '[ 10%] [a:  20%] x'\n"
      "echo '[ 20%] [a:  30%] y'\n"
      "echo '[ 30%] plain'\n"
      "echo 'not progress'\n"
      "echo '[ 40%] [b:  50%] z'\n"
      "echo '[ 50%] [a:6%] too close'");
  runner_.SetProductProgress(true);
  std::vector<std::tuple<int32_t, QString, int32_t>> progress;
  runner_.SetOnProgress(
      [&](const TProgressInfo& info) { progress.emplace_back(info.Percent, info.ProductId, info.ProductPercent); });
  runner_.RunCommand(QStringLiteral("build"));
  const std::vector<std::tuple<int32_t, QString, int32_t>> expected = {
      {10, "a", 20}, {20, "a", 30}, {30, "", 0}, {40, "b", 50}, {50, "", 0}};
  EXPECT_EQ(progress, expected);
}

// The summary starts at a marker after the first "]" only; a line that
// holds the marker before its "]" does not start it, a later one does.
TEST_F(OrvRunnerTest, RunCommandFindsTheSummaryAfterAnEarlierMarkerThatDoesNotStartIt) {
  UseScript(
      "echo 'a'\n"
      "echo '=== Build Summary === ] not a start'\n"
      "echo 'b'\n"
      "echo '[100%] === Build Summary ==='\n"
      "echo '[100%] x.y: built'\n"
      "echo ''\n"
      "echo 'c'");
  runner_.RunCommand(QStringLiteral("build"));
  EXPECT_EQ(runner_.Summary(), QStringList({" x.y: built"}));

  UseScript("echo '=== Build Summary === ]'; echo 'b'");
  runner_.RunCommand(QStringLiteral("build"));
  EXPECT_TRUE(runner_.Summary().isEmpty());
}

// Alerts and the summary are found as each line ends: what arrives in
// several reads, ends the output without a break, or ends at CR LF or a
// lone CR must come out as a look at the whole text would have it.
struct AlertsCase {
  const char* name;
  QByteArray script;
  QStringList kept;
  QStringList newVersion;
  QStringList diskSpace;
  QStringList summary;
};

void PrintTo(const AlertsCase& c, std::ostream* os) { *os << c.name; }

class RunnerAlertsTest : public OrvRunnerTest, public testing::WithParamInterface<AlertsCase> {};

TEST_P(RunnerAlertsTest, FindsAlertsAndSummaryAsLinesEnd) {
  const AlertsCase& c = GetParam();
  UseScript(c.script);
  runner_.RunCommand(QStringLiteral("build"));
  EXPECT_EQ(runner_.Output(), c.kept);
  EXPECT_EQ(runner_.AlertNewVersion(), c.newVersion);
  EXPECT_EQ(runner_.AlertDiskSpace(), c.diskSpace);
  EXPECT_EQ(runner_.Summary(), c.summary);
  EXPECT_EQ(heard_.size(), c.kept.size() + c.newVersion.size() + c.diskSpace.size()) << "listeners hear alerts too";

  // Without a listener no line is made as a string; the rest is the same.
  TestRunner quiet;
  quiet.SetExeFileName(runner_.ExeFileName());
  quiet.Run(QStringLiteral("build"));
  EXPECT_EQ(quiet.Output(), c.kept);
  EXPECT_EQ(quiet.AlertNewVersion(), c.newVersion);
  EXPECT_EQ(quiet.AlertDiskSpace(), c.diskSpace);
}

const QString kNewVersionLine = QStringLiteral("There is a new version of ORV Kitwright available");
const QString kDiskSpaceLine =
    QStringLiteral("WARNING: You only have 5 MB left in disk. ORV Kitwright might not work properly.");

INSTANTIATE_TEST_SUITE_P(
    Cases, RunnerAlertsTest,
    testing::Values(
        AlertsCase{"AlertSplitAcrossReads",
                   "printf 'There is a new ver'; sleep 0.2; printf 'sion of ORV Kitwright available: 2.0\\r\\nRun "
                   "orv self-update\\r\\n\\r\\nkept\\r\\n'",
                   {"kept"},
                   {kNewVersionLine + ": 2.0", "Run orv self-update", ""},
                   {},
                   {}},
        AlertsCase{"AlertAtTheEndWithoutABreak",
                   "printf 'kept\\n  WARNING: You only have 5 MB left in disk. ORV Kitwright might not work "
                   "properly.'",
                   {"kept"},
                   {},
                   {"  " + kDiskSpaceLine},
                   {}},
        AlertsCase{"AlertCutShortByTheEnd",
                   "printf 'a\\nThere is a new version of ORV Kitwright available\\nRun orv self-update'",
                   {"a"},
                   {kNewVersionLine, "Run orv self-update"},
                   {},
                   {}},
        AlertsCase{"AlertEndedByCrLfThenALoneCr",
                   "printf 'WARNING: You only have 5 MB left in disk. ORV Kitwright might not work "
                   "properly.\\r\\nFree space.\\rkept\\r\\n'",
                   {"kept"},
                   {},
                   {kDiskSpaceLine, "Free space."},
                   {}},
        AlertsCase{"AlertTextsThatAreNoAlerts",
                   "echo 'note: There is a new version of ORV Kitwright available'; echo 'WARNING: You only have 5 "
                   "MB left'",
                   {"note: " + kNewVersionLine, "WARNING: You only have 5 MB left"},
                   {},
                   {},
                   {}},
        // The alert's blank third line is no line of the output, so it
        // does not end the summary.
        AlertsCase{"SummaryAroundAnAlert",
                   "echo '[100%] === Build Summary ==='; echo '[100%] a: built'\n"
                   "echo 'There is a new version of ORV Kitwright available'; echo 'Run orv self-update'; echo ''\n"
                   "echo '[100%] b: built'; echo ''; echo 'after'",
                   {"[100%] === Build Summary ===", "[100%] a: built", "[100%] b: built", "", "after"},
                   {kNewVersionLine, "Run orv self-update", ""},
                   {},
                   {" a: built", " b: built"}},
        AlertsCase{"SummarySplitAcrossReadsAndOpenAtTheEnd",
                   "printf '[100%%] === Build Sum'; sleep 0.2; printf 'mary ===\\r\\n[100%%] x: built\\r\\n[100%%] "
                   "y: fail'; sleep 0.2; printf 'ed'",
                   {"[100%] === Build Summary ===", "[100%] x: built", "[100%] y: failed"},
                   {},
                   {},
                   {" x: built", " y: failed"}},
        AlertsCase{"NonAscii",
                   "printf 'There is a new version of ORV Kitwright available: caf\\303\\251\\n\\n\\n"
                   "=== Build Summary ===\\n\\342\\224\\200 done\\n'",
                   {"=== Build Summary ===", QStringLiteral(u"\u2500 done")},
                   {kNewVersionLine + QStringLiteral(u": caf\u00e9"), "", ""},
                   {},
                   {QStringLiteral(u"\u2500 done")}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExtractSummaryTest, EmptyWithoutMarker) {
  EXPECT_TRUE(TAbstractOrvBuildRunner::ExtractSummary({"[ 1%] a", "b"}).isEmpty());
  EXPECT_EQ(TAbstractOrvBuildRunner::ExtractSummary({"=== Build Summary ===", "a", "b"}), QStringList({"a", "b"}));
}

}  // namespace
}  // namespace orv
