// Answers to the page's queries: the page sends a query message, then reads
// the bridge's ObjectMessage, which computes the answer here.
#include "core/dashboard_browser.h"
#include "platform/exception.h"
#include "lib/text_escape.h"
#include "lib/utils.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QUrl>

namespace orv {

namespace {

const QString kKitwrightExe = QStringLiteral("orv.exe");
const QString kKitwrightLog = QStringLiteral("Logs/orv.log.html");

QString boolText(bool AValue) { return AValue ? QStringLiteral("True") : QStringLiteral("False"); }

// The text of a file whose byte-order mark, if any, names its encoding;
// without one it is read in the system's encoding (UTF-8 here).
QString decodeText(const QByteArray& ABytes) {
  auto encoding = QStringConverter::encodingForData(ABytes);
  QStringDecoder decoder(encoding.value_or(QStringConverter::System));
  QString text = decoder(ABytes);
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  return text;
}

}  // namespace

QString TORVDashboardBrowser::GetQueryAnswer() {
  const QString action = FAction;
  if (action == QLatin1String("GETSTATUS")) return StatusText();
  if (action == QLatin1String("GETIDERUNNING"))
    return boolText(FCatalogue.IsProcessRunning(QStringLiteral("bds.exe")));
  if (action == QLatin1String("GETKITWRIGHTEXISTS")) return boolText(FSettings.KitwrightExists());
  if (action == QLatin1String("GETKITWRIGHTLOG")) {
    const QString url = KitwrightLogURL();
    TORVZYNDashUtils::OpenURL(FPorts.shell, url);
    return url;
  }
  if (action == QLatin1String("GETKITWRIGHTLOGTEXT")) return KitwrightLogText();
  if (action == QLatin1String("GETKITWRIGHTDIR")) return FSettings.ReadKitwrightDir();
  if (action == QLatin1String("GETDASHBOARDVERSION")) return GetVersion();
  if (action == QLatin1String("GETPRODUCTNOTIFICATIONS")) return boolText(FSettings.ReadProductNotifications());
  if (action == QLatin1String("GETINSTALLEDPRODUCTS")) {
    FCatalogue.ScanInstalls();
    QStringList entries;
    for (const auto& install : FCatalogue.InstallList()) entries << install->GenerateJSON();
    FAction.clear();
    return ProductListAnswer(entries);
  }
  if (action == QLatin1String("GETDOWNLOADEDPRODUCTS")) {
    FCatalogue.ScanDownloads();
    QStringList entries;
    for (const auto& download : FCatalogue.DownloadList()) entries << download->GenerateJSON();
    FAction.clear();
    return ProductListAnswer(entries);
  }
  if (action == QLatin1String("GETUSERCREDENTIALS"))
    return QStringLiteral("{\"Username\": %1, \"Code\": %2}")
        .arg(JsonQuote(FSettings.ReadUserName()), JsonQuote(FSettings.ReadPassword()));
  if (action == QLatin1String("GETIDETHEME"))
    return QStringLiteral("{\"IDETheme\": %1}").arg(JsonQuote(GetIDETheme()));
  if (action == QLatin1String("GETIDEVERSION"))
    return QStringLiteral("{\"IDE\": %1}").arg(JsonQuote(GetIDEVersion()));
  return QStringLiteral("{\"action not found\"}");
}

QString TORVDashboardBrowser::StatusText() const {
  const bool installing = HasStatus(sInstalling);
  const bool downloading = HasStatus(sDownloading);
  if (installing && downloading) return QStringLiteral("DownloadInstall");
  if (installing) return QStringLiteral("Install");
  if (downloading) return QStringLiteral("Download");
  return {};
}

QString TORVDashboardBrowser::ProductListAnswer(const QStringList& AEntries) {
  return QStringLiteral("{\"Products\": [") + AEntries.join(QLatin1Char(',')) + QStringLiteral("]}");
}

// A file URL of the package manager's log, absolute even when the package
// manager's folder is not set (then it is the current folder).
QString TORVDashboardBrowser::KitwrightLogURL() const {
  QString folder = FSettings.KitwrightExePath();
  folder.remove(kKitwrightExe);
  return QUrl::fromLocalFile(QDir::current().absoluteFilePath(folder + kKitwrightLog)).toString(QUrl::FullyEncoded);
}

QString TORVDashboardBrowser::KitwrightLogText() const {
  QString folder = FSettings.KitwrightExePath();
  folder.remove(kKitwrightExe);
  QFile log(folder + kKitwrightLog);
  if (!log.open(QIODevice::ReadOnly))
    throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(log.fileName(), log.errorString()));
  return decodeText(log.readAll());
}

}  // namespace orv
