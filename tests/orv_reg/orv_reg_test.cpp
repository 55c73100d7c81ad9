#include "platform/registry_hive.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace orv {
namespace {

struct Result {
  int exitCode = -1;
  QString out;
  QString err;
};

const QString kNotFound = QStringLiteral("ERROR: The system was unable to find the specified registry key or value.\n");
const QString kDone = QStringLiteral("The operation completed successfully.\n");
const QString kKey = QStringLiteral("HKCU\\Software\\orvsoftware\\ORV Dashboard");

class OrvRegTest : public ::testing::Test {
protected:
  QProcessEnvironment environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORV_REGISTRY_FILE"), hiveFile);
    return env;
  }

  Result run(const QStringList& arguments) const {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral(ORV_REG_EXE), arguments);
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
  }

  // Runs and expects success with the standard message.
  void ok(const QStringList& arguments) const {
    const Result result = run(arguments);
    EXPECT_EQ(result.exitCode, 0) << qPrintable(arguments.join(' ')) << ": " << qPrintable(result.err);
    EXPECT_EQ(result.out, kDone);
  }

  QByteArray read(const QString& fileName) const {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QTemporaryDir dir;
  QString hiveFile = dir.filePath(QStringLiteral("registry.reg"));
};

TEST_F(OrvRegTest, AddQueryAndDeleteLikeRegExe) {
  ok({QStringLiteral("add"), kKey, QStringLiteral("/v"), QStringLiteral("USERNAME"), QStringLiteral("/t"),
      QStringLiteral("REG_SZ"), QStringLiteral("/d"), QStringLiteral("user@example.com"), QStringLiteral("/f")});
  ok({QStringLiteral("ADD"), kKey, QStringLiteral("/V"), QStringLiteral("SILENT"), QStringLiteral("/T"),
      QStringLiteral("reg_dword"), QStringLiteral("/D"), QStringLiteral("0x1A")});
  ok({QStringLiteral("add"), QStringLiteral("HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard\\Sub"),
      QStringLiteral("/ve"), QStringLiteral("/d"), QStringLiteral("C:\\Temp \"x\"")});

  Result result = run({QStringLiteral("query"), kKey});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, QStringLiteral("\n"
                                       "HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard\n"
                                       "    USERNAME    REG_SZ    user@example.com\n"
                                       "    SILENT    REG_DWORD    0x1a\n"
                                       "\n"
                                       "HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard\\Sub\n"));

  result = run({QStringLiteral("query"), QStringLiteral("hkcu\\software\\ORVSOFTWARE\\orv dashboard"),
                QStringLiteral("/v"), QStringLiteral("silent")});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, QStringLiteral("\nHKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard\n"
                                       "    SILENT    REG_DWORD    0x1a\n\n"));

  result = run({QStringLiteral("query"), QStringLiteral("HKCU\\Software\\orvsoftware"), QStringLiteral("/s")});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, QStringLiteral("HKEY_CURRENT_USER\\Software\\orvsoftware\n\n"
                                       "HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard\n"
                                       "    USERNAME    REG_SZ    user@example.com\n"
                                       "    SILENT    REG_DWORD    0x1a\n\n"
                                       "HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard\\Sub\n"
                                       "    (Default)    REG_SZ    C:\\Temp \"x\"\n\n"));

  result = run({QStringLiteral("query"), QStringLiteral("HKCU\\Software"), QStringLiteral("/v"),
                QStringLiteral("USERNAME"), QStringLiteral("/s")});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(result.out.endsWith(QStringLiteral("End of search: 1 match(es) found.\n"))) << qPrintable(result.out);

  ok({QStringLiteral("delete"), kKey, QStringLiteral("/v"), QStringLiteral("username"), QStringLiteral("/f")});
  result = run({QStringLiteral("query"), kKey, QStringLiteral("/v"), QStringLiteral("USERNAME")});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, QString());
  EXPECT_EQ(result.err, kNotFound);

  ok({QStringLiteral("delete"), kKey, QStringLiteral("/f")});
  for (const QStringList& absent :
       {QStringList{QStringLiteral("query"), kKey}, QStringList{QStringLiteral("delete"), kKey, QStringLiteral("/f")},
        QStringList{QStringLiteral("delete"), kKey, QStringLiteral("/v"), QStringLiteral("SILENT")},
        QStringList{QStringLiteral("export"), kKey, dir.filePath(QStringLiteral("x.reg"))}}) {
    result = run(absent);
    EXPECT_EQ(result.exitCode, 1) << qPrintable(absent.join(' '));
    EXPECT_EQ(result.err, kNotFound) << qPrintable(absent.join(' '));
  }
}

