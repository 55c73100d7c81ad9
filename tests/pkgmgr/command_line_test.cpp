#include "pkgmgr/command_line.h"

#include "child_scripts.h"
#include "platform/command_line_split.h"
#include "support/error_of.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace orv {
namespace {

using testing_support::ChildScripts;
using namespace std::chrono_literals;

// Polls for something that gives no event to wait for (/proc entries,
// files another process makes); false when the time ran out.
bool PollUntil(const std::function<bool()>& done, std::chrono::seconds timeout = 20s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

// The task behind a /proc stat file is gone, or a zombie waiting for its
// new parent to reap it.
bool Ended(const QString& statPath) {
  QFile stat(statPath);
  return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
}

QString ProcStat(pid_t pid) { return QStringLiteral("/proc/%1/stat").arg(pid); }

// The number on a complete line "<word> <number>" of the text; 0 when
// there is none yet.
pid_t IdOnLine(const QString& text, const QString& word) {
  const QRegularExpression line(u'^' + word + QStringLiteral(" (\\d+)\n"), QRegularExpression::MultilineOption);
  return static_cast<pid_t>(line.match(text).captured(1).toInt());
}

class CommandLineTest : public testing::Test {
protected:
  // Runs a script and collects every piece the callback sees.
  int32_t Run(const QString& script, const QStringList& env = {}, const QString& workingDir = {}) {
    return TCommandLine::ExecuteEx(ChildScripts::Quoted(script), workingDir,
                                   [this](const QString& piece) { pieces_ << piece; }, env, {});
  }
  QString Text() const { return pieces_.join(QString()); }

  ChildScripts scripts_;
  QStringList pieces_;
};

TEST_F(CommandLineTest, ReturnsExitCodesWithoutCallingBackForSilentChildren) {
  for (int code : {0, 1, 3, 255}) {
    pieces_.clear();
    const QString script = scripts_.Write(QStringLiteral("exit%1.sh").arg(code), "exit " + QByteArray::number(code));
    EXPECT_EQ(Run(script), code);
    EXPECT_TRUE(pieces_.isEmpty());
  }
}

TEST_F(CommandLineTest, KilledChildReportsSignalLikeAShell) {
  EXPECT_EQ(Run(scripts_.Write("term.sh", "kill -TERM $$")), 128 + SIGTERM);
}

TEST_F(CommandLineTest, DeliversLongOutputInPiecesOfAtMost255BytesAndDrainsAfterExit) {
  // 100 lines of 1000 characters, written just before the child exits.
  const QString script =
      scripts_.Write("long.sh", "i=0; while [ $i -lt 100 ]; do printf '%01000d\\n' $i; i=$((i+1)); done; exit 7");
  EXPECT_EQ(Run(script), 7);
  QString expected;
  for (int i = 0; i < 100; ++i) expected += QStringLiteral("%1\n").arg(i, 1000, 10, QChar(u'0'));
  EXPECT_EQ(Text(), expected);
  for (const QString& piece : pieces_) EXPECT_LE(piece.size(), 255);
  EXPECT_GT(pieces_.size(), 100 * 1000 / 255);
}

TEST_F(CommandLineTest, StandardErrorSharesThePipe) {
  EXPECT_EQ(Run(scripts_.Write("both.sh", "echo out; sleep 0.1; echo err >&2")), 0);
  EXPECT_EQ(Text(), "out\nerr\n");
}

TEST_F(CommandLineTest, NulEndsItsPiece) {
  // One write holds "ab", NUL, "cd"; the rest of that read is dropped and
  // later output arrives normally. The second write waits until the first
  // piece has been delivered, so the two are never read as one block.
  const QByteArray delivered = scripts_.Path("delivered").toUtf8();
  const QString script =
      scripts_.Write("nul.sh", "printf 'ab\\000cd'; i=0; while [ ! -e '" + delivered +
                                   "' ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i+1)); done; printf 'ef'");
  EXPECT_EQ(TCommandLine::ExecuteEx(ChildScripts::Quoted(script), {},
                                    [this](const QString& piece) {
                                      if (pieces_.isEmpty()) scripts_.WriteFile("delivered", {});
                                      pieces_ << piece;
                                    },
                                    {}, {}),
            0);
  EXPECT_EQ(Text(), "abef");
}

// Output written at once is read in one block and cut into pieces of at
// most 255 bytes there: a NUL still ends only its own piece, and a UTF-8
// sequence cut by a piece boundary is joined again.
TEST_F(CommandLineTest, BlocksAreCutIntoPiecesOfAtMost255Bytes) {
  struct Case {
    const char* name;
    QByteArray printf;  // one write of at most PIPE_BUF bytes, so one read
    QString expected;
  };
  const Case cases[] = {
      {"NUL in the first piece drops the rest of that piece only", "printf '%010d\\000%0500d' 0 0",
       QString(10, u'0') + QString(500 - 244, u'0')},
      {"NUL in the second piece", "printf '%0300d\\000%0300d' 0 0", QString(300, u'0') + QString(300 - 209, u'0')},
      {"two-byte sequence across the boundary", "printf '%0254d\\303\\251z' 0",
       QString(254, u'0') + QStringLiteral(u"\u00e9z")},
      {"four-byte sequence across the boundary", "printf '%0253d\\360\\237\\230\\200%0300d' 0 0",
       QString(253, u'0') + QStringLiteral(u"\U0001F600") + QString(300, u'0')},
  };
  for (const Case& c : cases) {
    pieces_.clear();
    EXPECT_EQ(Run(scripts_.Write("burst.sh", c.printf)), 0) << c.name;
    EXPECT_EQ(Text(), c.expected) << c.name;
    for (const QString& piece : pieces_) EXPECT_LE(piece.size(), 255) << c.name;
  }
}

TEST_F(CommandLineTest, DecodesUtf8SplitAcrossReads) {
  // The two bytes of U+00E9 and the three of U+2500 arrive in separate
  // reads; an invalid byte and a sequence cut by the end become U+FFFD.
  const QString script =
      scripts_.Write("utf8.sh",
                     "printf 'caf\\303'; sleep 0.3; printf '\\251 \\342'; sleep 0.3; printf '\\224'; sleep 0.3; "
                     "printf '\\200 \\377 \\342\\224'");
  EXPECT_EQ(Run(script), 0);
  EXPECT_EQ(Text(), QStringLiteral(u"café ─ \uFFFD \uFFFD"));
}

TEST_F(CommandLineTest, CancellationKillsTheWholeGroupAndReturnsZero) {
  const QString pidFile = scripts_.Path("grandchild.pid");
  const QString script =
      scripts_.Write("slow.sh", "sleep 30 & echo $! > '" + pidFile.toUtf8() + "'; echo ready; wait; exit 5");
  // Another thread cancels once the run has polled after "ready": from then
  // on the child is silent, so only a later poll can see the cancellation.
  // Not acting on it would let the child end by itself with 5.
  bool readySeen = false;
  bool polledAfterReady = false;
  std::promise<void> polled;
  std::atomic<bool> canceled{false};
  std::thread canceller([&] {
    polled.get_future().wait();
    canceled = true;
  });
  const int32_t code = TCommandLine::ExecuteEx(
      ChildScripts::Quoted(script), {}, [&](const QString& piece) { readySeen |= piece.contains("ready"); }, {},
      [&] {
        if (readySeen && !std::exchange(polledAfterReady, true)) polled.set_value();
        return canceled.load();
      });
  if (!std::exchange(polledAfterReady, true)) polled.set_value();  // a failed run must not leave it waiting
  canceller.join();
  EXPECT_EQ(code, 0);

  QFile file(pidFile);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const pid_t grandchild = file.readAll().trimmed().toInt();
  ASSERT_GT(grandchild, 0);
  const bool gone = PollUntil([&] { return Ended(ProcStat(grandchild)); });
  EXPECT_TRUE(gone);
  if (!gone) ::kill(grandchild, SIGKILL);
}

// The holder process stands for the application: it runs the command line
// through TCommandLine in folder, copying the output to its own, and is
// killed the hard way, as by a crash, once idOf has found the process to
// look for in the output. That process id (0 when it never came).
pid_t KillHolderOnceOutputNames(const QString& commandLine, const QString& folder,
                                const std::function<pid_t(const QString&)>& idOf) {
  std::mutex mutex;
  std::condition_variable arrived;
  QString output;
  std::thread holder([&] {
    TCommandLine::ExecuteEx(
        ChildScripts::Quoted(QStringLiteral(COMMAND_LINE_HOLDER_EXE)) + u' ' + QuoteArgument(commandLine), folder,
        [&](const QString& piece) {
          {
            const std::lock_guard lock(mutex);
            output += piece;
          }
          arrived.notify_all();
        },
        {}, {});
  });
  pid_t holderId = 0;
  pid_t watchedId = 0;
  {
    std::unique_lock lock(mutex);
    arrived.wait_for(lock, 20s, [&] {
      holderId = IdOnLine(output, QStringLiteral("holder"));
      watchedId = idOf(output);
      return holderId > 0 && watchedId > 0;
    });
  }
  if (holderId > 0) ::kill(holderId, SIGKILL);
  holder.join();
  EXPECT_GT(watchedId, 0) << output.toStdString();
  return watchedId;
}

// Whether the process ends; killed when it does not.
bool EndsOnItsOwn(pid_t pid) {
  const bool gone = PollUntil([&] { return Ended(ProcStat(pid)); });
  if (!gone) ::kill(pid, SIGKILL);
  return gone;
}

TEST_F(CommandLineTest, ChildDoesNotOutliveTheApplication) {
  const QString child = ChildScripts::Quoted(scripts_.Write("long.sh", "echo child $$; exec sleep 60"));
  const pid_t childId = KillHolderOnceOutputNames(
      child, {}, [](const QString& output) { return IdOnLine(output, QStringLiteral("child")); });
  ASSERT_GT(childId, 0);
  EXPECT_TRUE(EndsOnItsOwn(childId)) << "the child outlived the application";
}

// The application is killed during a batch while the package manager (the
// stand-in) waits for a build tool of its own, which runs on for ten
// minutes unless it is ended.
TEST_F(CommandLineTest, PackageManagersChildrenDoNotOutliveTheApplication) {
  scripts_.WriteFile("orv-state.json", R"({
    "version": "2.5.0.0", "folder_initialized": true,
    "credentials": {"email": "dev@example.com", "code": "K-1"},
    "repositories": {"default": {"x.y": {"name": "Sample Pack", "version": "1.2.0.0", "vendor_id": "orv"}}},
    "installed": {}, "target_ides": ["delphi12"], "target_platforms": ["win32intel"],
    "knobs": {"grandchild_seconds": 600}})");
  const QString install = ChildScripts::Quoted(QStringLiteral(ORV_STANDIN_EXE)) + QStringLiteral(" install x.y");
  const pid_t buildTool = KillHolderOnceOutputNames(install, scripts_.Dir(), [](const QString& output) {
    static const QRegularExpression waiting(QStringLiteral("Waiting for the build tool \\(process (\\d+)\\)"));
    return static_cast<pid_t>(waiting.match(output).captured(1).toInt());
  });
  ASSERT_GT(buildTool, 0);
  EXPECT_TRUE(EndsOnItsOwn(buildTool)) << "the package manager's build tool outlived the application";
}

TEST_F(CommandLineTest, ChildIsTiedToTheProcessNotToTheThreadThatStartedIt) {
  // A run left by an exception leaves its child running, and the thread
  // that started the child ends. The child carries on until told to finish.
  const QString script = scripts_.Write("waits.sh", "echo ready; while [ ! -e go ]; do sleep 0.05; done; : > finished");
  pid_t starterId = 0;
  std::thread starter([&] {
    starterId = ::gettid();
    EXPECT_THROW(TCommandLine::ExecuteEx(ChildScripts::Quoted(script), scripts_.Dir(),
                                         [](const QString&) { throw std::runtime_error("listener"); }, {}, {}),
                 std::runtime_error);
  });
  starter.join();
  // The thread's entry goes once the kernel has dealt with its children.
  ASSERT_TRUE(PollUntil([&] { return Ended(QStringLiteral("/proc/self/task/%1/stat").arg(starterId)); }));

  scripts_.WriteFile("go", {});
  EXPECT_TRUE(PollUntil([&] { return QFile::exists(scripts_.Path("finished")); }))
      << "the child ended with the thread that started it";
}

TEST_F(CommandLineTest, CanceledBeforeStartStillEndsCleanly) {
  const QString script = scripts_.Write("quiet.sh", "sleep 30");
  EXPECT_EQ(TCommandLine::ExecuteEx(ChildScripts::Quoted(script), {}, {}, {}, [] { return true; }), 0);
}

TEST_F(CommandLineTest, EnvironmentListReplacesTheInheritedEnvironment) {
  qputenv("ORV_TEST_INHERITED", "yes");
  qputenv("TMP", "/tmp/orv-tmp");
  const QString script = scripts_.Write("env.sh", "env");

  EXPECT_EQ(
      Run(script, {QStringLiteral("  FOO=bar "), QStringLiteral("Path=/usr/bin:/bin"), QStringLiteral("PATHEXT=.EXE")}),
      0);
  const QStringList lines = Text().split(u'\n', Qt::SkipEmptyParts);
  EXPECT_TRUE(lines.contains("FOO=bar"));
  EXPECT_TRUE(lines.contains("Path=/usr/bin:/bin"));
  EXPECT_TRUE(lines.contains("PATHEXT=.EXE"));
  EXPECT_TRUE(lines.contains("TMP=/tmp/orv-tmp"));
  EXPECT_TRUE(lines.contains("SYSTEMROOT="));
  EXPECT_FALSE(lines.contains("ORV_TEST_INHERITED=yes"));

  pieces_.clear();
  EXPECT_EQ(Run(script), 0);
  EXPECT_TRUE(Text().split(u'\n').contains("ORV_TEST_INHERITED=yes"));
}

TEST_F(CommandLineTest, WorkingFolderDefaultsToOurs) {
  const QString script = scripts_.Write("pwd.sh", "pwd -P");
  EXPECT_EQ(Run(script, {}, scripts_.Dir()), 0);
  EXPECT_EQ(Text().trimmed(), QDir(scripts_.Dir()).canonicalPath());
  pieces_.clear();
  EXPECT_EQ(Run(script), 0);
  EXPECT_EQ(Text().trimmed(), QDir::current().canonicalPath());
}

TEST_F(CommandLineTest, ChildInheritsNoDescriptorOfOurs) {
  // A descriptor opened without close-on-exec, as foreign code might.
  const int leaky = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leaky, 3);
  // ls itself opens the folder as descriptor 3.
  TCommandLine::Execute(QStringLiteral("/bin/ls -1 /proc/self/fd"), {},
                        [this](const QString& piece) { pieces_ << piece; }, {});
  ::close(leaky);
  EXPECT_EQ(Text().split(u'\n', Qt::SkipEmptyParts), QStringList({"0", "1", "2", "3"}));
}

