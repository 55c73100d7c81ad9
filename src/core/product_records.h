#pragma once

#include "lib/owning_list.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace orv {

class TORVDashboardBrowser;

// One download the browser engine is carrying out. The engine's event
// registrations live with the download tracking; the record only holds the
// hook that removes them, run first thing in the destructor so that no
// engine event can reach a destroyed record.
class TORVDashboardActiveDownload {
public:
  // The expected size arrives signed from the engine and is stored as is.
  TORVDashboardActiveDownload(TORVDashboardBrowser* ADashboard, const QString& AFilePath, std::int64_t ATotalBytes);
  ~TORVDashboardActiveDownload();
  TORVDashboardActiveDownload(const TORVDashboardActiveDownload&) = delete;
  TORVDashboardActiveDownload& operator=(const TORVDashboardActiveDownload&) = delete;

  const QString& FilePath() const { return FFilePath; }
  QString FileName() const;
  const QString& Action() const { return FAction; }
  void SetAction(const QString& AAction) { FAction = AAction; }
  TORVDashboardBrowser* Dashboard() const { return FDashboard; }
  std::uint64_t TotalBytes() const { return FTotalBytes; }
  void SetTotalBytes(std::uint64_t AValue) { FTotalBytes = AValue; }
  std::uint64_t BytesReceived() const { return FBytesReceived; }
  void SetBytesReceived(std::uint64_t AValue) { FBytesReceived = AValue; }

  // Called once by the destructor to remove the engine handlers.
  void SetUnregisterHandlers(std::function<void()> AUnregister) { FUnregister = std::move(AUnregister); }
  // Stops the engine's transfer, for a dashboard that closes while it runs.
  void SetCancel(std::function<void()> ACancel) { FCancel = std::move(ACancel); }
  void Cancel() const {
    if (FCancel) FCancel();
  }

  QString GenerateJSON() const;

private:
  QString FFilePath;
  QString FAction;
  TORVDashboardBrowser* FDashboard;
  std::uint64_t FTotalBytes;
  std::uint64_t FBytesReceived = 0;
  std::function<void()> FUnregister;
  std::function<void()> FCancel;
};
using TORVDashboardActiveDownloadList = OwningList<TORVDashboardActiveDownload>;

// A product archive found in the download folder.
class TORVDashboardDownload {
public:
  TORVDashboardDownload(TORVDashboardBrowser* ADashboard, const QString& AFilePath, const QString& AProductName,
                        const QString& AProductVersion, bool ARegistered);

  const QString& ProductName() const { return FProductName; }
  const QString& ProductVersion() const { return FProductVersion; }
  bool Registered() const { return FRegistered; }
  const QString& FilePath() const { return FFilePath; }
  TORVDashboardBrowser* Dashboard() const { return FDashboard; }
  bool FilePresent() const;
  // The folder part of the path, ending in the path delimiter.
  QString FileDirectory() const;
  QString FileName() const;
  // The file name without its last extension (and its dot).
  QString FileNameNoExt() const;

  QString GenerateJSON() const;

private:
  QString FFilePath;
  TORVDashboardBrowser* FDashboard;
  QString FProductName;
  QString FProductVersion;
  bool FRegistered;
};
using TORVDashboardDownloadList = OwningList<TORVDashboardDownload>;

// A product installed by a classic setup, as the registry scan found it.
class TORVDashboardInstall {
public:
  const QString& Name() const { return FName; }
  void SetName(const QString& AValue) { FName = AValue; }
  const QString& Version() const { return FVersion; }
  void SetVersion(const QString& AValue) { FVersion = AValue; }
  // The installation folder, ending in the path delimiter.
  const QString& Path() const { return FPath; }
  void SetPath(const QString& AValue) { FPath = AValue; }
  bool Registered() const { return FRegistered; }
  void SetRegistered(bool AValue) { FRegistered = AValue; }
  // Full path of the product's uninstaller.
  const QString& UninstallLink() const { return FUninstallLink; }
  void SetUninstallLink(const QString& AValue) { FUninstallLink = AValue; }
  bool PathExists() const;

  QString GenerateJSON() const;

private:
  QString FName;
  QString FVersion;
  QString FPath;
  QString FUninstallLink;
  bool FRegistered = false;
};
using TORVDashboardInstallList = OwningList<TORVDashboardInstall>;

// A product the user's account holds at the vendor.
class TORVDashboardRegistered {
public:
  TORVDashboardRegistered(TORVDashboardBrowser* ADashboard, const QString& AProductName, const QString& AProductVersion,
                          const QString& AProductID, const QString& AProductORVID);

  TORVDashboardBrowser* Dashboard() const { return FDashboard; }
  const QString& ProductName() const { return FProductName; }
  const QString& ProductVersion() const { return FProductVersion; }
  // The vendor API never sends one; kept empty and out of the JSON form.
  const QString& ProductReleaseDate() const { return FProductReleaseDate; }
  const QString& ProductORVID() const { return FProductORVID; }
  const QString& ProductID() const { return FProductID; }

  QString GenerateJSON() const;

private:
  TORVDashboardBrowser* FDashboard;
  QString FProductName;
  QString FProductVersion;
  QString FProductReleaseDate;
  QString FProductORVID;
  QString FProductID;
};
using TORVDashboardRegisteredList = OwningList<TORVDashboardRegistered>;

// The state of one package-manager product, for the page.
class TORVKitwrightProductStatus {
public:
  TORVKitwrightProductStatus(const QString& AProductName, const QString& AProductVersion, const QString& AProductID,
                             const QString& AProductStatus);

  const QString& ProductName() const { return FProductName; }
  const QString& ProductVersion() const { return FProductVersion; }
  const QString& ProductID() const { return FProductID; }
  // "not installed", "available" or "installed".
  const QString& ProductStatus() const { return FProductStatus; }

  QString GenerateJSON() const;

private:
  QString FProductName;
  QString FProductVersion;
  QString FProductStatus;
  QString FProductID;
};
using TORVKitwrightProductStatusList = OwningList<TORVKitwrightProductStatus>;

// A queued package-manager install or uninstall request.
class TORVKitwrightInstall {
public:
  const QString& Name() const { return FName; }
  void SetName(const QString& AValue) { FName = AValue; }
  const QString& ID() const { return FID; }
  void SetID(const QString& AValue) { FID = AValue; }

private:
  QString FName;
  QString FID;
};
using TORVKitwrightInstallList = OwningList<TORVKitwrightInstall>;

}  // namespace orv