TEST_F(OrvRegTest, WrongCommandLinesFail) {
  const QString syntax = QStringLiteral("ERROR: Invalid syntax.\nType \"orv-reg /?\" for usage.\n");
  const QString badKey = QStringLiteral("ERROR: Invalid key name.\n");
  const std::pair<QStringList, QString> cases[] = {
      {{}, syntax},
      {{QStringLiteral("copy"), kKey}, syntax},
      {{QStringLiteral("query")}, syntax},
      {{QStringLiteral("query"), kKey, QStringLiteral("/x")}, syntax},
      {{QStringLiteral("add"), kKey, QStringLiteral("/v"), QStringLiteral("A"), QStringLiteral("/t"),
        QStringLiteral("REG_BINARY")},
       syntax},
      {{QStringLiteral("add"), kKey, QStringLiteral("/v"), QStringLiteral("A"), QStringLiteral("/t"),
        QStringLiteral("REG_DWORD"), QStringLiteral("/d"), QStringLiteral("4294967296")},
       syntax},
      {{QStringLiteral("add"), QStringLiteral("HKLM\\Software"), QStringLiteral("/v"), QStringLiteral("A")}, badKey},
      {{QStringLiteral("query"), QStringLiteral("HKCU\\Software\\\\x")}, badKey},
      {{QStringLiteral("import"), dir.filePath(QStringLiteral("missing.reg"))},
       QStringLiteral("ERROR: Cannot read the file '%1': No such file or directory\n")
           .arg(dir.filePath(QStringLiteral("missing.reg")))},
  };
  for (const auto& [arguments, message] : cases) {
    const Result result = run(arguments);
    EXPECT_EQ(result.exitCode, 1) << qPrintable(arguments.join(' '));
    EXPECT_EQ(result.err, message) << qPrintable(arguments.join(' '));
  }
  EXPECT_FALSE(QFile::exists(hiveFile));
  for (const char* help : {"/?", "--help", "-h"}) {
    const Result usage = run({QString::fromLatin1(help)});
    EXPECT_EQ(usage.exitCode, 0) << help;
    EXPECT_TRUE(usage.out.startsWith(QStringLiteral("Usage: orv-reg QUERY  KEY"))) << help;
  }
}

TEST_F(OrvRegTest, ExportAndImportRoundTrip) {
  ok({QStringLiteral("add"), kKey, QStringLiteral("/v"), QStringLiteral("PASSWORD"), QStringLiteral("/d"),
      QStringLiteral("s\u00e9cret")});
  ok({QStringLiteral("add"), QStringLiteral("HKCU\\Software\\Other"), QStringLiteral("/v"), QStringLiteral("X"),
      QStringLiteral("/d"), QStringLiteral("1")});
  const QByteArray hive = read(hiveFile);

  const QString whole = dir.filePath(QStringLiteral("whole.reg"));
  ok({QStringLiteral("export"), whole, QStringLiteral("/y")});
  EXPECT_EQ(read(whole), hive);

  const QString part = dir.filePath(QStringLiteral("part.reg"));
  ok({QStringLiteral("export"), kKey, part});
  EXPECT_EQ(read(part), QByteArray("Windows Registry Editor Version 5.00\n\n"
                                   "[HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard]\n"
                                   "\"PASSWORD\"=\"s\xc3\xa9"
                                   "cret\"\n\n"));

  ok({QStringLiteral("delete"), QStringLiteral("HKCU\\Software"), QStringLiteral("/f")});
  ok({QStringLiteral("import"), whole});
  EXPECT_EQ(read(hiveFile), hive);
}

TEST_F(OrvRegTest, MalformedHiveIsReportedAndLeftAlone) {
  const QByteArray malformed =
      "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\"A\"=dword:zz\n";
  {
    QFile file(hiveFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(malformed);
  }
  const QString prefix = QStringLiteral("ERROR: Malformed registry file '%1', line 4: ").arg(hiveFile);
  for (const QStringList& arguments :
       {QStringList{QStringLiteral("query"), QStringLiteral("HKCU\\Software")},
        QStringList{QStringLiteral("add"), QStringLiteral("HKCU\\Software"), QStringLiteral("/v"), QStringLiteral("B")},
        QStringList{QStringLiteral("delete"), QStringLiteral("HKCU\\Software"), QStringLiteral("/f")}}) {
    const Result result = run(arguments);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.startsWith(prefix)) << qPrintable(result.err);
  }
  EXPECT_EQ(read(hiveFile), malformed);
}

// Two processes adding values at the same time lose nothing.
TEST_F(OrvRegTest, ConcurrentWritersLoseNothing) {
  constexpr int kPerWriter = 500;
  const QString script = QStringLiteral(
                             "i=0; while [ $i -lt %1 ]; do "
                             "\"$REG\" add 'HKCU\\Software\\Load' /v \"$PREFIX$i\" /d \"$i\" /f >/dev/null || exit 1; "
                             "i=$((i+1)); done")
                             .arg(kPerWriter);
  QProcess writers[2];
  for (int w = 0; w < 2; ++w) {
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("REG"), QStringLiteral(ORV_REG_EXE));
    env.insert(QStringLiteral("PREFIX"), w == 0 ? QStringLiteral("A") : QStringLiteral("B"));
    writers[w].setProcessEnvironment(env);
    writers[w].start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
  }
  for (QProcess& writer : writers) {
    ASSERT_TRUE(writer.waitForFinished(300000));
    EXPECT_EQ(writer.exitCode(), 0) << writer.readAllStandardError().constData();
  }
  RegistryHive hive(hiveFile);
  const auto key = hive.OpenKeyReadOnly(QStringLiteral("\\Software\\Load"));
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ValueNames().size(), 2 * kPerWriter);
  for (int i = 0; i < kPerWriter; ++i) {
    EXPECT_EQ(key->ReadString(QStringLiteral("A%1").arg(i)), QString::number(i));
    EXPECT_EQ(key->ReadString(QStringLiteral("B%1").arg(i)), QString::number(i));
  }
}

