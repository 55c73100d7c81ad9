#include "platform/registry_hive.h"
#include "platform/registry_format.h"
#include "support/error_of.h"
#include "support/small_file_system.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

namespace orv {
namespace {

const QString kSettings = QStringLiteral("\\Software\\orvsoftware\\ORV Dashboard");

class RegistryHiveTest : public ::testing::Test {
protected:
  QByteArray fileBytes() const {
    QFile file(hive.FileName());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  void writeFile(const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(hive.FileName()).absolutePath());
    QFile file(hive.FileName());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
  }

  QString lockFileName() const { return hive.FileName() + QStringLiteral(".lock"); }
  // Milliseconds one write of a value takes, a wait for the lock included.
  qint64 timedWrite(const QString& name) {
    QElapsedTimer timer;
    timer.start();
    EXPECT_NO_THROW(hive.Modify([&](RegistryTree& tree) {
      tree.make(*CurrentUserKeyPath(kSettings)).setValue(RegistryValue::String(name, QStringLiteral("1")));
      return true;
    }));
    return timer.elapsed();
  }

  QTemporaryDir dir;
  RegistryHive hive{dir.filePath(QStringLiteral("config/orvsoftware/registry.reg"))};
};

TEST_F(RegistryHiveTest, MissingFileIsAnEmptyRegistryAndReadsDoNotCreateIt) {
  EXPECT_FALSE(hive.KeyExists(kSettings));
  EXPECT_EQ(hive.OpenKey(kSettings, false), nullptr);
  EXPECT_EQ(hive.OpenKeyReadOnly(kSettings), nullptr);
  EXPECT_FALSE(hive.DeleteKey(kSettings));
  EXPECT_FALSE(QFileInfo::exists(hive.FileName()));
}

TEST_F(RegistryHiveTest, OpenWithCreateMakesTheKeyAndItsParents) {
  const auto key = hive.OpenKey(kSettings, true);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->Path(), kSettings);
  EXPECT_TRUE(hive.KeyExists(QStringLiteral("Software\\orvsoftware")));
  EXPECT_TRUE(hive.KeyExists(QStringLiteral("\\software\\ORVSOFTWARE\\orv dashboard\\")));
  EXPECT_TRUE(key->ValueNames().isEmpty());
  EXPECT_EQ(hive.OpenKey(QStringLiteral("\\Software\\\\x"), true), nullptr);
}

TEST_F(RegistryHiveTest, ValuesRoundTripThroughTheFile) {
  const auto key = hive.OpenKey(kSettings, true);
  key->WriteString(QStringLiteral("USERNAME"), QStringLiteral("user@example.com"));
  key->WriteString(QStringLiteral("DOWNLOADDIR"), QStringLiteral("C:\\Temp\\\"x\"\nline"));
  key->WriteString(QString(), QStringLiteral("default"));
  key->WriteInteger(QStringLiteral("Count"), -2);
  key->WriteBool(QStringLiteral("SILENT"), true);
  key->WriteBool(QStringLiteral("PRODUCTNOTIFICATIONS"), false);

  // A separate object on the same file sees everything, case-insensitively.
  const auto other =
      RegistryHive(hive.FileName()).OpenKeyReadOnly(QStringLiteral("software\\ORVSOFTWARE\\orv dashboard"));
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->ReadString(QStringLiteral("username")), QStringLiteral("user@example.com"));
  EXPECT_EQ(other->ReadString(QStringLiteral("DownloadDir")), QStringLiteral("C:\\Temp\\\"x\"\nline"));
  EXPECT_EQ(other->ReadString(QString()), QStringLiteral("default"));
  EXPECT_EQ(other->ReadInteger(QStringLiteral("COUNT")), -2);
  EXPECT_EQ(other->ReadBool(QStringLiteral("silent")), true);
  EXPECT_EQ(other->ReadBool(QStringLiteral("ProductNotifications")), false);
  EXPECT_EQ(other->ReadString(QStringLiteral("Absent")), std::nullopt);
  EXPECT_EQ(other->ReadBool(QStringLiteral("Absent")), std::nullopt);
  EXPECT_TRUE(other->ValueExists(QStringLiteral("Silent")));
  EXPECT_FALSE(other->ValueExists(QStringLiteral("Absent")));

