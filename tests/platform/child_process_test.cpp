// The one child-process facility: the three ways of starting a program
// against real children (child_process_helper reports what it was started
// with) and the common policy they share.
#include "platform/child_process.h"
#include "support/qt_printers.h"
#include "support/zombie_children.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace orv {
namespace {

using namespace std::chrono_literals;

const QString kHelper = QStringLiteral(CHILD_PROCESS_HELPER_EXE);

// Polls for something that gives no event to wait for (/proc entries,
// files another process makes); false when the time ran out.
bool PollUntil(const std::function<bool()>& done, std::chrono::seconds timeout = 20s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// The process is gone, or a zombie waiting for its new parent to reap it.
bool Ended(pid_t pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Where one of our descriptors points, as the kernel writes it ("pipe:[n]"
// included).
QString OurDescriptor(int fd) {
  char target[4096];
  const ssize_t length =
      ::readlink(QStringLiteral("/proc/self/fd/%1").arg(fd).toLatin1().constData(), target, sizeof target);
  return length < 0 ? QString() : QString::fromUtf8(target, length);
}

// What child_process_helper wrote about itself.
struct Report {
  QStringList arguments;
  QString folder;
  QMap<int, QString> descriptors;  // number -> target
  QMap<QString, QString> values;   // sigblk, sigign, pid, ppid, pgid, sid, probe

  explicit Report(const QByteArray& text) {
    for (const QString& line : QString::fromUtf8(text).split(u'\n', Qt::SkipEmptyParts)) {
      const QString key = line.section(u' ', 0, 0);
      const QString rest = line.section(u' ', 1);
      if (key == u"arg") {
        arguments << rest.mid(1, rest.size() - 2);
      } else if (key == u"cwd") {
        folder = rest;
      } else if (key == u"fd") {
        descriptors[rest.section(u' ', 0, 0).toInt()] = rest.section(u' ', 1);
      } else {
        values[key] = rest;
      }
    }
  }
  long long Id(const char* name) const { return values.value(QLatin1String(name)).toLongLong(); }
};

// Reads a captured child's output until it has ended and the pipe is
// empty.
QByteArray Drain(CapturedChild& child) {
  QByteArray output;
  char buffer[4096];
  for (bool ended = false;;) {
    while (const std::size_t got = child.Read(buffer, sizeof buffer))
      output.append(buffer, static_cast<qsizetype>(got));
    if (ended) return output;
    ended = child.WaitForEnd(1000);
  }
}

// Drops a captured child's output until it ends; false when it has not
// ended in time (it is then left to the background reaper).
bool EndsWithin(CapturedChild& child, std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[4096];
  while (!child.WaitForEnd(100)) {
    while (child.Read(buffer, sizeof buffer)) {
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
  return true;
}

enum class Way { Captured, Detached, Waited };

const char* Name(Way way) {
  switch (way) {
    case Way::Captured: return "captured";
    case Way::Detached: return "detached";
    case Way::Waited: return "waited";
  }
  return "?";
}

// Starts the command the given way and returns the start error; a captured
// or waited child has ended when it returns.
int Start(Way way, const ChildCommand& command) {
  switch (way) {
    case Way::Captured: {
      CapturedChild child(command);
      if (child.StartError()) return child.StartError();
      Drain(child);
      const ChildEnd end = child.Wait();
      EXPECT_EQ(end.error, 0);
      return 0;
    }
    case Way::Detached: return StartDetached(command);
    case Way::Waited: return RunWaited(command, {}).error;
  }
  return -1;
}

class ChildProcessTest : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  QString Path(const QString& name) const { return dir_.filePath(name); }
  // Writes an executable /bin/sh script and returns its path.
  QString Script(const QString& name, const QByteArray& body) const {
    QFile file(Path(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body + "\n");
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return file.fileName();
  }
  // The report a child wrote to name, once it is there.
  Report ReportOf(const QString& name) const {
    EXPECT_TRUE(PollUntil([&] { return QFile::exists(Path(name)); })) << name.toStdString();
    return Report(ReadFile(Path(name)));
  }

  QTemporaryDir dir_;
};

// Signal state that a program like ours has: handlers, ignored signals and
// blocked ones, and a descriptor opened without close-on-exec, as foreign
// code in the process might leave them. Undone at the end.
class UntidyProcess {
public:
  UntidyProcess() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction handle {};
    handle.sa_handler = [](int) {};
    ::sigaction(SIGPIPE, &ignore, &savedPipe_);
    ::sigaction(SIGHUP, &ignore, &savedHup_);
    ::sigaction(SIGUSR1, &handle, &savedUsr1_);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR2);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &savedMask_);
    leaky_ = ::open("/dev/null", O_RDONLY);
    EXPECT_GE(leaky_, 3);
  }
  ~UntidyProcess() {
    ::close(leaky_);
    ::pthread_sigmask(SIG_SETMASK, &savedMask_, nullptr);
    ::sigaction(SIGUSR1, &savedUsr1_, nullptr);
    ::sigaction(SIGHUP, &savedHup_, nullptr);
    ::sigaction(SIGPIPE, &savedPipe_, nullptr);
  }

private:
  struct sigaction savedPipe_ {};
  struct sigaction savedHup_ {};
  struct sigaction savedUsr1_ {};
  sigset_t savedMask_{};
  int leaky_ = -1;
};

// Every way follows the common policy; the descriptors, the session and
// the environment are what that way gives.
TEST_F(ChildProcessTest, EveryWayFollowsThePolicy) {
  const QStringList arguments = {"plain", "with  blanks", "\"quoted\"", "it's",  R"(back\slash")",
                                 "",      "$HOME",        "*",          "a;b|c", "ünï €"};
  const QString folder = Path("work folder");
  ASSERT_TRUE(QDir().mkpath(folder));
  qputenv("ORV_PROBE", "inherited");
  const QString ourInput = OurDescriptor(0);
  const QString ourOutput = OurDescriptor(1);
  const QString ourError = OurDescriptor(2);

  struct Case {
    Way way;
    std::optional<QStringList> environment;
    QString probe;
    QMap<int, QString> descriptors;  // empty target: a pipe
  };
  const Case cases[] = {
      {Way::Captured, QStringList{"ORV_PROBE=given"}, "given", {{0, ourInput}, {1, {}}, {2, {}}}},
      {Way::Detached, std::nullopt, "inherited", {{0, ourInput}, {1, ourOutput}, {2, ourError}}},
      {Way::Waited, QStringList{}, "(unset)", {{0, "/dev/null"}, {1, "/dev/null"}, {2, "/dev/null"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Name(c.way));
    const QString name = QString::fromLatin1(Name(c.way));
    const QString file = Path(name);
    {
      UntidyProcess untidy;
      ASSERT_EQ(Start(c.way, {kHelper, QStringList{"report", file} + arguments, folder, c.environment}), 0);
    }
    const Report report = ReportOf(name);

    EXPECT_EQ(report.arguments, arguments);
    EXPECT_EQ(report.folder, QDir(folder).canonicalPath());
    EXPECT_EQ(report.values.value("probe"), c.probe);
    EXPECT_EQ(report.values.value("sigblk"), "0000000000000000");
    EXPECT_EQ(report.values.value("sigign"), "0000000000000000");
    ASSERT_EQ(report.descriptors.keys(), c.descriptors.keys());
    for (auto [fd, target] : c.descriptors.asKeyValueRange()) {
      if (target.isEmpty()) {
        EXPECT_TRUE(report.descriptors[fd].startsWith("pipe:")) << fd;
      } else {
        EXPECT_EQ(report.descriptors[fd], target) << fd;
      }
    }

    const long long pid = report.Id("pid");
    const long long ourSession = ::getsid(0);
    switch (c.way) {
      case Way::Captured:  // its keeper's group, so cancelling reaches its children
        EXPECT_EQ(report.Id("pgid"), report.Id("ppid"));
        EXPECT_NE(report.Id("pgid"), ::getpgrp());
        EXPECT_NE(report.Id("ppid"), ::getpid());
        EXPECT_EQ(report.Id("sid"), ourSession);
        break;
      case Way::Detached:  // in a session it does not lead, not our child
        EXPECT_NE(report.Id("sid"), ourSession);
        EXPECT_NE(report.Id("sid"), pid);
        EXPECT_NE(report.Id("ppid"), ::getpid());
        break;
      case Way::Waited:  // beyond the reach of our terminal's signals
        EXPECT_EQ(report.Id("sid"), pid);
        break;
    }
  }
}

TEST_F(ChildProcessTest, ProgramThatCannotStartIsReportedAsSuch) {
  const QString notExecutable = Path("plain.txt");
  QFile(notExecutable).open(QIODevice::WriteOnly);
  struct Case {
    const char* what;
    ChildCommand command;
    int error;
  };
  const Case cases[] = {
      {"missing file", {Path("missing"), {}, {}, {}}, ENOENT},
      {"name not on PATH", {"no-such-program-orv-test", {}, {}, {}}, ENOENT},
      {"no program", {QString(), {}, {}, {}}, ENOENT},
      {"not executable", {notExecutable, {}, {}, {}}, EACCES},
      {"a folder", {dir_.path(), {}, {}, {}}, EACCES},
      {"missing working folder", {"/bin/true", {}, Path("no-such-folder"), {}}, ENOENT},
  };
  for (Way way : {Way::Captured, Way::Detached, Way::Waited}) {
    for (const Case& c : cases) {
      EXPECT_EQ(Start(way, c.command), c.error) << Name(way) << ": " << c.what;
    }
  }
  // A child that failed is reaped, not left behind.
  EXPECT_EQ(test::ZombieChildren(), 0);
}

TEST_F(ChildProcessTest, RelativeProgramIsTakenFromOurFolderNotTheChilds) {
  const QString ours = QDir::currentPath();
  ASSERT_TRUE(QDir().mkpath(Path("elsewhere")));
  Script("exits7", "exit 7");
  ASSERT_TRUE(QDir::setCurrent(dir_.path()));
  const ChildEnd end = RunWaited({"./exits7", {}, Path("elsewhere"), std::nullopt}, {});
  QDir::setCurrent(ours);
  EXPECT_EQ(end.error, 0);
  EXPECT_EQ(end.code, 7);
}

TEST_F(ChildProcessTest, ExitCodesAndSignalsAreTold) {
  struct Case {
    QByteArray body;
    bool signaled;
    int code;
  };
  const Case cases[] = {{"exit 0", false, 0}, {"exit 3", false, 3}, {"kill -TERM $$", true, SIGTERM}};
  for (const Case& c : cases) {
    const QString script = Script("end.sh", c.body);
    const ChildEnd waited = RunWaited({script, {}, {}, std::nullopt}, {});
    CapturedChild captured({script, {}, {}, std::nullopt});
    Drain(captured);
    const ChildEnd capturedEnd = captured.Wait();
    for (const ChildEnd& end : {waited, capturedEnd}) {
      EXPECT_EQ(end.error, 0) << c.body.constData();
      EXPECT_EQ(end.signaled, c.signaled) << c.body.constData();
      EXPECT_EQ(end.code, c.code) << c.body.constData();
    }
  }
}

TEST_F(ChildProcessTest, EndingTheGroupEndsTheChildsChildrenToo) {
  const QString script =
      Script("tree.sh", "sleep 60 & echo $! > grandchild.part; mv grandchild.part grandchild; echo ready; wait");
  CapturedChild child({script, {}, dir_.path(), std::nullopt});
  ASSERT_EQ(child.StartError(), 0);
  QByteArray output;
  char buffer[256];
  while (!output.contains("ready\n")) {
    ASSERT_FALSE(child.WaitForEnd(20000)) << "ended early";
    while (const std::size_t got = child.Read(buffer, sizeof buffer))
      output.append(buffer, static_cast<qsizetype>(got));
  }
  const pid_t grandchild = ReadFile(Path("grandchild")).trimmed().toInt();
  ASSERT_GT(grandchild, 0);

  child.EndGroup();
  ASSERT_TRUE(EndsWithin(child, 20s)) << "the child outlived the cancel";
  const ChildEnd end = child.Wait();
  EXPECT_TRUE(end.signaled);
  EXPECT_EQ(end.code, SIGKILL);
  const bool gone = PollUntil([&] { return Ended(grandchild); });
  EXPECT_TRUE(gone) << "the child's own child outlived the cancel";
  if (!gone) ::kill(grandchild, SIGKILL);
}

// The helper plays the application and is killed the hard way while its
// child runs: a captured child ends with it, a waited one (a setup) is
// left to finish.
TEST_F(ChildProcessTest, CapturedChildDiesWithTheProgramWaitedChildDoesNot) {
  struct Case {
    const char* way;
    bool survives;
  };
  for (const Case c : {Case{"captured", false}, Case{"waited", true}}) {
    SCOPED_TRACE(c.way);
    const QString folder = Path(QString::fromLatin1(c.way));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString script = Script(QString::fromLatin1(c.way) + ".sh",
                                  "echo $$ > child.part; mv child.part child\n"
                                  "while [ ! -e go ]; do sleep 0.05; done; : > finished");
    CapturedChild holder({kHelper, {"hold", c.way, script}, folder, std::nullopt});
    ASSERT_EQ(holder.StartError(), 0);
    ASSERT_TRUE(PollUntil([&] { return QFile::exists(folder + "/child"); }));
    const pid_t child = ReadFile(folder + "/child").trimmed().toInt();
    ASSERT_GT(child, 0);

    // The holder's group is the holder alone: its child has a group or a
    // session of its own.
    holder.EndGroup();
    ASSERT_TRUE(EndsWithin(holder, 20s));
    const ChildEnd end = holder.Wait();
    ASSERT_TRUE(end.signaled);

    if (c.survives) {
      QFile(folder + "/go").open(QIODevice::WriteOnly);
      EXPECT_TRUE(PollUntil([&] { return QFile::exists(folder + "/finished"); })) << "the child ended with the holder";
    } else {
      const bool gone = PollUntil([&] { return Ended(child); });
      EXPECT_TRUE(gone) << "the child outlived the program that started it";
      if (!gone) ::kill(child, SIGKILL);
    }
  }
}

// The helper plays the application and is killed the hard way while its
// captured child has children of its own: in the child's group, in a
// session of their own, and orphaned before the kill. None outlives it.
TEST_F(ChildProcessTest, CapturedChildsDescendantsDieWithTheProgram) {
  const QString script = Script("tree.sh",
                                "sleep 600 & echo $! > pids.part\n"
                                "setsid sleep 600 & echo $! >> pids.part\n"
                                "(setsid sleep 600 & echo $! >> pids.part)\n"
                                "mv pids.part pids; wait");
  CapturedChild holder({kHelper, {"hold", "captured", script}, dir_.path(), std::nullopt});
  ASSERT_EQ(holder.StartError(), 0);
  ASSERT_TRUE(PollUntil([&] { return QFile::exists(Path("pids")); }));
  QList<pid_t> descendants;
  for (const QByteArray& line : ReadFile(Path("pids")).split('\n'))
    if (const pid_t pid = line.toInt(); pid > 0) descendants << pid;
  ASSERT_EQ(descendants.size(), 3);

  holder.EndGroup();
  ASSERT_TRUE(EndsWithin(holder, 20s));
  EXPECT_TRUE(holder.Wait().signaled);
  for (const pid_t pid : descendants) {
    const bool gone = PollUntil([&] { return Ended(pid); });
    EXPECT_TRUE(gone) << "process " << pid << " outlived the program";
    if (!gone) ::kill(pid, SIGKILL);
  }
}

TEST_F(ChildProcessTest, DetachedChildLeavesNoZombie) {
  for (int i = 0; i < 3; ++i) {
    const QString name = QStringLiteral("detached%1").arg(i);
    ASSERT_EQ(StartDetached({kHelper, {"report", Path(name)}, {}, std::nullopt}), 0);
    const Report report = ReportOf(name);
    EXPECT_NE(report.Id("ppid"), ::getpid());
    // The program has ended (it wrote its report and exits), and the middle
    // process was reaped at the start.
    EXPECT_TRUE(PollUntil([&] { return Ended(static_cast<pid_t>(report.Id("pid"))); }));
  }
  EXPECT_EQ(test::ZombieChildren(), 0);
}

TEST_F(ChildProcessTest, WaitingKeepsTheCallersEventsGoing) {
  // The child waits for a file that only the pump makes.
  const QString script = Script("waits.sh", "while [ ! -e go ]; do sleep 0.02; done; exit 4");
  int pumped = 0;
  const ChildEnd end = RunWaited({script, {}, dir_.path(), std::nullopt}, [&] {
    if (++pumped == 3) QFile(Path("go")).open(QIODevice::WriteOnly);
  });
  EXPECT_EQ(end.code, 4);
  EXPECT_GE(pumped, 3);
}

TEST_F(ChildProcessTest, ChildrenLeftByAnExceptionLeaveNoZombie) {
  // Each runs until the pump or the test lets it go.
  const QString script = Script("waits.sh", "while [ ! -e go ]; do sleep 0.02; done");
  EXPECT_THROW(RunWaited({script, {}, dir_.path(), std::nullopt},
                         [&] {
                           QFile(Path("go")).open(QIODevice::WriteOnly);
                           throw std::runtime_error("pump");
                         }),
               std::runtime_error);
  {
    CapturedChild left({script, {}, dir_.path(), std::nullopt});
    ASSERT_EQ(left.StartError(), 0);
  }
  // Neither child was waited for here; both are reaped in the background.
  EXPECT_TRUE(PollUntil([] { return test::ZombieChildren() == 0; }));
}

}  // namespace
}  // namespace orv
