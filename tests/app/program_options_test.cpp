// The program's command line: answered without a display or an engine,
// and the options that point the program elsewhere.
#include "app/command_line.h"
#include "app/debug_log.h"
#include "lib/utils.h"
#include "support/qt_printers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orv {
namespace {

struct ProgramRun {
  int exitCode;
  QString out, err;
};

// The real program, without a display: what it answers here it answers
// before any window or engine exists.
ProgramRun RunProgram(const QStringList& arguments) {
  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove(QStringLiteral("DISPLAY"));
  environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  program.setProcessEnvironment(environment);
  program.start(QStringLiteral(ORV_DASHBOARD_EXE), arguments);
  EXPECT_TRUE(program.waitForFinished(20000));
  return {program.exitCode(), QString::fromLocal8Bit(program.readAllStandardOutput()),
          QString::fromLocal8Bit(program.readAllStandardError())};
}

TEST(CommandLine, HelpAndVersionAnswerWithoutADisplay) {
  const ProgramRun version = RunProgram({QStringLiteral("--version")});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, QStringLiteral("ORV Dashboard 1.2.1.0\n"));

  const ProgramRun help = RunProgram({QStringLiteral("--help")});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* text : {"Usage: orv-dashboard [options]", "--site-url <url>", "--registry-file <file>", "--verbose",
                           "orv-dashboard.log"})
    EXPECT_TRUE(help.out.contains(QLatin1String(text))) << text << "\n" << help.out.toStdString();
}

TEST(CommandLine, WrongArgumentsAreRefusedWithAHint) {
  for (const QStringList& arguments : {QStringList{QStringLiteral("--bogus")}, QStringList{QStringLiteral("extra")},
                                       QStringList{QStringLiteral("--site-url")}}) {
    const ProgramRun run = RunProgram(arguments);
    EXPECT_EQ(run.exitCode, 2) << arguments.join(u' ').toStdString();
    EXPECT_TRUE(run.err.endsWith(QStringLiteral("Try 'orv-dashboard --help'.\n"))) << run.err.toStdString();
  }
}

TEST(CommandLine, OptionsPointTheProgramElsewhere) {
  const auto result = ParseDashboardCommandLine(
      {QStringLiteral("orv-dashboard"), QStringLiteral("--site-url"), QStringLiteral("http://127.0.0.1:9"),
       QStringLiteral("--registry-file=/t/r.reg"), QStringLiteral("--verbose")});
  ASSERT_TRUE(result.options);
  EXPECT_EQ(result.options->siteURL, QStringLiteral("http://127.0.0.1:9"));
  EXPECT_EQ(result.options->registryFile, QStringLiteral("/t/r.reg"));
  EXPECT_TRUE(result.options->verbose);

  const auto plain = ParseDashboardCommandLine({QStringLiteral("orv-dashboard")});
  ASSERT_TRUE(plain.options);
  EXPECT_TRUE(plain.options->siteURL.isEmpty());
  EXPECT_FALSE(plain.options->verbose);
}

// Qt's own options and the engine's switches are theirs: the program
// parses around them, and still refuses what nobody knows.
TEST(CommandLine, QtAndEngineOptionsPassThrough) {
  const auto result = ParseDashboardCommandLine(
      {QStringLiteral("orv-dashboard"), QStringLiteral("-platform"), QStringLiteral("offscreen"),
       QStringLiteral("--style=fusion"), QStringLiteral("-reverse"), QStringLiteral("--remote-debugging-port=9222"),
       QStringLiteral("--verbose"), QStringLiteral("--webEngineArgs"), QStringLiteral("--disable-gpu"),
       QStringLiteral("stray")});
  ASSERT_TRUE(result.options);
  EXPECT_TRUE(result.options->verbose);

  const ProgramRun help =
      RunProgram({QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--help")});
  EXPECT_EQ(help.exitCode, 0) << help.err.toStdString();
  const ProgramRun typo =
      RunProgram({QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--verbos")});
  EXPECT_EQ(typo.exitCode, 2);
  EXPECT_TRUE(typo.err.contains(QLatin1String("Unknown option 'verbos'"))) << typo.err.toStdString();
}

TEST(DebugLog, GoesToTheStateFolderAndIsRotated) {
  QTemporaryDir state;
  qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
  const QString file = state.filePath(QStringLiteral("orvsoftware/orv-dashboard.log"));
  EXPECT_EQ(DebugLogFile(), file);
  InstallDebugLog(false, 200);
  for (int i = 0; i < 12; ++i) TORVZYNDashUtils::Log(QStringLiteral("line %1 of the debug log").arg(i));
  qInstallMessageHandler(nullptr);

  QFile current(file);
  ASSERT_TRUE(current.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(current.readAll());
  EXPECT_TRUE(text.contains(QStringLiteral("orv.debug debug: line 11 of the debug log"))) << text.toStdString();
  EXPECT_LE(current.size(), 200);
  EXPECT_EQ(current.permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
  for (const char* older : {".1", ".2", ".3"}) EXPECT_TRUE(QFile::exists(file + QLatin1String(older))) << older;
  EXPECT_FALSE(QFile::exists(file + QStringLiteral(".4")));
  qunsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace orv
