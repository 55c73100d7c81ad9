// The orv.exe stand-in run as a real child process: its answers must have
// the shapes and line formats the runners parse.
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>

#include <sys/stat.h>

namespace {

using Json = nlohmann::ordered_json;

struct Result {
  int exitCode = -1;
  QByteArray raw;
  QStringList lines;  // split at CR LF, without the final empty entry
};

class OrvStandIn : public ::testing::Test {
protected:
  // Starts the stand-in in the scene's folder with only the given knob
  // variables.
  void Start(QProcess& process, const QStringList& args, const QStringList& environment = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& key : env.keys())
      if (key.startsWith(QLatin1String("ORV_STANDIN_"))) env.remove(key);
    for (const QString& entry : environment) env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(ORV_STANDIN_EXE), args);
  }

  Result Run(const QStringList& args, const QStringList& environment = {}) {
    QProcess process;
    Start(process, args, environment);
    return Finish(process, args);
  }

  static Result Finish(QProcess& process, const QStringList& args) {
    EXPECT_TRUE(process.waitForFinished(60000)) << args.join(u' ').toStdString();
    Result result;
    result.exitCode = process.exitCode();
    result.raw = process.readAll();
    result.lines = QString::fromUtf8(result.raw).split(QStringLiteral("\r\n"));
    if (!result.lines.isEmpty() && result.lines.back().isEmpty()) result.lines.removeLast();
    return result;
  }

  static Json Parse(const Result& result) {
    return Json::parse(result.raw.constData(), result.raw.constData() + result.raw.size(), nullptr, false);
  }

  QString StatePath() const { return dir.filePath(QStringLiteral("orv-state.json")); }

  void WriteState(const Json& state) {
    QFile file(StatePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray::fromStdString(state.dump()));
  }

  Json ReadState() const {
    QFile file(StatePath());
    if (!file.open(QIODevice::ReadOnly)) return Json();
    const QByteArray bytes = file.readAll();
    return Json::parse(bytes.begin(), bytes.end(), nullptr, false);
  }

  // A scene with stored credentials and two repositories.
  void WriteSignedInScene(const Json& knobs = Json::object()) {
    WriteState(
        {{"version", "2.5.0.0"},
         {"folder_initialized", true},
         {"credentials", {{"email", "dev@example.com"}, {"code", "K-1"}}},
         {"repositories",
          {{"default",
            {{"x.y", {{"name", "Sample Pack"}, {"version", "1.2.0.0"}, {"vendor_id", "orv"}}},
             {"a.b", {{"name", "Other"}, {"version", "2.0.0.0"}, {"vendor_id", "orv"}, {"packages", {"Runtime"}}}}}},
           {"beta", {{"x.y", {{"name", "Sample Pack"}, {"version", "1.3.0.0"}, {"vendor_id", "orv"}}}}}}},
         {"installed", Json::object()},
         {"target_ides", {"delphi12"}},
         {"target_platforms", {"win32intel", "win64intel"}},
         {"knobs", knobs}});
  }

  QTemporaryDir dir;
};

// The lines between "=== Build Summary ===" and the next empty line, as the
// runners collect them.
QStringList Summary(const QStringList& lines) {
  const qsizetype start = lines.indexOf(QStringLiteral("=== Build Summary ==="));
  QStringList summary;
  if (start < 0) return summary;
  for (qsizetype i = start + 1; i < lines.size() && !lines[i].trimmed().isEmpty(); ++i) summary << lines[i];
  return summary;
}

TEST_F(OrvStandIn, InfoDescribesTheDefaultSceneWhenNoStateFileExists) {
  const Result result = Run({QStringLiteral("info"), QStringLiteral("-json")});
  ASSERT_EQ(result.exitCode, 0) << result.raw.toStdString();
  const Json info = Parse(result);
  ASSERT_TRUE(info.is_object()) << result.raw.toStdString();
  EXPECT_EQ(info["orv version"], "2.5.0.0");
  EXPECT_EQ(info["working folder"], QDir(dir.path()).canonicalPath().toStdString());
  EXPECT_TRUE(info["orv location"].get<std::string>().ends_with("orv.exe"));
  EXPECT_EQ(info["folder initialized"], true);
  EXPECT_EQ(info["has credentials"], false);
  EXPECT_TRUE(info["config file"].is_string());
  EXPECT_TRUE(result.raw.contains("\r\n"));
}

