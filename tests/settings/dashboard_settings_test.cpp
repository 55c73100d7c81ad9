#include "settings/dashboard_settings.h"

#include "platform/registry_hive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>

namespace orv {
namespace {

class FixedFolders final : public KnownFolders {
public:
  QString downloads, documents, localAppData, temp;
  QString Downloads() const override { return downloads; }
  QString Documents() const override { return documents; }
  QString LocalAppData() const override { return localAppData; }
  QString Temp() const override { return temp; }
};

class DashboardSettingsTest : public ::testing::Test {
protected:
  DashboardSettingsTest() {
    folders.downloads = dir.filePath(QStringLiteral("Downloads"));
    folders.documents = dir.filePath(QStringLiteral("Documents"));
    folders.localAppData = dir.filePath(QStringLiteral("local"));
    folders.temp = dir.filePath(QStringLiteral("tmp"));
  }

  std::unique_ptr<RegistryKey> settingsKey() { return hive.OpenKey(TORVDashboardSettings::SettingsKey, true); }

  static void touch(const QString& fileName) {
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QFile file(fileName);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }

  QTemporaryDir dir;
  FixedFolders folders;
  RegistryHive hive{dir.filePath(QStringLiteral("registry.reg"))};
  TORVDashboardSettings settings{hive, folders};
};

TEST_F(DashboardSettingsTest, FreshUserGetsTheDefaults) {
  EXPECT_EQ(settings.ReadUserName(), QString());
  EXPECT_EQ(settings.ReadPassword(), QString());
  EXPECT_EQ(settings.ReadDownloadDir(), folders.downloads + QLatin1Char('/'));
  EXPECT_EQ(settings.ReadKitwrightDir(), folders.downloads + QLatin1Char('/'));
  EXPECT_EQ(settings.ReadInstallDirTrial(), folders.localAppData + QStringLiteral("/orvsoftware/trial"));
  EXPECT_EQ(settings.ReadInstallDirReg(), folders.localAppData + QStringLiteral("/orvsoftware/registered"));
  EXPECT_EQ(settings.GetLogFolder(), folders.localAppData + QStringLiteral("/orvsoftware/log"));
  EXPECT_TRUE(settings.ReadSilent());
  EXPECT_TRUE(settings.ReadProductNotifications());
  EXPECT_TRUE(settings.ReadInstallNotifications());
  // Readers never write.
  EXPECT_FALSE(QFileInfo::exists(hive.FileName()));

  const QString exe = folders.downloads + QStringLiteral("/orv.exe");
  EXPECT_EQ(settings.KitwrightExePath(), exe);
  EXPECT_FALSE(settings.KitwrightExists());
  QDir().mkpath(exe);  // a folder of that name is not the program
  EXPECT_FALSE(settings.KitwrightExists());
  QDir().rmdir(exe);
  touch(exe);
  EXPECT_TRUE(settings.KitwrightExists());
}

TEST_F(DashboardSettingsTest, SavedSettingsAreReadBackInTheirOrder) {
  TORVDashboardSettingsValues values;
  values.Password = QStringLiteral("code");
  values.UserName = QStringLiteral("user@example.com");
  values.DownloadDir = QStringLiteral("/data/downloads");
  values.KitwrightDir = QStringLiteral("/opt/orv/");
  values.InstallDirTrial = QStringLiteral("/opt/trial");
  values.InstallDirReg = QStringLiteral("/opt/registered/");
  values.InstallNotifications = false;
  values.ProductNotifications = true;
  values.Silent = false;
  settings.SaveRegistrySettings(values);
  settings.WriteDashboardVersion(QStringLiteral("1.2.1"));

  EXPECT_EQ(settings.ReadPassword(), QStringLiteral("code"));
  EXPECT_EQ(settings.ReadUserName(), QStringLiteral("user@example.com"));
  EXPECT_EQ(settings.ReadDownloadDir(), QStringLiteral("/data/downloads/"));
  EXPECT_EQ(settings.ReadKitwrightDir(), QStringLiteral("/opt/orv/"));
  EXPECT_EQ(settings.KitwrightExePath(), QStringLiteral("/opt/orv/orv.exe"));
  EXPECT_EQ(settings.ReadInstallDirTrial(), QStringLiteral("/opt/trial/"));
  EXPECT_EQ(settings.ReadInstallDirReg(), QStringLiteral("/opt/registered/"));
  EXPECT_FALSE(settings.ReadInstallNotifications());
  EXPECT_TRUE(settings.ReadProductNotifications());
  EXPECT_FALSE(settings.ReadSilent());

  const auto key = settingsKey();
  EXPECT_EQ(
      key->ValueNames(),
      (QStringList{QStringLiteral("PASSWORD"), QStringLiteral("USERNAME"), QStringLiteral("DOWNLOADDIR"),
                   QStringLiteral("KITWRIGHTDIR"), QStringLiteral("INSTALLDIRTRIAL"), QStringLiteral("INSTALLDIRREG"),
                   QStringLiteral("INSTALLNOTIFICATIONS"), QStringLiteral("PRODUCTNOTIFICATIONS"),
                   QStringLiteral("SILENT"), QStringLiteral("DASHBOARDVERSION")}));
  EXPECT_EQ(key->ReadInteger(QStringLiteral("SILENT")), 0);
  EXPECT_EQ(key->ReadString(QStringLiteral("DASHBOARDVERSION")), QStringLiteral("1.2.1"));

  // Nothing is cached: a change by another writer is seen at once.
  RegistryHive(hive.FileName())
      .OpenKey(TORVDashboardSettings::SettingsKey, false)
      ->WriteString(QStringLiteral("username"), QStringLiteral("other@example.com"));
  EXPECT_EQ(settings.ReadUserName(), QStringLiteral("other@example.com"));
}

// The options dialog shows what is stored, not what the getters make of it.
TEST_F(DashboardSettingsTest, LoadingForTheDialogGivesStoredTextsWithoutDefaults) {
  const auto fresh = settings.LoadRegistrySettings();
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->DownloadDir, QString());
  EXPECT_EQ(fresh->KitwrightDir, QString());
  EXPECT_EQ(fresh->InstallDirTrial, QString());
  EXPECT_TRUE(fresh->InstallNotifications && fresh->ProductNotifications && fresh->Silent);
  EXPECT_EQ(settings.ReadDashboardVersion(), std::nullopt);

