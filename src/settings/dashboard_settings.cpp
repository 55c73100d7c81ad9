#include "settings/dashboard_settings.h"

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
  const auto key = FRegistry.OpenKeyForReading(SettingsKey);
  if (!key) return QString();
  return key->ReadString(AName).value_or(ADefault);
}

// An absent flag reads true; when the key cannot be opened, false.
bool TORVDashboardSettings::readFlag(const QString& AName) const {
  const auto key = FRegistry.OpenKeyForReading(SettingsKey);
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
  const auto key = FRegistry.OpenKeyForReading(SettingsKey);
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
  const auto key = FRegistry.OpenKeyForReading(SettingsKey);
  if (!key) return true;
  return key->ReadBool(QStringLiteral("SILENT")).value_or(true);
}

bool TORVDashboardSettings::ReadProductNotifications() const {
  return readFlag(QStringLiteral("PRODUCTNOTIFICATIONS"));
}

bool TORVDashboardSettings::ReadInstallNotifications() const {
  return readFlag(QStringLiteral("INSTALLNOTIFICATIONS"));
}

QString TORVDashboardSettings::KitwrightExePath() const { return ReadKitwrightDir() + QStringLiteral("orv.exe"); }

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

std::optional<QString> TORVDashboardSettings::ReadDashboardVersion() const {
  const auto key = FRegistry.OpenKeyForReading(SettingsKey);
  if (!key) return std::nullopt;
  return key->ReadString(QStringLiteral("DASHBOARDVERSION"));
}

std::optional<TORVDashboardSettingsValues> TORVDashboardSettings::LoadRegistrySettings() const {
  const auto key = FRegistry.OpenKeyForReading(SettingsKey);
  if (!key) return std::nullopt;
  TORVDashboardSettingsValues values;
  values.Password = key->ReadString(QStringLiteral("PASSWORD")).value_or(QString());
  values.UserName = key->ReadString(QStringLiteral("USERNAME")).value_or(QString());
  values.DownloadDir = key->ReadString(QStringLiteral("DOWNLOADDIR")).value_or(QString());
  values.KitwrightDir = key->ReadString(QStringLiteral("KITWRIGHTDIR")).value_or(QString());
  values.InstallNotifications = key->ReadBool(QStringLiteral("INSTALLNOTIFICATIONS")).value_or(true);
  values.Silent = key->ReadBool(QStringLiteral("SILENT")).value_or(true);
  values.ProductNotifications = key->ReadBool(QStringLiteral("PRODUCTNOTIFICATIONS")).value_or(true);
  values.InstallDirTrial = key->ReadString(QStringLiteral("INSTALLDIRTRIAL")).value_or(QString());
  values.InstallDirReg = key->ReadString(QStringLiteral("INSTALLDIRREG")).value_or(QString());
  return values;
}

// Every write replaces the settings file on disk. The options dialog saves
// all values on every keystroke in its folder edit, so values that already
// hold what they are given are left alone: a keystroke then rewrites the
// file once instead of nine times. A value of another type is rewritten.
void TORVDashboardSettings::SaveRegistrySettings(const TORVDashboardSettingsValues& AValues) {
  const auto key = FRegistry.OpenKey(SettingsKey, true);
  if (!key) return;
  const auto writeString = [&key](const QString& AName, const QString& AText) {
    std::optional<QString> stored;
    try {
      stored = key->ReadString(AName);
    } catch (const ERegistryException&) {
    }
    if (stored != AText) key->WriteString(AName, AText);
  };
  const auto writeFlag = [&key](const QString& AName, bool AFlag) {
    std::optional<qint32> stored;
    try {
      stored = key->ReadInteger(AName);
    } catch (const ERegistryException&) {
    }
    if (stored != (AFlag ? 1 : 0)) key->WriteBool(AName, AFlag);
  };
  writeString(QStringLiteral("PASSWORD"), AValues.Password);
  writeString(QStringLiteral("USERNAME"), AValues.UserName);
  writeString(QStringLiteral("DOWNLOADDIR"), AValues.DownloadDir);
  writeString(QStringLiteral("KITWRIGHTDIR"), AValues.KitwrightDir);
  writeString(QStringLiteral("INSTALLDIRTRIAL"), AValues.InstallDirTrial);
  writeString(QStringLiteral("INSTALLDIRREG"), AValues.InstallDirReg);
  writeFlag(QStringLiteral("INSTALLNOTIFICATIONS"), AValues.InstallNotifications);
  writeFlag(QStringLiteral("PRODUCTNOTIFICATIONS"), AValues.ProductNotifications);
  writeFlag(QStringLiteral("SILENT"), AValues.Silent);
}

}  // namespace orv
