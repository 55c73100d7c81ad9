#pragma once

#include "core/ide_record.h"
#include "core/product_records.h"

#include <QString>

#include <array>
#include <utility>

namespace orv {

class Processes;
class Registry;
class TORVDashboardSettings;

// One row of the table of Delphi IDE versions the dashboard knows.
struct TORVDashboardIDERow {
  const char* ID;
  const char* KitwrightName;
  const char* Name;
  const char* RegistryKey;  // tested for presence below HKEY_CURRENT_USER
};

// What the machine holds: product archives in the download folder, products
// installed by classic setups (their keys below \Software\orvsoftware), the
// Delphi IDEs and whether one runs. Owns the lists of archives and installs
// that the scans rebuild; the action commands keep pointers into them until
// the next scan. UI thread only.
class TORVDashboardProductCatalogue {
public:
  static const QString ProductsKey;      // \Software\orvsoftware
  static const QString UninstallerName;  // unins000.exe
  static const std::array<TORVDashboardIDERow, 19> IDETable;

  // ADashboard is the back reference given to the records it creates.
  TORVDashboardProductCatalogue(Registry& ARegistry, const TORVDashboardSettings& ASettings,
                                const Processes& AProcesses, TORVDashboardBrowser* ADashboard = nullptr);

  // Rebuilds the archive list from the download folder and its subfolders.
  // Only names "<product>_<version>_<REG|TRIAL>.zip" count, and each is
  // listed at the place the download put it: <download folder>/<product>/.
  void ScanDownloads() { FDownloadList = ScannedDownloads(); }
  // Rebuilds the install list from the product keys whose folder still
  // holds the uninstaller.
  void ScanInstalls() { FInstallList = ScannedInstalls(); }
  // The lists those scans make, for a caller that puts them in place later
  // (SetDownloadList, SetInstallList) or not at all.
  TORVDashboardDownloadList ScannedDownloads() const;
  TORVDashboardInstallList ScannedInstalls() const;
  void SetDownloadList(TORVDashboardDownloadList AList) { FDownloadList = std::move(AList); }
  void SetInstallList(TORVDashboardInstallList AList) { FInstallList = std::move(AList); }

  // First archive with this name and version (letter case ignored) and
  // exactly this edition; null when there is none.
  TORVDashboardDownload* FindDownload(const QString& AProductName, const QString& AProductVersion,
                                      bool ARegistered) const;
  // First install with this name (letter case ignored); null when none.
  TORVDashboardInstall* FindInstall(const QString& AName) const;

  // Appends one record per row of IDETable, in table order, each marked
  // installed when its registry key exists.
  void BuildIDEList(TORVZYNIDEList& AList) const;

  bool IsProcessRunning(const QString& AExeName) const;

  // Key names of older setups and the product names the page uses; a name
  // outside the table maps to itself. Exact, case-sensitive.
  static QString RegistryNameToProductName(const QString& AName);
  static QString ProductNameToRegistryName(const QString& AName);

  const TORVDashboardDownloadList& DownloadList() const { return FDownloadList; }
  const TORVDashboardInstallList& InstallList() const { return FInstallList; }

private:
  void scanFolder(const QString& AFolder, const QString& ADownloadDir, TORVDashboardDownloadList& AList) const;
  void addDownload(const QString& AFileName, const QString& ADownloadDir, TORVDashboardDownloadList& AList) const;
  void addInstall(const QString& AKeyName, TORVDashboardInstallList& AList) const;

  Registry& FRegistry;
  const TORVDashboardSettings& FSettings;
  const Processes& FProcesses;
  TORVDashboardBrowser* FDashboard;
  TORVDashboardDownloadList FDownloadList;
  TORVDashboardInstallList FInstallList;
};

}  // namespace orv