// Whether a process holds a file lock at this moment. The kernel lists the
// locks held as "1: FLOCK ADVISORY WRITE <pid> <device:inode> 0 EOF".
bool holdsFileLock(qint64 pid) {
  QFile locks(QStringLiteral("/proc/locks"));
  if (!locks.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : locks.readAll().split('\n')) {
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() > 4 && fields[4] == QByteArray::number(pid)) return true;
  }
  return false;
}

// Whether nobody holds the hive's lock: a lock of our own is had at once.
bool lockIsFree(const QString& lockFile) {
  const int fd = ::open(QFile::encodeName(lockFile).constData(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return true;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);  // releases it
  return free;
}

// Writers killed at random moments, many of them while they hold the lock,
// leave nothing behind that holds up the next write, and never a damaged
// file. Killed writers also meet what the ones before them left.
TEST_F(OrvRegTest, KilledWritersNeitherBlockNorDamageTheHive) {
  constexpr int kKills = 200;
  constexpr int kKillsBetweenChecks = 3;
  constexpr int kKillsAtTheLock = 10;  // every tenth writer dies as soon as it holds the lock
  constexpr int kFillers = 3000;       // makes a write, and so the time under the lock, longer
  const QString loadKey = QStringLiteral("\\Software\\Load");
  RegistryHive hive(hiveFile);
  hive.Modify([&](RegistryTree& tree) {
    RegistryTreeKey& key = tree.make(*CurrentUserKeyPath(loadKey));
    for (int i = 0; i < kFillers; ++i)
      key.setValue(RegistryValue::String(QStringLiteral("Filler%1").arg(i), QStringLiteral("value %1").arg(i)));
    return true;
  });
  const QStringList add = {QStringLiteral("add"), QStringLiteral("HKCU") + loadKey,
                           QStringLiteral("/v"),  QStringLiteral("Killed"),
                           QStringLiteral("/d"),  QStringLiteral("x"),
                           QStringLiteral("/f")};
  // Kill moments spread over the whole run of a writer.
  QElapsedTimer runTime;
  runTime.start();
  ok(add);
  const int runMicroseconds = static_cast<int>(runTime.nsecsElapsed() / 1000);

  int killedUnderLock = 0;
  qint64 slowestCheck = 0;
  for (int i = 1; i <= kKills; ++i) {
    QProcess writer;
    writer.setProcessEnvironment(environment());
    writer.start(QStringLiteral(ORV_REG_EXE), add);
    ASSERT_TRUE(writer.waitForStarted());
    const qint64 pid = writer.processId();
    bool ended = false;
    if (i % kKillsAtTheLock == 0) {
      // Watches for the writer taking the lock (or ending) rather than
      // hoping that a random moment meets the short time it holds it.
      while (!holdsFileLock(pid) && !(ended = writer.waitForFinished(0))) {
      }
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(QRandomGenerator::global()->bounded(runMicroseconds)));
    }
    if (!ended && holdsFileLock(pid)) ++killedUnderLock;
    writer.kill();
    ASSERT_TRUE(ended || writer.waitForFinished());
    if (writer.exitStatus() == QProcess::NormalExit) {
      EXPECT_EQ(writer.exitCode(), 0) << "writer " << i << ": " << writer.readAllStandardError().constData();
    }
    if (i % kKillsBetweenChecks != 0) continue;

    // The dead writer's lock went with it: the next write does not wait.
    EXPECT_TRUE(lockIsFree(hiveFile + QStringLiteral(".lock"))) << "after kill " << i;
    QElapsedTimer check;
    check.start();
    try {
      hive.OpenKey(loadKey, false)->WriteInteger(QStringLiteral("After%1").arg(i), i);
    } catch (const ERegistryException& error) {
      FAIL() << "write after kill " << i << ": " << qPrintable(error.message());
    }
    slowestCheck = std::max(slowestCheck, check.elapsed());
  }

  EXPECT_GT(killedUnderLock, 0) << "no writer was killed while it held the lock";

  const auto key = hive.OpenKeyReadOnly(loadKey);
  ASSERT_NE(key, nullptr);
  for (int i = kKillsBetweenChecks; i <= kKills; i += kKillsBetweenChecks)
    EXPECT_EQ(key->ReadInteger(QStringLiteral("After%1").arg(i)), i);
  EXPECT_EQ(key->ValueNames().size(), 1 + kFillers + kKills / kKillsBetweenChecks);
  std::printf("%d of %d writers killed while holding the lock; slowest write after kills: %lld ms\n", killedUnderLock,
              kKills, static_cast<long long>(slowestCheck));
}

}  // namespace
}  // namespace orv