  // A rewrite in other case keeps the first spelling and the position.
  key->WriteString(QStringLiteral("username"), QStringLiteral("new"));
  EXPECT_EQ(other->ValueNames(),
            (QStringList{QStringLiteral("USERNAME"), QStringLiteral("DOWNLOADDIR"), QString(), QStringLiteral("Count"),
                         QStringLiteral("SILENT"), QStringLiteral("PRODUCTNOTIFICATIONS")}));
  EXPECT_EQ(other->ReadString(QStringLiteral("USERNAME")), QStringLiteral("new"));
}

// Writing what is there already leaves the file as it is (the program
// records its version at every start).
TEST_F(RegistryHiveTest, AnUnchangedValueIsNotWrittenAgain) {
  const auto key = hive.OpenKey(kSettings, true);
  key->WriteString(QStringLiteral("Version"), QStringLiteral("1.0"));
  const auto inode = [&] {
    struct stat info {};
    return ::stat(QFile::encodeName(hive.FileName()).constData(), &info) == 0 ? info.st_ino : 0;
  };
  const auto first = inode();
  ASSERT_NE(first, 0u);
  key->WriteString(QStringLiteral("Version"), QStringLiteral("1.0"));
  EXPECT_EQ(inode(), first);
  key->WriteString(QStringLiteral("Version"), QStringLiteral("1.1"));
  EXPECT_NE(inode(), first);
  EXPECT_EQ(key->ReadString(QStringLiteral("Version")), QStringLiteral("1.1"));
}

// On a full disk a save fails with the reason and the old file stays whole.
// Needs a small file system of its own (skipped where mounting is not
// allowed).
TEST(RegistryHiveFullDiskTest, ASaveThatCannotCompleteKeepsTheOldFile) {
  test::SmallFileSystem disk;
  if (!disk.Mounted()) GTEST_SKIP() << disk.WhyNotMounted();

  RegistryHive hive(disk.FilePath(QStringLiteral("registry.reg")));
  const auto key = hive.OpenKey(kSettings, true);
  key->WriteString(QStringLiteral("USERNAME"), QStringLiteral("user@example.com"));
  key->WriteString(QStringLiteral("PASSWORD"), QStringLiteral("CODE-1"));
  QFile file(hive.FileName());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray before = file.readAll();
  file.close();
  disk.Fill();

  const QString big(8 * 1024, QLatin1Char('b'));
  const auto error = test::errorOf([&] { key->WriteString(QStringLiteral("BIG"), big); });
  EXPECT_EQ(error.first, QStringLiteral("ERegistryWriteError"));
  EXPECT_TRUE(error.second.contains(QLatin1String("Cannot write the registry file"))) << error.second.toStdString();
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), before);
  EXPECT_EQ(
      QDir(disk.FilePath({})).entryList(QDir::Files | QDir::Hidden),
      (QStringList{QStringLiteral("filler"), QStringLiteral("registry.reg"), QStringLiteral("registry.reg.lock")}))
      << "no temporary file left";
  EXPECT_EQ(key->ReadString(QStringLiteral("USERNAME")), QStringLiteral("user@example.com"));
}