TEST_F(OrvStandIn, ListsHaveTheShapesTheRunnersRead) {
  WriteSignedInScene();
  ASSERT_EQ(Run({QStringLiteral("install"), QStringLiteral("x.y")}).exitCode, 0);

  const Json local = Parse(Run({QStringLiteral("list"), QStringLiteral("-detailed"), QStringLiteral("-json")}));
  ASSERT_TRUE(local.is_object());
  ASSERT_EQ(local.size(), 1u);
  const Json& product = local["x.y"];
  EXPECT_EQ(product["name"], "Sample Pack");
  EXPECT_EQ(product["version"], "1.2.0.0");
  EXPECT_EQ(product["local"], false);
  EXPECT_EQ(product["ides"]["delphi12"]["platforms"]["win64intel"], (Json{{"built", true}, {"registered", true}}));

  const Json remote = Parse(Run({QStringLiteral("list-remote"), QStringLiteral("-json")}));
  ASSERT_TRUE(remote.is_object());
  EXPECT_EQ(remote["a.b"]["vendor_id"], "orv");
  EXPECT_EQ(remote.size(), 2u);
  const Json beta = Parse(Run({QStringLiteral("list-remote"), QStringLiteral("-json"), QStringLiteral("-repo:beta")}));
  EXPECT_EQ(beta["x.y"]["version"], "1.3.0.0");

  const Result unknownRepo =
      Run({QStringLiteral("list-remote"), QStringLiteral("-json"), QStringLiteral("-repo:nope")});
  EXPECT_EQ(unknownRepo.exitCode, 1);
  EXPECT_EQ(unknownRepo.lines, QStringList{QStringLiteral("Error: unknown repository \"nope\"")});
}

TEST_F(OrvStandIn, StoredCredentialsAreReportedAndUnlockTheRemoteList) {
  const QStringList listRemote = {QStringLiteral("list-remote"), QStringLiteral("-json")};
  EXPECT_EQ(Run(listRemote).exitCode, 1);
  EXPECT_EQ(Parse(Run({QStringLiteral("credentials"), QStringLiteral("-print"), QStringLiteral("-json")})),
            (Json{{"email", ""}, {"code", ""}}));

  ASSERT_EQ(Run({QStringLiteral("credentials"), QStringLiteral("-set"), QStringLiteral("-email:me@example.com"),
                 QStringLiteral("-code:A\"B C")})
                .exitCode,
            0);
  EXPECT_EQ(Parse(Run({QStringLiteral("credentials"), QStringLiteral("-print"), QStringLiteral("-json")})),
            (Json{{"email", "me@example.com"}, {"code", "A\"B C"}}));
  EXPECT_EQ(Parse(Run({QStringLiteral("info"), QStringLiteral("-json")}))["has credentials"], true);
  EXPECT_EQ(Run(listRemote).exitCode, 0);
  EXPECT_EQ(Run({QStringLiteral("credentials"), QStringLiteral("-set"), QStringLiteral("-email:x")}).exitCode, 1);
}