  const auto key = settingsKey();
  key->WriteString(QStringLiteral("DOWNLOADDIR"), QStringLiteral("/data/downloads"));
  key->WriteString(QStringLiteral("INSTALLDIRREG"), QStringLiteral("/opt/registered"));
  key->WriteBool(QStringLiteral("PRODUCTNOTIFICATIONS"), false);
  key->WriteString(QStringLiteral("DASHBOARDVERSION"), QStringLiteral("1.2.1.0"));
  const auto stored = settings.LoadRegistrySettings();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->DownloadDir, QStringLiteral("/data/downloads"));
  EXPECT_EQ(stored->InstallDirReg, QStringLiteral("/opt/registered"));
  EXPECT_FALSE(stored->ProductNotifications);
  EXPECT_TRUE(stored->Silent);
  EXPECT_EQ(settings.ReadDashboardVersion(), QStringLiteral("1.2.1.0"));

  // A registry that cannot be read (the hive is a folder).
  ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("unreadable/registry.reg"))));
  RegistryHive blocked(dir.filePath(QStringLiteral("unreadable/registry.reg")));
  TORVDashboardSettings unopenable(blocked, folders);
  EXPECT_FALSE(unopenable.LoadRegistrySettings().has_value());
  EXPECT_EQ(unopenable.ReadDashboardVersion(), std::nullopt);
}