TEST_F(RegistryHiveTest, ReadingAnotherTypeFailsWithTheValueName) {
  writeFile(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard]\n"
      "\"SILENT\"=\"1\"\n"
      "\"USERNAME\"=dword:00000001\n"
      "\"Blob\"=hex:01,02\n"
      "\"Expand\"=hex(2):25,00,58,00,25,00,00,00\n");
  const auto key = hive.OpenKeyReadOnly(kSettings);
  ASSERT_NE(key, nullptr);
  const std::pair<QString, std::function<void()>> reads[] = {
      {QStringLiteral("SILENT"), [&] { key->ReadBool(QStringLiteral("SILENT")); }},
      {QStringLiteral("silent"), [&] { key->ReadInteger(QStringLiteral("silent")); }},
      {QStringLiteral("USERNAME"), [&] { key->ReadString(QStringLiteral("USERNAME")); }},
      {QStringLiteral("Blob"), [&] { key->ReadString(QStringLiteral("Blob")); }},
      {QStringLiteral("Blob"), [&] { key->ReadBool(QStringLiteral("Blob")); }},
      {QStringLiteral("Expand"), [&] { key->ReadInteger(QStringLiteral("Expand")); }},
  };
  for (const auto& [name, read] : reads) {
    EXPECT_EQ(test::errorOf(read), test::Error(QStringLiteral("ERegistryException"),
                                               QStringLiteral("Invalid data type for '%1'").arg(name)));
  }
  EXPECT_EQ(key->ReadString(QStringLiteral("Expand")), QStringLiteral("%X%"));
}

TEST_F(RegistryHiveTest, ReadOnlyKeysRefuseWrites) {
  hive.OpenKey(kSettings, true)->WriteString(QStringLiteral("A"), QStringLiteral("1"));
  const auto key = hive.OpenKeyReadOnly(kSettings);
  EXPECT_THROW(key->WriteString(QStringLiteral("A"), QStringLiteral("2")), ERegistryException);
  EXPECT_THROW(key->WriteBool(QStringLiteral("B"), true), ERegistryException);
  EXPECT_FALSE(key->DeleteValue(QStringLiteral("A")));
  EXPECT_EQ(key->ReadString(QStringLiteral("A")), QStringLiteral("1"));
}

TEST_F(RegistryHiveTest, SubkeysAndDeletion) {
  for (const char* name : {"Widget Pack", "Chart Kit", "ORV Dashboard"})
    hive.OpenKey(QStringLiteral("\\Software\\orvsoftware\\") + QLatin1String(name), true)
        ->WriteString(QStringLiteral("InstallDir"), QStringLiteral("/opt"));
  const auto vendor = hive.OpenKeyReadOnly(QStringLiteral("\\Software\\orvsoftware"));
  EXPECT_EQ(vendor->SubkeyNames(),
            (QStringList{QStringLiteral("Widget Pack"), QStringLiteral("Chart Kit"), QStringLiteral("ORV Dashboard")}));

  EXPECT_TRUE(hive.DeleteKey(QStringLiteral("\\software\\orvsoftware\\CHART KIT")));
  EXPECT_FALSE(hive.DeleteKey(QStringLiteral("\\Software\\orvsoftware\\Chart Kit")));
  EXPECT_FALSE(hive.DeleteKey(QString()));
  EXPECT_EQ(vendor->SubkeyNames().size(), 2);

  const auto widget = hive.OpenKey(QStringLiteral("\\Software\\orvsoftware\\Widget Pack"), false);
  EXPECT_TRUE(widget->DeleteValue(QStringLiteral("installdir")));
  EXPECT_FALSE(widget->DeleteValue(QStringLiteral("installdir")));
  EXPECT_TRUE(hive.DeleteKey(QStringLiteral("\\Software")));
  EXPECT_TRUE(vendor->SubkeyNames().isEmpty());
  EXPECT_EQ(widget->ReadString(QStringLiteral("InstallDir")), std::nullopt);
}

TEST_F(RegistryHiveTest, ChangesByOthersAreSeenByOpenKeys) {
  const auto key = hive.OpenKey(kSettings, true);
  writeFile(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard]\n"
      "\"USERNAME\"=\"edited by hand\"\n");
  EXPECT_EQ(key->ReadString(QStringLiteral("USERNAME")), QStringLiteral("edited by hand"));
}