TEST_F(OrvStandIn, InstallReportsProductProgressAndSummaryAndRecordsTheProducts) {
  WriteSignedInScene();
  const Result result = Run({QStringLiteral("install"), QStringLiteral("x.y"), QStringLiteral("a.b"),
                             QStringLiteral("-display-options:product-progress")});
  ASSERT_EQ(result.exitCode, 0) << result.raw.toStdString();

  static const QRegularExpression progress(QStringLiteral(R"(^\[([ \d]{3})%\] \[([^:\]]+): ([ \d]{3})%\] \S)"));
  int last = 0;
  int progressLines = 0;
  QStringList products;
  for (const QString& line : result.lines) {
    if (!line.contains(QLatin1String("%]"))) continue;
    const QRegularExpressionMatch match = progress.match(line);
    ASSERT_TRUE(match.hasMatch()) << line.toStdString();
    const int percent = match.captured(1).trimmed().toInt();
    EXPECT_GE(percent, last) << line.toStdString();
    last = percent;
    ++progressLines;
    if (!products.contains(match.captured(2))) products << match.captured(2);
  }
  EXPECT_EQ(last, 100);
  EXPECT_EQ(products, (QStringList{QStringLiteral("x.y"), QStringLiteral("a.b")}));
  // Fetch and done lines plus one step per package, IDE and platform.
  EXPECT_EQ(progressLines, 2 * 2 + 2 * 2 + 1 * 2);
  const QStringList summary = Summary(result.lines);
  ASSERT_EQ(summary.size(), 3);
  EXPECT_EQ(summary[0], QStringLiteral("x.y 1.2.0.0: 4 packages built"));
  EXPECT_EQ(summary[1], QStringLiteral("a.b 2.0.0.0: 2 packages built"));

  const Json installed = ReadState()["installed"];
  EXPECT_EQ(installed["x.y"]["version"], "1.2.0.0");
  EXPECT_EQ(installed["a.b"]["ides"]["delphi12"]["platforms"].size(), 2u);
}

TEST_F(OrvStandIn, InstallFollowsTheDelphiVersionSelection) {
  WriteSignedInScene();
  ASSERT_EQ(Run({QStringLiteral("config-write"),
                 QStringLiteral("-p:configuration for all products:delphi versions=[delphi11, delphi12]")})
                .exitCode,
            0);
  ASSERT_EQ(Run({QStringLiteral("install"), QStringLiteral("a.b")}).exitCode, 0);
  const Json ides = ReadState()["installed"]["a.b"]["ides"];
  EXPECT_TRUE(ides.contains("delphi11"));
  EXPECT_TRUE(ides.contains("delphi12"));
}

TEST_F(OrvStandIn, WithoutProductProgressOptionOnlyOverallProgressIsPrinted) {
  WriteSignedInScene();
  ASSERT_EQ(Run({QStringLiteral("install"), QStringLiteral("x.y")}).exitCode, 0);
  const Result result = Run({QStringLiteral("uninstall"), QStringLiteral("x.y")});
  ASSERT_EQ(result.exitCode, 0) << result.raw.toStdString();
  static const QRegularExpression overallOnly(QStringLiteral(R"(^\[[ \d]{3}%\] [^\[])"));
  for (const QString& line : result.lines) {
    if (line.contains(QLatin1String("%]"))) {
      EXPECT_TRUE(overallOnly.match(line).hasMatch()) << line.toStdString();
    }
  }
  EXPECT_EQ(Summary(result.lines).size(), 2);
  // Still fetched, no longer installed in any IDE.
  const Json product = ReadState()["installed"]["x.y"];
  EXPECT_TRUE(product.is_object());
  EXPECT_FALSE(product.contains("ides"));
}

TEST_F(OrvStandIn, BuildWithoutIdsBuildsEveryInstalledProduct) {
  WriteSignedInScene();
  ASSERT_EQ(Run({QStringLiteral("install"), QStringLiteral("x.y"), QStringLiteral("a.b")}).exitCode, 0);
  const Result result = Run({QStringLiteral("build"), QStringLiteral("-full"),
                             QStringLiteral("-display-options:product-progress"), QStringLiteral("-repo:beta")});
  ASSERT_EQ(result.exitCode, 0) << result.raw.toStdString();
  EXPECT_EQ(Summary(result.lines).size(), 3);
}