// A save rewrites the file only for values that change; the file's inode
// tells a rewrite, which replaces the file.
TEST_F(DashboardSettingsTest, SavingRewritesTheFileOnlyForChangedValues) {
  const auto inode = [this] {
    struct stat info {};
    return ::stat(hive.FileName().toLocal8Bit().constData(), &info) == 0 ? info.st_ino : 0;
  };
  TORVDashboardSettingsValues values;
  values.UserName = QStringLiteral("user@example.com");
  values.KitwrightDir = QStringLiteral("/opt/k");
  settings.SaveRegistrySettings(values);
  const auto saved = inode();
  settings.SaveRegistrySettings(values);
  EXPECT_EQ(inode(), saved);

  struct Case {
    const char* what;
    std::function<void()> change;
  };
  const Case cases[] = {
      {"a changed text", [&] { values.KitwrightDir = QStringLiteral("/opt/ki"); }},
      {"a changed flag", [&] { values.Silent = false; }},
      {"a text stored as a number", [&] { settingsKey()->WriteInteger(QStringLiteral("USERNAME"), 1); }},
      {"a flag stored as another number", [&] { settingsKey()->WriteInteger(QStringLiteral("SILENT"), 5); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.change();
    const auto before = inode();
    settings.SaveRegistrySettings(values);
    EXPECT_NE(inode(), before);
    EXPECT_EQ(settings.ReadUserName(), values.UserName);
    EXPECT_EQ(settingsKey()->ReadInteger(QStringLiteral("SILENT")), values.Silent ? 1 : 0);
    EXPECT_EQ(settings.ReadKitwrightDir(), values.KitwrightDir + QLatin1Char('/'));
  }
}

TEST_F(DashboardSettingsTest, EmptyKitwrightFolderMeansTheCurrentDirectory) {
  settingsKey()->WriteString(QStringLiteral("KITWRIGHTDIR"), QString());
  EXPECT_EQ(settings.ReadKitwrightDir(), QString());
  EXPECT_EQ(settings.KitwrightExePath(), QStringLiteral("orv.exe"));

  const QString previous = QDir::currentPath();
  const QString work = dir.filePath(QStringLiteral("work"));
  QDir().mkpath(work);
  ASSERT_TRUE(QDir::setCurrent(work));
  EXPECT_FALSE(settings.KitwrightExists());
  touch(work + QStringLiteral("/orv.exe"));
  EXPECT_TRUE(settings.KitwrightExists());
  QDir::setCurrent(previous);
}

// Every getter, as the program reads its settings.
void ReadEverything(const TORVDashboardSettings& settings) {
  settings.ReadUserName();
  settings.ReadPassword();
  settings.ReadDownloadDir();
  settings.ReadKitwrightDir();
  settings.ReadInstallDirTrial();
  settings.ReadInstallDirReg();
  settings.ReadSilent();
  settings.ReadProductNotifications();
  settings.ReadInstallNotifications();
  settings.ReadDashboardVersion();
  settings.LoadRegistrySettings();
  settings.KitwrightExists();
}

QByteArray FileBytes(const QString& fileName) {
  QFile file(fileName);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

ino_t Inode(const QString& fileName) {
  struct stat info {};
  return ::stat(QFile::encodeName(fileName).constData(), &info) == 0 ? info.st_ino : 0;
}

// Reading from a missing key writes nothing: no file, folder or lock where
// there was none, no key where it could not be made, and a hive holding
// other keys stays the very file it was. The key reads as empty, so the
// defaults apply; only a writer makes it.
TEST_F(DashboardSettingsTest, ReadingAMissingKeyWritesNothing) {
  struct Case {
    const char* what;
    QString hiveFile;
    std::function<void()> prepare;
  };
  const QString other = QStringLiteral("\\Software\\Other");
  const Case cases[] = {
      {"no hive, in a folder not made yet", dir.filePath(QStringLiteral("config/registry.reg")), [] {}},
      {"a file where the hive's folder would be", dir.filePath(QStringLiteral("blocker/registry.reg")),
       [&] { touch(dir.filePath(QStringLiteral("blocker"))); }},
      {"a hive with another key", hive.FileName(),
       [&] { hive.OpenKey(other, true)->WriteString(QStringLiteral("A"), QStringLiteral("1")); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.prepare();
    const QStringList filesBefore = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const QByteArray bytesBefore = FileBytes(c.hiveFile);
    const ino_t inodeBefore = Inode(c.hiveFile);
    RegistryHive registry(c.hiveFile);
    const TORVDashboardSettings reader(registry, folders);

    ReadEverything(reader);
    EXPECT_EQ(reader.ReadDownloadDir(), folders.downloads + QLatin1Char('/'));
    EXPECT_TRUE(reader.ReadProductNotifications());
    ASSERT_TRUE(reader.LoadRegistrySettings().has_value());
    EXPECT_TRUE(reader.LoadRegistrySettings()->InstallNotifications);

    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), filesBefore);
    EXPECT_EQ(FileBytes(c.hiveFile), bytesBefore);
    EXPECT_EQ(Inode(c.hiveFile), inodeBefore);
    EXPECT_FALSE(registry.KeyExists(TORVDashboardSettings::SettingsKey));
  }
  settings.WriteDashboardVersion(QStringLiteral("1.0"));
  EXPECT_TRUE(hive.KeyExists(TORVDashboardSettings::SettingsKey));
}

// A registry that cannot be read (the hive is a folder).
TEST_F(DashboardSettingsTest, KeyThatCannotBeOpenedGivesEmptyTextsAndSafeFlags) {
  ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("unreadable/registry.reg"))));
  RegistryHive blocked(dir.filePath(QStringLiteral("unreadable/registry.reg")));
  TORVDashboardSettings unopenable(blocked, folders);
  EXPECT_EQ(unopenable.ReadUserName(), QString());
  EXPECT_EQ(unopenable.ReadDownloadDir(), QString());
  EXPECT_EQ(unopenable.ReadKitwrightDir(), QString());
  EXPECT_EQ(unopenable.ReadInstallDirTrial(), QString());
  EXPECT_EQ(unopenable.ReadInstallDirReg(), QString());
  EXPECT_EQ(unopenable.KitwrightExePath(), QStringLiteral("orv.exe"));
  EXPECT_TRUE(unopenable.ReadSilent());
  EXPECT_FALSE(unopenable.ReadProductNotifications());
  EXPECT_FALSE(unopenable.ReadInstallNotifications());
  EXPECT_NO_THROW(unopenable.SaveRegistrySettings({}));
  EXPECT_NO_THROW(unopenable.WriteDashboardVersion(QStringLiteral("1.0")));
}