TEST_F(CommandLineTest, ArgumentsFollowWindowsQuoting) {
  const QString script = scripts_.Write("args.sh", "for a in \"$@\"; do printf '[%s]' \"$a\"; done");
  EXPECT_EQ(TCommandLine::ExecuteEx(ChildScripts::Quoted(script) + R"( config-read "a ""b""" -x:"c d")", {},
                                    [this](const QString& piece) { pieces_ << piece; }, {}, {}),
            0);
  EXPECT_EQ(Text(), R"([config-read][a "b"][-x:c d])");
}

TEST_F(CommandLineTest, WindowsProgramRunsThroughWine) {
  // A stand-in wine on PATH shows how it was called.
  const QString wineDir = scripts_.Path("bin");
  ASSERT_TRUE(QDir().mkpath(wineDir));
  scripts_.Write("bin/wine", "printf '%s|' \"$@\"");
  const QString exe = scripts_.WriteFile("prog.exe", "MZ\x90\x00 not really a program");
  qputenv("PATH", (wineDir + ":" + qEnvironmentVariable("PATH")).toLocal8Bit());
  EXPECT_EQ(TCommandLine::ExecuteEx(ChildScripts::Quoted(exe) + " a \"b c\"", {},
                                    [this](const QString& piece) { pieces_ << piece; }, {}, {}),
            0);
  EXPECT_EQ(Text(), exe + "|a|b c|");
}

TEST_F(CommandLineTest, ExecuteRaisesOnNonZeroExitCode) {
  EXPECT_NO_THROW(TCommandLine::Execute(QStringLiteral("/bin/sh -c \"exit 0\"")));
  EXPECT_EQ(
      test::errorOf([] { TCommandLine::Execute(QStringLiteral("/bin/sh -c \"exit 3\"")); }),
      test::Error(QStringLiteral("ECommandLine"), QStringLiteral("Could not execute command line. Exit code: 3")));
}

TEST_F(CommandLineTest, StartFailuresRaiseTheSystemError) {
  struct Case {
    QString commandLine;
    QString workingDir;
    int error;
  };
  const Case cases[] = {
      {ChildScripts::Quoted(scripts_.Path("missing.sh")), {}, ENOENT},
      {QStringLiteral("no-such-program-orv-test"), {}, ENOENT},
      {QString(), {}, ENOENT},
      {QStringLiteral("/bin/true"), scripts_.Path("no-such-folder"), ENOENT},
      {ChildScripts::Quoted(scripts_.WriteFile("plain.txt", "not executable")), {}, EACCES},
  };
  for (const Case& c : cases) {
    try {
      TCommandLine::Execute(c.commandLine, c.workingDir);
      ADD_FAILURE() << "no exception for " << c.commandLine.toStdString();
    } catch (const EOSError& e) {
      EXPECT_EQ(e.ErrorCode(), c.error) << c.commandLine.toStdString();
      EXPECT_TRUE(e.message().startsWith(QStringLiteral("System Error.  Code: %1.\n").arg(c.error)));
    }
  }
}

TEST_F(CommandLineTest, CallbackExceptionLeavesTheRun) {
  const QString script = scripts_.Write("chatty.sh", "echo one; sleep 0.2; echo two");
  EXPECT_THROW(TCommandLine::ExecuteEx(ChildScripts::Quoted(script), {},
                                       [](const QString&) { throw std::runtime_error("listener"); }, {}, {}),
               std::runtime_error);
}

}  // namespace
}  // namespace orv