TEST_F(OrvStandIn, ProductErrorsFailTheCommand) {
  struct Case {
    QStringList args;
    const char* message;
  };
  WriteSignedInScene();
  const Case cases[] = {
      {{QStringLiteral("install"), QStringLiteral("zz")}, "Error: product \"zz\" not found in repository \"default\""},
      {{QStringLiteral("uninstall"), QStringLiteral("x.y")}, "Error: product \"x.y\" is not installed"},
      {{QStringLiteral("build"), QStringLiteral("zz")}, "Error: product \"zz\" is not in the working folder"},
      {{QStringLiteral("install")}, "Error: install needs at least one product"},
      {{QStringLiteral("frobnicate")}, "Error: unknown command \"frobnicate\""},
      {{QStringLiteral("info"), QStringLiteral("-json"), QStringLiteral("-verbose")},
       "Error: unknown option \"-verbose\" for command \"info\""},
  };
  for (const Case& c : cases) {
    const Result result = Run(c.args);
    EXPECT_EQ(result.exitCode, 1) << c.message;
    EXPECT_EQ(result.lines, QStringList{QString::fromUtf8(c.message)});
  }
}

TEST_F(OrvStandIn, UninitializedFolderRefusesListsUntilConfigured) {
  WriteState({{"folder_initialized", false}});
  const Result list = Run({QStringLiteral("list"), QStringLiteral("-detailed"), QStringLiteral("-json")});
  EXPECT_EQ(list.exitCode, 1);
  EXPECT_TRUE(list.lines.value(0).startsWith(QLatin1String("Error: "))) << list.raw.toStdString();
  EXPECT_EQ(Parse(Run({QStringLiteral("info"), QStringLiteral("-json")}))["folder initialized"], false);
  ASSERT_EQ(Run({QStringLiteral("config")}).exitCode, 0);
  EXPECT_EQ(Parse(Run({QStringLiteral("info"), QStringLiteral("-json")}))["folder initialized"], true);
  EXPECT_EQ(Run({QStringLiteral("list"), QStringLiteral("-detailed"), QStringLiteral("-json")}).exitCode, 0);
}

TEST_F(OrvStandIn, ConfigWriteThenReadRoundTrips) {
  const QString delphi = QStringLiteral("configuration for all products:delphi versions");
  EXPECT_EQ(Run({QStringLiteral("config-read"), delphi}).lines, QStringList{QStringLiteral("[]")});
  struct Case {
    QString name;
    QString value;
  };
  const Case cases[] = {
      {delphi, QStringLiteral("[delphi12, delphi11]")},
      {QStringLiteral("p:with=equals"), QStringLiteral("a=b \"q\" ü")},
      {QStringLiteral("empty"), QString()},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Run({QStringLiteral("config-write"), u"-p:" + c.name + u'=' + c.value}).exitCode, 0);
    const Result read = Run({QStringLiteral("config-read"), c.name.section(u'=', 0, 0)});
    EXPECT_EQ(read.exitCode, 0);
    // A name holds no "=": the value starts after the first one.
    const QString expected = c.name.contains(u'=') ? c.name.section(u'=', 1) + u'=' + c.value : c.value;
    EXPECT_EQ(read.lines, QStringList{expected}) << c.name.toStdString();
  }
  EXPECT_EQ(Run({QStringLiteral("config-read"), QStringLiteral("no such")}).exitCode, 1);
  EXPECT_EQ(Run({QStringLiteral("config-write"), QStringLiteral("-p:novalue")}).exitCode, 1);
}

TEST_F(OrvStandIn, SelfUpdateReportsTheUpdateOnlyWhenANewerVersionExists) {
  WriteState({{"version", "2.5.0.0"}, {"latest_version", "2.10.0.0"}});
  const Result update = Run({QStringLiteral("self-update")});
  EXPECT_EQ(update.exitCode, 0);
  EXPECT_TRUE(update.lines.contains(QStringLiteral("ORV Kitwright has been updated from version 2.5.0.0 to 2.10.0.0")));
  EXPECT_EQ(Parse(Run({QStringLiteral("info"), QStringLiteral("-json")}))["orv version"], "2.10.0.0");
  const Result again = Run({QStringLiteral("self-update")});
  EXPECT_FALSE(again.raw.contains("has been updated from version"));
}