TEST_F(RegistryHiveTest, MalformedFileIsReportedWithItsLineAndNeverOverwritten) {
  const QByteArray malformed =
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard]\n"
      "\"USERNAME\"=\"a\"\n"
      "\"DOWNLOADDIR\"=\"C:\\Temp\"\n";
  hive.OpenKey(kSettings, true);
  writeFile(malformed);
  const QString expected = QStringLiteral("Malformed registry file '%1', line 4: ").arg(hive.FileName());
  const test::Error error = test::errorOf([&] { hive.OpenKey(kSettings, true); });
  EXPECT_EQ(error.first, QStringLiteral("ERegistryFormatError"));
  EXPECT_TRUE(error.second.startsWith(expected)) << qPrintable(error.second);
  EXPECT_THROW(hive.OpenKeyReadOnly(kSettings), ERegistryFormatError);
  EXPECT_THROW(hive.DeleteKey(kSettings), ERegistryFormatError);
  EXPECT_THROW(hive.Modify([](RegistryTree&) { return true; }), ERegistryFormatError);
  EXPECT_EQ(fileBytes(), malformed);
}

TEST_F(RegistryHiveTest, FileIsPrivateToTheUser) {
  const mode_t previous = ::umask(022);
  hive.OpenKey(kSettings, true)->WriteString(QStringLiteral("PASSWORD"), QStringLiteral("secret"));
  struct stat info {};
  ASSERT_EQ(::stat(QFile::encodeName(hive.FileName()).constData(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // A file that a user made readable is private again after the next write.
  ::chmod(QFile::encodeName(hive.FileName()).constData(), 0644);
  hive.OpenKey(kSettings, true)->WriteString(QStringLiteral("PASSWORD"), QStringLiteral("other"));
  ASSERT_EQ(::stat(QFile::encodeName(hive.FileName()).constData(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  const QString exported = dir.filePath(QStringLiteral("export.reg"));
  hive.ExportTo(exported);
  ASSERT_EQ(::stat(QFile::encodeName(exported).constData(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ::umask(previous);
}

TEST_F(RegistryHiveTest, UnwritableLocationMeansTheKeyCannotBeOpened) {
  writeFile("");
  RegistryHive blocked(hive.FileName() + QStringLiteral("/below/registry.reg"));
  EXPECT_EQ(blocked.OpenKey(kSettings, true), nullptr);
  EXPECT_THROW(blocked.Modify([](RegistryTree&) { return true; }), ERegistryException);
}

TEST_F(RegistryHiveTest, ImportAppliesAllOrNothing) {
  hive.OpenKey(kSettings, true)->WriteString(QStringLiteral("Old"), QStringLiteral("1"));
  const QString import = dir.filePath(QStringLiteral("import.reg"));
  auto writeImport = [&](const QByteArray& bytes) {
    QFile file(import);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
  };
  writeImport(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard]\n"
      "\"New\"=\"2\"\n"
      "[HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard]\n"
      "\"Old\"=nonsense\n");
  EXPECT_THROW(hive.ImportFrom(import), ERegistryFormatError);
  const auto key = hive.OpenKeyReadOnly(kSettings);
  EXPECT_FALSE(key->ValueExists(QStringLiteral("New")));

  writeImport(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard]\n"
      "\"New\"=\"2\"\n"
      "\"Old\"=-\n");
  hive.ImportFrom(import);
  EXPECT_EQ(key->ValueNames(), QStringList{QStringLiteral("New")});
}

// Settings are written from the UI thread and from worker threads.
TEST_F(RegistryHiveTest, ThreadsWritingAtOnceLoseNothing) {
  constexpr int kPerThread = 150;
  auto writer = [this](QChar prefix) {
    RegistryHive own(hive.FileName());
    for (int i = 0; i < kPerThread; ++i) own.OpenKey(kSettings, true)->WriteInteger(prefix + QString::number(i), i);
  };
  std::thread first(writer, QLatin1Char('a'));
  std::thread second(writer, QLatin1Char('b'));
  first.join();
  second.join();
  EXPECT_EQ(hive.OpenKeyReadOnly(kSettings)->ValueNames().size(), 2 * kPerThread);
}

TEST_F(RegistryHiveTest, LockLeftByADeadWriterDoesNotBlock) {
  QDir().mkpath(QFileInfo(hive.FileName()).absolutePath());
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A writer that dies holding the lock.
    QLockFile lock(lockFileName());
    ::_exit(lock.tryLock(0) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  ASSERT_TRUE(QFileInfo::exists(lockFileName()));

  QElapsedTimer timer;
  timer.start();
  const auto key = hive.OpenKey(kSettings, true);
  ASSERT_NE(key, nullptr);
  key->WriteString(QStringLiteral("A"), QStringLiteral("1"));
  EXPECT_LT(timer.elapsed(), 5000);
  EXPECT_EQ(key->ReadString(QStringLiteral("A")), QStringLiteral("1"));
}

// Files a lock file scheme can leave behind when a writer is killed while
// creating one, before the owner's id is in it, or when a crash loses their
// data; only their age would tell that they are stale. None of them may
// hold up a write (on the UI thread, at start-up) for long.
TEST_F(RegistryHiveTest, LeftoverLockFilesDoNotHoldUpWrites) {
  const struct {
    const char* what;
    std::vector<std::pair<QString, QByteArray>> files;  // suffix to the hive's name, content
  } leftovers[] = {
      {"empty lock", {{QStringLiteral(".lock"), QByteArray()}}},
      {"zeroed lock", {{QStringLiteral(".lock"), QByteArray(64, '\0')}}},
      {"empty lock and empty lock of its clean-up",
       {{QStringLiteral(".lock"), QByteArray()}, {QStringLiteral(".lock.rmlock"), QByteArray()}}},
  };
  writeFile("");
  for (const auto& [what, files] : leftovers) {
    for (const auto& [suffix, content] : files) {
      QFile file(hive.FileName() + suffix);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
      file.write(content);
    }
    EXPECT_LT(timedWrite(QString::fromLatin1(what)), 5000) << what;
  }
  const auto key = hive.OpenKeyReadOnly(kSettings);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ValueNames().size(), std::size(leftovers));
}

// A live writer's lock is respected however old it looks.
TEST_F(RegistryHiveTest, LiveLockIsRespectedHoweverOld) {
  std::promise<void> locked;
  std::promise<void> release;
  auto holder = std::async(std::launch::async, [&] {
    hive.Modify([&](RegistryTree& tree) {
      const timeval anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
      EXPECT_EQ(::utimes(QFile::encodeName(lockFileName()).constData(), anHourAgo), 0);
      locked.set_value();
      release.get_future().wait();
      tree.make(*CurrentUserKeyPath(kSettings)).setValue(RegistryValue::String(QStringLiteral("First"), {}));
      return true;
    });
  });
  locked.get_future().wait();

  auto waiter = std::async(std::launch::async, [this] { return timedWrite(QStringLiteral("Second")); });
  // Nothing to wait for but the absence of the write: give it a few hundred
  // attempts at the lock.
  EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
  EXPECT_FALSE(QFileInfo::exists(hive.FileName()));
  release.set_value();
  holder.get();
  waiter.get();
  const auto key = hive.OpenKeyReadOnly(kSettings);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ValueNames(), (QStringList{QStringLiteral("First"), QStringLiteral("Second")}));
}

TEST(RegistryHiveLocation, EnvironmentChoosesTheFile) {
  const QByteArray savedFile = qgetenv("ORV_REGISTRY_FILE");
  const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
  qputenv("ORV_REGISTRY_FILE", "/somewhere/hive.reg");
  EXPECT_EQ(RegistryHive::DefaultFileName(), QStringLiteral("/somewhere/hive.reg"));
  qunsetenv("ORV_REGISTRY_FILE");
  qputenv("XDG_CONFIG_HOME", "/config");
  EXPECT_EQ(RegistryHive::DefaultFileName(), QStringLiteral("/config/orvsoftware/registry.reg"));
  qputenv("ORV_REGISTRY_FILE", savedFile);
  qputenv("XDG_CONFIG_HOME", savedConfig);
  if (savedFile.isNull()) qunsetenv("ORV_REGISTRY_FILE");
  if (savedConfig.isNull()) qunsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace orv
