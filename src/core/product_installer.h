#pragma once

#include "core/product_records.h"
#include "core/zip_extractor.h"

#include <QString>

namespace orv {

class Elevated;
class Notifications;
class TORVDashboardPage;
class TORVDashboardSettings;

// Classic installs: extracts a downloaded product archive beside itself,
// runs its setup.exe with raised rights (silently into the edition's install
// folder unless the user turned that off), judges the outcome from the
// setup's own log, tells the page and the user, and removes the extracted
// files again. Uninstalls run the product's unins000.exe. UI thread only;
// both block it while the setup runs, with the UI kept alive by the
// Elevated port.
class TORVDashboardProductInstaller {
public:
  static const QString NotificationName;   // ORVDashboard
  static const QString NotificationTitle;  // ORV Dashboard Notification

  TORVDashboardProductInstaller(const TORVDashboardSettings& ASettings, Elevated& AElevated,
                                Notifications& ANotifications, TORVDashboardPage& APage, const ZipLimits& ALimits = {});

  // Ends with ProductInstallFinished(...) in the page once the setup ran,
  // whatever its log says; a missing, broken or unsafe archive, or one
  // without setup.exe, is reported through ReportInstallFailure instead.
  void InstallProduct(const TORVDashboardDownload* ADownload);
  // Does nothing without the record, its uninstaller or its folder;
  // otherwise runs the uninstaller and reports success whatever it did.
  void UninstallProduct(const TORVDashboardInstall* AInstall);
  // Logs the text of error2.txt beside the archive, or a generic sentence.
  void ReportInstallFailure(const TORVDashboardDownload* ADownload);
  // The first known error phrase in the setup log; empty when the log is
  // missing or names none.
  QString ParseInstallLog(const QString& ALogFile);
  // The known error phrase the line contains, in order of precedence;
  // empty for none.
  static QString MatchInstallError(const QString& ALine);
  // Runs AFile in AFolder with the switches AParameters and waits for it;
  // the exit code, or 31 when it could not be started.
  int RunElevated(const QString& AFolder, const QString& AFile, const QString& AParameters);

private:
  // The setup part of an install; false when the archive cannot be
  // installed (it is then reported as failed).
  bool runSetup(const TORVDashboardDownload& ADownload, const QString& AExtractionFolder);
  void ShowNotification(const QString& ABody);

  const TORVDashboardSettings& FSettings;
  Elevated& FElevated;
  Notifications& FNotifications;
  TORVDashboardPage& FPage;
  ZipLimits FLimits;
};

}  // namespace orv