TEST_F(OrvStandIn, ExitCodeKnobsApplyToAllOrOneCommand) {
  WriteSignedInScene({{"exit_code", {{"list", 3}}}});
  const QStringList list = {QStringLiteral("list"), QStringLiteral("-detailed"), QStringLiteral("-json")};
  const QStringList info = {QStringLiteral("info"), QStringLiteral("-json")};
  const Result failing = Run(list);
  EXPECT_EQ(failing.exitCode, 3);
  EXPECT_TRUE(Parse(failing).is_object()) << "the answer is still printed";
  EXPECT_EQ(Run(info).exitCode, 0);
  EXPECT_EQ(Run(info, {QStringLiteral("ORV_STANDIN_EXIT_CODE=7")}).exitCode, 7);
  EXPECT_EQ(Run(info, {QStringLiteral("ORV_STANDIN_EXIT_CODE=info=2,list=0")}).exitCode, 2);
  EXPECT_EQ(Run(list, {QStringLiteral("ORV_STANDIN_EXIT_CODE=info=2,list=0")}).exitCode, 0);
}

TEST_F(OrvStandIn, NonJsonKnobReplacesTheAnswer) {
  WriteSignedInScene({{"non_json", true}});
  const Result result = Run({QStringLiteral("list-remote"), QStringLiteral("-json")});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(Parse(result).is_discarded()) << result.raw.toStdString();
  const Result array =
      Run({QStringLiteral("info"), QStringLiteral("-json")}, {QStringLiteral("ORV_STANDIN_NON_JSON=[1, 2]")});
  EXPECT_TRUE(Parse(array).is_array());
}

TEST_F(OrvStandIn, AlertsComeFirstInTheFormsTheRunnersRecognise) {
  WriteSignedInScene({{"new_version_alert", true}, {"low_disk_alert", true}});
  const Result result = Run({QStringLiteral("info"), QStringLiteral("-json")});
  ASSERT_GE(result.lines.size(), 6);
  EXPECT_TRUE(result.lines[0].startsWith(QLatin1String("There is a new version of ORV Kitwright available")));
  EXPECT_TRUE(result.lines[3].startsWith(QLatin1String("WARNING: You only have")));
  EXPECT_TRUE(result.lines[3].endsWith(QLatin1String("MB left in disk. ORV Kitwright might not work properly.")));
  // What remains after taking out three and two alert lines is the answer.
  const QByteArray rest = result.lines.mid(5).join(QStringLiteral("\r\n")).toUtf8();
  EXPECT_TRUE(Json::parse(rest.begin(), rest.end(), nullptr, false).is_object()) << rest.toStdString();
}

TEST_F(OrvStandIn, FailingProductPrintsAnErrorAndIsNotRecorded) {
  WriteSignedInScene({{"fail_products", {"a.b"}}});
  const Result result = Run({QStringLiteral("install"), QStringLiteral("x.y"), QStringLiteral("a.b"),
                             QStringLiteral("-display-options:product-progress")});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.lines.filter(QStringLiteral("] Error: ")).size(), 1) << result.raw.toStdString();
  EXPECT_EQ(Summary(result.lines).filter(QStringLiteral("errors")).size(), 1);
  const Json installed = ReadState()["installed"];
  EXPECT_TRUE(installed.contains("x.y"));
  EXPECT_FALSE(installed.contains("a.b"));
}

TEST_F(OrvStandIn, TinyWritesAndDelaysKeepTheOutputUnchanged) {
  WriteSignedInScene();
  const QStringList args = {QStringLiteral("list-remote"), QStringLiteral("-json")};
  const Result plain = Run(args);
  const Result chunked = Run(args, {QStringLiteral("ORV_STANDIN_CHUNK_BYTES=3")});
  EXPECT_EQ(chunked.raw, plain.raw);
  QElapsedTimer timer;
  timer.start();
  const Result delayed = Run(args, {QStringLiteral("ORV_STANDIN_DELAY_MS=20")});
  EXPECT_EQ(delayed.raw, plain.raw);
  EXPECT_GE(timer.elapsed(), 20 * plain.lines.size());
}

