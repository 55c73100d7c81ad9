#include "dashboard_settings.h"

#include "lib/utils.h"

#include <QFileInfo>

namespace orv {

namespace {

QString localAppDataFolder(const KnownFolders& folders, const QString& subfolder) {
  return TORVZYNDashUtils::AddBackslash(folders.LocalAppData()) + QStringLiteral("orvsoftware") +
         TORVZYNDashUtils::PathDelimiter + subfolder;
}

}  // namespace

const QString TORVDashboardSettings::SettingsKey = QStringLiteral("\\Software\\orvsoftware\\ORV Dashboard");

TORVDashboardSettings::TORVDashboardSettings(Registry& ARegistry, const KnownFolders& AFolders)
    : FRegistry(ARegistry), FFolders(AFolders) {}

QString TORVDashboardSettings::readString(const QString& AName, const QString& ADefault) const {
  const auto key = FRegistry.OpenKey(SettingsKey, true);
  if (!key) return QString();
  return key->ReadString(AName).value_or(ADefault);
}

// An absent flag reads true; when the key cannot be opened, false.
bool TORVDashboardSettings::readFlag(const QString& AName) const {
  const auto key = FRegistry.OpenKey(SettingsKey, true);
  if (!key) return false;
  return key->ReadBool(AName).value_or(true);
}

QString TORVDashboardSettings::ReadUserName() const { return readString(QStringLiteral("USERNAME"), QString()); }

QString TORVDashboardSettings::ReadPassword() const { return readString(QStringLiteral("PASSWORD"), QString()); }

QString TORVDashboardSettings::ReadDownloadDir() const {
  return TORVZYNDashUtils::AddBackslash(readString(QStringLiteral("DOWNLOADDIR"), DefaultDownloadDir()));
}

QString TORVDashboardSettings::ReadKitwrightDir() const {
  return TORVZYNDashUtils::AddBackslash(readString(QStringLiteral("KITWRIGHTDIR"), DefaultDownloadDir()));
}

// A stored folder gets its trailing delimiter; the default goes without.
QString TORVDashboardSettings::readInstallDir(const QString& AName, const QString& ADefault) const {
  const auto key = FRegistry.OpenKey(SettingsKey, true);
  if (!key) return QString();
  const auto stored = key->ReadString(AName);
  return stored ? TORVZYNDashUtils::AddBackslash(*stored) : ADefault;
}

QString TORVDashboardSettings::ReadInstallDirTrial() const {
  return readInstallDir(QStringLiteral("INSTALLDIRTRIAL"), DefaultInstallDirTrial());
}

QString TORVDashboardSettings::ReadInstallDirReg() const {
  return readInstallDir(QStringLiteral("INSTALLDIRREG"), DefaultInstallDirReg());
}

// Without the key, setups still run silently.
bool TORVDashboardSettings::ReadSilent() const {
  const auto key = FRegistry.OpenKey(SettingsKey, true);
  if (!key) return true;
  return key->ReadBool(QStringLiteral("SILENT")).value_or(true);
}

bool TORVDashboardSettings::ReadProductNotifications() const {
  return readFlag(QStringLiteral("PRODUCTNOTIFICATIONS"));
}

bool TORVDashboardSettings::ReadInstallNotifications() const {
  return readFlag(QStringLiteral("INSTALLNOTIFICATIONS"));
}

QString TORVDashboardSettings::KitwrightExePath() const {
  return ReadKitwrightDir() + QStringLiteral("orv.exe");
}

bool TORVDashboardSettings::KitwrightExists() const { return QFileInfo(KitwrightExePath()).isFile(); }

QString TORVDashboardSettings::GetLogFolder() const { return localAppDataFolder(FFolders, QStringLiteral("log")); }

QString TORVDashboardSettings::DefaultDownloadDir() const { return FFolders.Downloads(); }

QString TORVDashboardSettings::DefaultInstallDirTrial() const {
  return localAppDataFolder(FFolders, QStringLiteral("trial"));
}

QString TORVDashboardSettings::DefaultInstallDirReg() const {
  return localAppDataFolder(FFolders, QStringLiteral("registered"));
}

void TORVDashboardSettings::WriteDashboardVersion(const QString& AVersion) {
  if (const auto key = FRegistry.OpenKey(SettingsKey, true))
    key->WriteString(QStringLiteral("DASHBOARDVERSION"), AVersion);
}

void TORVDashboardSettings::SaveRegistrySettings(const TORVDashboardSettingsValues& AValues) {
  const auto key = FRegistry.OpenKey(SettingsKey, true);
  if (!key) return;
  key->WriteString(QStringLiteral("PASSWORD"), AValues.Password);
  key->WriteString(QStringLiteral("USERNAME"), AValues.UserName);
  key->WriteString(QStringLiteral("DOWNLOADDIR"), AValues.DownloadDir);
  key->WriteString(QStringLiteral("KITWRIGHTDIR"), AValues.KitwrightDir);
  key->WriteString(QStringLiteral("INSTALLDIRTRIAL"), AValues.InstallDirTrial);
  key->WriteString(QStringLiteral("INSTALLDIRREG"), AValues.InstallDirReg);
  key->WriteBool(QStringLiteral("INSTALLNOTIFICATIONS"), AValues.InstallNotifications);
  key->WriteBool(QStringLiteral("PRODUCTNOTIFICATIONS"), AValues.ProductNotifications);
  key->WriteBool(QStringLiteral("SILENT"), AValues.Silent);
}

}  // namespace orv
