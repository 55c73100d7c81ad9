#include "platform/system_processes.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orv {
namespace {

void writeFile(const QString& path, const QByteArray& content) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(content);
}

// A fake /proc with one process whose names are given.
class FakeProc {
public:
  void addProcess(const QString& pid, const QByteArray& comm, const QByteArray& cmdline,
                  const QString& exeTarget = {}) {
    const QString dir = root_.filePath(pid);
    QDir().mkpath(dir);
    writeFile(dir + QStringLiteral("/comm"), comm + '\n');
    writeFile(dir + QStringLiteral("/cmdline"), cmdline);
    if (!exeTarget.isEmpty()) QFile::link(exeTarget, dir + QStringLiteral("/exe"));
  }
  QString path() const { return root_.path(); }

private:
  QTemporaryDir root_;
};

TEST(SystemProcesses, MatchesCommandExeLinkAndArgv0IgnoringAsciiCase) {
  struct Case {
    QByteArray comm;
    QByteArray cmdline;
    QString exeTarget;
    bool running;
  };
  const Case cases[] = {
      {"bds.exe", QByteArray("x\0", 2), {}, true},
      {"BDS.EXE", {}, {}, true},
      {"wine-preloader", QByteArray("C:\\Program Files\\bds.exe\0-pDelphi\0", 34), {}, true},
      {"wine-preloader", QByteArray("/opt/ide/bin/Bds.exe\0-pDelphi\0", 30), {}, true},
      {"other", {}, QStringLiteral("/opt/ide/bin/bds.exe"), true},
      {"bds.exe.old", QByteArray("bds.exe.old\0", 12), {}, false},
      {"xbds.exe", {}, {}, false},
  };
  for (const Case& c : cases) {
    FakeProc proc;
    proc.addProcess(QStringLiteral("100"), c.comm, c.cmdline, c.exeTarget);
    QDir().mkpath(proc.path() + QStringLiteral("/self"));  // not a process
    EXPECT_EQ(SystemProcesses(proc.path()).IsRunning(QStringLiteral("bds.exe")), c.running)
        << c.comm.constData() << " / " << c.cmdline.constData();
  }
}

TEST(SystemProcesses, MissingProcFolderMeansNothingRuns) {
  EXPECT_FALSE(SystemProcesses(QStringLiteral("/nonexistent/proc")).IsRunning(QStringLiteral("sh")));
}

TEST(SystemProcesses, SeesARealChildByItsFileName) {
  QTemporaryDir dir;
  const QString exe = dir.filePath(QStringLiteral("bds.exe"));
  ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), exe));
  QProcess child;
  child.start(exe, {QStringLiteral("30")});
  ASSERT_TRUE(child.waitForStarted());
  SystemProcesses processes;
  EXPECT_TRUE(processes.IsRunning(QStringLiteral("BDS.exe")));
  child.kill();
  child.waitForFinished();
  EXPECT_FALSE(processes.IsRunning(QStringLiteral("bds.exe")));
}

}  // namespace
}  // namespace orv