TEST_F(OrvStandIn, DelayKnobAppliesToAllOrOneCommand) {
  WriteSignedInScene({{"delay_ms", {{"list-remote", 20}, {"install", 600000}}}});
  const QStringList listRemote = {QStringLiteral("list-remote"), QStringLiteral("-json")};
  const QStringList info = {QStringLiteral("info"), QStringLiteral("-json")};
  QElapsedTimer timer;
  timer.start();
  const Result delayed = Run(listRemote);
  EXPECT_GE(timer.elapsed(), 20 * delayed.lines.size());
  // Another command's long delay leaves this one alone; it ends at once.
  EXPECT_EQ(Run(info).exitCode, 0);

  WriteSignedInScene();
  timer.restart();
  const Result fromEnvironment = Run(listRemote, {QStringLiteral("ORV_STANDIN_DELAY_MS=list-remote=20")});
  EXPECT_EQ(fromEnvironment.raw, delayed.raw);
  EXPECT_GE(timer.elapsed(), 20 * fromEnvironment.lines.size());
  EXPECT_EQ(Run(info, {QStringLiteral("ORV_STANDIN_DELAY_MS=install=600000")}).exitCode, 0);
}

// A test holds a command until it creates a file; the command then works
// on the state as it is at that moment.
TEST_F(OrvStandIn, WaitForFileKnobHoldsTheCommandUntilTheFileExists) {
  WriteSignedInScene({{"wait_for_file", {{"list-remote", "gate"}}}});
  const QStringList args = {QStringLiteral("list-remote"), QStringLiteral("-json")};
  QProcess held;
  Start(held, args);
  ASSERT_TRUE(held.waitForStarted(60000));
  // The line with the process id is written after the file is made.
  QFile waiting(dir.filePath(QStringLiteral("gate.waiting")));
  QByteArray line;
  QElapsedTimer timer;
  timer.start();
  while (!line.endsWith('\n') && held.state() == QProcess::Running && timer.elapsed() < 60000) {
    QThread::msleep(10);
    if (waiting.open(QIODevice::ReadOnly)) {
      line = waiting.readAll();
      waiting.close();
    }
  }
  ASSERT_TRUE(line.endsWith('\n')) << "no line in gate.waiting while held";
  EXPECT_EQ(line.trimmed().toLongLong(), held.processId());
  EXPECT_EQ(held.state(), QProcess::Running) << "nothing lets it go yet";

  Json state = ReadState();
  state["repositories"]["default"]["c.d"] = {{"name", "Late"}, {"version", "1.0.0.0"}, {"vendor_id", "orv"}};
  WriteState(state);
  // Commands the knob does not name are not held.
  EXPECT_EQ(Run({QStringLiteral("info"), QStringLiteral("-json")}).exitCode, 0);

  QFile gate(dir.filePath(QStringLiteral("gate")));
  ASSERT_TRUE(gate.open(QIODevice::WriteOnly));
  gate.close();
  const Result released = Finish(held, args);
  EXPECT_EQ(released.exitCode, 0) << released.raw.toStdString();
  EXPECT_TRUE(Parse(released).contains("c.d")) << released.raw.toStdString();

  // Once the file is there, the command is not held; the variable names
  // the command and an absolute file.
  EXPECT_EQ(Run(args, {QStringLiteral("ORV_STANDIN_WAIT_FOR_FILE=list-remote=") + gate.fileName()}).exitCode, 0);
}

TEST_F(OrvStandIn, HugeOutputKnobAddsProgressLinesToAnInstall) {
  WriteSignedInScene({{"huge_output_mib", 2}});
  const Result result =
      Run({QStringLiteral("install"), QStringLiteral("x.y"), QStringLiteral("-display-options:product-progress")});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_GE(result.raw.size(), 2 * 1024 * 1024);
  EXPECT_TRUE(result.lines[2].startsWith(QLatin1String("[  0%] [x.y:   0%] Compiling unit")))
      << result.lines[2].toStdString();
  EXPECT_EQ(Summary(result.lines).size(), 2);
}

TEST_F(OrvStandIn, HugeOutputLinesKnobCountsItsLines) {
  WriteSignedInScene();
  const Result result =
      Run({QStringLiteral("install"), QStringLiteral("x.y"), QStringLiteral("-display-options:product-progress")},
          {QStringLiteral("ORV_STANDIN_HUGE_OUTPUT_LINES=1000")});
  EXPECT_EQ(result.exitCode, 0);
  const QStringList bulk = result.lines.filter(QStringLiteral("Compiling unit StandIn"));
  ASSERT_EQ(bulk.size(), 1000);
  EXPECT_TRUE(bulk.last().endsWith(QLatin1String("StandIn0000999.pas"))) << bulk.last().toStdString();
}

