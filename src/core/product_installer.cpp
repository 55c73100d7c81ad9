#include "core/product_installer.h"

#include "core/dashboard_page.h"
#include "core/setup_command_line.h"
#include "lib/text_trim.h"
#include "lib/utils.h"
#include "platform/elevated.h"
#include "platform/notifications.h"
#include "settings/dashboard_settings.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <array>

namespace orv {

namespace {

const QString kSetupName = QStringLiteral("setup.exe");
const QString kErrorFileName = QStringLiteral("error2.txt");

// Phrases product setups write into their log when they fail, in order of
// precedence: the specific causes before the bare word.
const std::array<QString, 3> kInstallErrors{
    QStringLiteral("No active internet connection available"),
    QStringLiteral("Incompatible or no ORV ZYN Core installation found"),
    QStringLiteral("Error"),
};

}  // namespace

const QString TORVDashboardProductInstaller::NotificationName = QStringLiteral("ORVDashboard");
const QString TORVDashboardProductInstaller::NotificationTitle = QStringLiteral("ORV Dashboard Notification");

TORVDashboardProductInstaller::TORVDashboardProductInstaller(const TORVDashboardSettings& ASettings,
                                                             Elevated& AElevated, Notifications& ANotifications,
                                                             TORVDashboardPage& APage, const ZipLimits& ALimits)
    : FSettings(ASettings), FElevated(AElevated), FNotifications(ANotifications), FPage(APage), FLimits(ALimits) {}

void TORVDashboardProductInstaller::InstallProduct(const TORVDashboardDownload* ADownload) {
  if (!ADownload || !ADownload->FilePresent()) {
    ReportInstallFailure(ADownload);
    return;
  }
  const QString extractionFolder = ADownload->FileDirectory() + ADownload->FileNameNoExt();
  if (!runSetup(*ADownload, extractionFolder)) ReportInstallFailure(ADownload);
  RemoveExtractionFolder(extractionFolder);
}

bool TORVDashboardProductInstaller::runSetup(const TORVDashboardDownload& ADownload, const QString& AExtractionFolder) {
  // Files left by an interrupted earlier attempt must not mix with this
  // archive's: a stale setup.exe would run in place of a missing one.
  RemoveExtractionFolder(AExtractionFolder);
  if (!IsValidZipArchive(ADownload.FilePath())) return false;
  FPage.Log(QStringLiteral("Extracting Product: ") + ADownload.FileName());
  const ZipExtractResult extracted = ExtractZipArchive(ADownload.FilePath(), AExtractionFolder, FLimits);
  if (!extracted.ok()) {
    TORVZYNDashUtils::Log(
        QStringLiteral("Extracting %1 failed at %2: %3").arg(ADownload.FilePath(), extracted.entry, extracted.message));
    return false;
  }
  FPage.Log(QStringLiteral("Product ") + ADownload.FileName() + QStringLiteral(" finished extracting!"));

  const QString setupFolder = TORVZYNDashUtils::AddBackslash(AExtractionFolder);
  if (!QFileInfo(setupFolder + kSetupName).isFile()) return false;

  const QString productName = ADownload.ProductName().isEmpty() ? ADownload.FileNameNoExt() : ADownload.ProductName();
  const QString installFolder =
      TORVZYNDashUtils::AddBackslash(ADownload.Registered() ? FSettings.ReadInstallDirReg()
                                                            : FSettings.ReadInstallDirTrial()) +
      productName;
  // A folder that could break out of its quotes on the setup's command
  // line is refused, never altered.
  const std::optional<QString> parameters = SetupParameters(installFolder, FSettings.ReadSilent());
  if (!parameters) return false;

  // A log of an earlier run must not speak for this one.
  const QString logFile = TORVZYNDashUtils::AddBackslash(FSettings.GetLogFolder()) + ADownload.ProductName() +
                          QLatin1Char('_') + ADownload.ProductVersion() + QStringLiteral(".log");
  if (QFileInfo::exists(logFile)) QFile::remove(logFile);

  FPage.Log(QStringLiteral("Installing ") + productName);
  // The outcome rests on the setup's log alone: setups report problems
  // there, and their exit codes are not consistent.
  RunElevated(setupFolder, kSetupName, *parameters);

  const QString error = QFileInfo::exists(logFile) ? ParseInstallLog(logFile) : QString();
  if (error.isEmpty())
    FPage.Log(productName + QStringLiteral(" finished installing!"));
  else
    FPage.Log(productName + QStringLiteral(" finished installing with errors!<BR>") + error);

  FPage.ProductInstallFinished(ADownload.GenerateJSON());
  ShowNotification(productName + QStringLiteral(" finished installing!"));
  return true;
}

void TORVDashboardProductInstaller::UninstallProduct(const TORVDashboardInstall* AInstall) {
  if (!AInstall || !QFileInfo(AInstall->UninstallLink()).isFile() || !AInstall->PathExists()) return;
  FPage.Log(QStringLiteral("Uninstalling ") + AInstall->Name());

  const QFileInfo uninstaller(AInstall->UninstallLink());
  RunElevated(TORVZYNDashUtils::AddBackslash(uninstaller.path()), uninstaller.fileName(),
              UninstallParameters(FSettings.ReadSilent()));

  const QString done = QStringLiteral("Uninstall ") + AInstall->Name() + QStringLiteral(" successful");
  FPage.Log(done);
  FPage.ProductUninstallFinished(AInstall->GenerateJSON());
  ShowNotification(done);
}

void TORVDashboardProductInstaller::ReportInstallFailure(const TORVDashboardDownload* ADownload) {
  if (!ADownload) return;
  // The download step may leave its own account of what went wrong.
  QFile errorFile(ADownload->FileDirectory() + kErrorFileName);
  if (errorFile.open(QIODevice::ReadOnly | QIODevice::Text)) {
    FPage.Log(TrimSpaceAndControl(QString::fromUtf8(errorFile.readAll())));
    return;
  }
  FPage.Log(QStringLiteral("There was an error downloading or installing %1").arg(ADownload->ProductName()));
}

QString TORVDashboardProductInstaller::ParseInstallLog(const QString& ALogFile) {
  QFile file(ALogFile);
  if (!file.exists()) return QString();
  FPage.Log(QStringLiteral("Parsing log file"));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return QString();
  QTextStream lines(&file);
  QString line;
  while (lines.readLineInto(&line)) {
    const QString error = MatchInstallError(line);
    if (!error.isEmpty()) return error;
  }
  return QString();
}

QString TORVDashboardProductInstaller::MatchInstallError(const QString& ALine) {
  for (const QString& phrase : kInstallErrors)
    if (ALine.contains(phrase, Qt::CaseSensitive)) return phrase;
  return QString();
}

int TORVDashboardProductInstaller::RunElevated(const QString& AFolder, const QString& AFile,
                                               const QString& AParameters) {
  return FElevated.Run(AFolder, AFile, AParameters);
}

void TORVDashboardProductInstaller::ShowNotification(const QString& ABody) {
  if (FSettings.ReadInstallNotifications()) FNotifications.Show(NotificationName, NotificationTitle, ABody);
}

}  // namespace orv