TEST_F(DashboardSettingsTest, ValueOfAnotherTypeRaisesTheRegistryError) {
  const auto key = settingsKey();
  key->WriteString(QStringLiteral("SILENT"), QStringLiteral("yes"));
  key->WriteBool(QStringLiteral("USERNAME"), true);
  key->WriteInteger(QStringLiteral("DOWNLOADDIR"), 5);
  const std::pair<QString, std::function<void()>> reads[] = {
      {QStringLiteral("SILENT"), [&] { settings.ReadSilent(); }},
      {QStringLiteral("USERNAME"), [&] { settings.ReadUserName(); }},
      {QStringLiteral("DOWNLOADDIR"), [&] { settings.ReadDownloadDir(); }},
  };
  for (const auto& [name, read] : reads) {
    try {
      read();
      ADD_FAILURE() << "no error for " << qPrintable(name);
    } catch (const ERegistryException& error) {
      EXPECT_EQ(error.message(), QStringLiteral("Invalid data type for '%1'").arg(name));
    }
  }
}

TEST_F(DashboardSettingsTest, UnknownFoldersLeaveRelativeDefaults) {
  FixedFolders none;
  TORVDashboardSettings bare(hive, none);
  EXPECT_EQ(bare.ReadDownloadDir(), QString());
  EXPECT_EQ(bare.KitwrightExePath(), QStringLiteral("orv.exe"));
  EXPECT_EQ(bare.ReadInstallDirTrial(), QStringLiteral("orvsoftware/trial"));
  EXPECT_EQ(bare.ReadInstallDirReg(), QStringLiteral("orvsoftware/registered"));
  EXPECT_EQ(bare.GetLogFolder(), QStringLiteral("orvsoftware/log"));
}

}  // namespace
}  // namespace orv