TEST_F(OrvStandIn, EveryRunIsLoggedAsEscapedHtml) {
  Run({QStringLiteral("config-read"), QStringLiteral("<no>")});
  Run({QStringLiteral("info"), QStringLiteral("-json")});
  QFile log(dir.filePath(QStringLiteral("Logs/orv.log.html")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QByteArray html = log.readAll();
  EXPECT_TRUE(html.startsWith("<!DOCTYPE html>"));
  EXPECT_TRUE(html.contains("Error: unknown configuration parameter &quot;&lt;no&gt;&quot;"));
  EXPECT_TRUE(html.contains("orv info -json"));
  EXPECT_EQ(html.count("<!DOCTYPE html>"), 1);
}

// Sets the umask while it lives; the stand-in started meanwhile inherits it.
class ScopedUmask {
public:
  explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(previous_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
  mode_t previous_;
};

mode_t AccessMode(const QString& path) {
  struct stat info {};
  if (::stat(QFile::encodeName(path).constData(), &info) != 0) return 0;
  return info.st_mode & 0777;
}

TEST_F(OrvStandIn, StateAndLogArePrivateWhateverTheUmask) {
  const ScopedUmask permissive(022);
  const QString log = dir.filePath(QStringLiteral("Logs/orv.log.html"));
  ASSERT_EQ(Run({QStringLiteral("credentials"), QStringLiteral("-set"), QStringLiteral("-email:me@example.com"),
                 QStringLiteral("-code:K-1")})
                .exitCode,
            0);
  EXPECT_EQ(AccessMode(StatePath()), 0600u);
  EXPECT_EQ(AccessMode(log), 0600u);

  // Files a user made readable are private again after the next run.
  ::chmod(QFile::encodeName(StatePath()).constData(), 0644);
  ::chmod(QFile::encodeName(log).constData(), 0644);
  ASSERT_EQ(Run({QStringLiteral("config-write"), QStringLiteral("-p:a=b")}).exitCode, 0);
  EXPECT_EQ(AccessMode(StatePath()), 0600u);
  EXPECT_EQ(AccessMode(log), 0600u);
}

TEST_F(OrvStandIn, LogNeverHoldsTheAccountCode) {
  // HTML-special characters: neither the code nor its escaped form may show.
  const QString code = QStringLiteral("s3cr<t&K7");
  ASSERT_EQ(Run({QStringLiteral("credentials"), QStringLiteral("-set"), QStringLiteral("-email:me@example.com"),
                 u"-code:" + code})
                .exitCode,
            0);
  const Result print = Run({QStringLiteral("credentials"), QStringLiteral("-print"), QStringLiteral("-json")});
  EXPECT_EQ(Parse(print)["code"], code.toStdString()) << "the answer itself keeps the code";
  // Refused for want of an e-mail, and logged all the same.
  EXPECT_EQ(Run({QStringLiteral("credentials"), QStringLiteral("-set"), u"-code:" + code}).exitCode, 1);

  QFile log(dir.filePath(QStringLiteral("Logs/orv.log.html")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QByteArray html = log.readAll();
  EXPECT_FALSE(html.contains("s3cr")) << html.toStdString();
  EXPECT_TRUE(html.contains("-code:****"));
  EXPECT_TRUE(html.contains("me@example.com"));
  EXPECT_EQ(html.count("<h3>"), 3);
}

TEST_F(OrvStandIn, HugeOutputKnobLeavesAnswersParsableAndStillFillsProgress) {
  WriteSignedInScene({{"huge_output_mib", 1}});
  const QStringList jsonCommands[] = {
      {QStringLiteral("info"), QStringLiteral("-json")},
      {QStringLiteral("list"), QStringLiteral("-detailed"), QStringLiteral("-json")},
      {QStringLiteral("list-remote"), QStringLiteral("-json")},
      {QStringLiteral("credentials"), QStringLiteral("-print"), QStringLiteral("-json")},
  };
  for (const QStringList& args : jsonCommands) {
    const Result result = Run(args);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(Parse(result).is_object())
        << args.join(u' ').toStdString() << ": " << result.lines.value(0).toStdString();
  }
  const Result read =
      Run({QStringLiteral("config-read"), QStringLiteral("configuration for all products:delphi versions")});
  EXPECT_EQ(read.lines.size(), 1);
  EXPECT_EQ(read.lines.value(0).toStdString(), "[]");

  const Result install = Run({QStringLiteral("install"), QStringLiteral("x.y")});
  EXPECT_EQ(install.exitCode, 0);
  EXPECT_GE(install.raw.size(), 1024 * 1024);
}

TEST_F(OrvStandIn, MalformedStateFileFailsEveryCommand) {
  QFile file(StatePath());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("{not json");
  file.close();
  const Result result = Run({QStringLiteral("info"), QStringLiteral("-json")});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.lines.value(0).startsWith(QLatin1String("Error: "))) << result.raw.toStdString();
}

// A child of the command's own, as a compiler would be: named in a file and
// in the output, and waited for.
TEST_F(OrvStandIn, GrandchildKnobRunsAChildOfItsOwnAndWaitsForIt) {
  WriteSignedInScene({{"grandchild_seconds", 1}});
  const Result result =
      Run({QStringLiteral("install"), QStringLiteral("x.y"), QStringLiteral("-display-options:product-progress")});
  EXPECT_EQ(result.exitCode, 0) << result.raw.toStdString();
  QFile pidFile(dir.filePath(QStringLiteral("grandchild.pid")));
  ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
  const qint64 pid = pidFile.readAll().trimmed().toLongLong();
  ASSERT_GT(pid, 0);
  EXPECT_EQ(result.lines.value(1), QStringLiteral("Waiting for the build tool (process %1)").arg(pid));
  EXPECT_NE(::kill(static_cast<pid_t>(pid), 0), 0) << "ended and reaped before the command ended";
  EXPECT_TRUE(ReadState()["installed"].contains("x.y"));
}

// A run killed while it held the state's lock holds up no later run: not a
// lock file left behind (a run killed while making a QLockFile leaves an
// empty one, here dated a little ahead, as after the clock was set back)
// nor a holder killed the hard way.
TEST_F(OrvStandIn, LockOfAKilledRunHoldsUpNoLaterRun) {
  const QString lockFile = StatePath() + QStringLiteral(".lock");
  for (const bool killedHolder : {false, true}) {
    SCOPED_TRACE(killedHolder ? "killed holder" : "lock file left behind");
    QFile::remove(StatePath());
    QFile::remove(lockFile);
    QFile leftover(lockFile);
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.setFileTime(QDateTime::currentDateTime().addSecs(20), QFileDevice::FileModificationTime);
    leftover.close();
    if (killedHolder) {
      // flock(1) holds the lock itself (-o: its command does not) and says
      // so through its command.
      QProcess holder;
      holder.start(QStringLiteral("flock"), {QStringLiteral("-o"), lockFile, QStringLiteral("sh"), QStringLiteral("-c"),
                                             QStringLiteral("echo held; exec cat")});
      ASSERT_TRUE(holder.waitForReadyRead(20000)) << holder.errorString().toStdString();
      ASSERT_EQ(holder.readAll(), "held\n");
      holder.kill();
      ASSERT_TRUE(holder.waitForFinished(20000));
      // cat, the command, sees its input close with the holder's pipes.
    }
    const Result result = Run({QStringLiteral("credentials"), QStringLiteral("-set"),
                               QStringLiteral("-email:me@example.com"), QStringLiteral("-code:K-2")});
    EXPECT_EQ(result.exitCode, 0) << result.raw.toStdString();
    EXPECT_EQ(ReadState()["credentials"], (Json{{"email", "me@example.com"}, {"code", "K-2"}}));
  }
}

}  // namespace
