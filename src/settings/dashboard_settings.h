#pragma once

#include "platform/known_folders.h"
#include "platform/registry.h"

#include <QString>

#include <optional>

namespace orv {

// Everything the options dialog stores at once, in the order it is written.
struct TORVDashboardSettingsValues {
  QString Password;
  QString UserName;
  QString DownloadDir;
  QString KitwrightDir;
  QString InstallDirTrial;
  QString InstallDirReg;
  bool InstallNotifications = true;
  bool ProductNotifications = true;
  bool Silent = true;
};

// The application's settings in the registry key
// HKEY_CURRENT_USER\Software\orvsoftware\ORV Dashboard. Nothing is cached:
// every call opens the key anew, so a change by the options dialog is seen
// by the next reader at once. Readers never write: a missing key reads as
// one without values, and only writers create it. Safe to call from any
// thread as long as the ports are.
//
// When the key cannot be opened (for a reader: the registry cannot be
// read) the string getters give the empty string, ReadSilent true and the
// notification getters false; a value stored with another type throws
// ERegistryException.
class TORVDashboardSettings {
public:
  static const QString SettingsKey;

  TORVDashboardSettings(Registry& ARegistry, const KnownFolders& AFolders);

  QString ReadUserName() const;
  QString ReadPassword() const;
  // Folders that are read with a trailing delimiter unless empty.
  QString ReadDownloadDir() const;
  QString ReadKitwrightDir() const;
  // The stored folder with a trailing delimiter, or the default without one.
  QString ReadInstallDirTrial() const;
  QString ReadInstallDirReg() const;
  bool ReadSilent() const;
  bool ReadProductNotifications() const;
  bool ReadInstallNotifications() const;

  // "orv.exe" in ReadKitwrightDir; the bare name when that is empty (a file
  // in the current directory).
  QString KitwrightExePath() const;
  bool KitwrightExists() const;
  // The folder of the classic setups' logs.
  QString GetLogFolder() const;

  // The defaults the options dialog falls back to for empty edits.
  QString DefaultDownloadDir() const;  // the Downloads folder
  QString DefaultInstallDirTrial() const;
  QString DefaultInstallDirReg() const;

  void WriteDashboardVersion(const QString& AVersion);
  // The version that last ran; none when absent or the key cannot be opened.
  std::optional<QString> ReadDashboardVersion() const;

  // The stored values as the options dialog shows them: texts as stored
  // (no defaults, no trailing delimiter, empty when absent), flags true
  // when absent. None when the key cannot be opened.
  std::optional<TORVDashboardSettingsValues> LoadRegistrySettings() const;
  void SaveRegistrySettings(const TORVDashboardSettingsValues& AValues);

private:
  QString readString(const QString& AName, const QString& ADefault) const;
  QString readInstallDir(const QString& AName, const QString& ADefault) const;
  bool readFlag(const QString& AName) const;

  Registry& FRegistry;
  const KnownFolders& FFolders;
};

}  // namespace orv
