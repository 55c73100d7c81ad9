// Answers to the page's queries: the page sends a query message, which
// only remembers its name, then reads the bridge's ObjectMessage, which
// computes the answer here.
#include "core/account_products.h"
#include "core/dashboard_browser.h"
#include "core/kitwright_coordinator.h"
#include "core/product_catalogue.h"
#include "lib/text_escape.h"
#include "lib/utils.h"
#include "platform/exception.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QUrl>

#include <memory>
#include <utility>

namespace orv {

namespace {

const QString kKitwrightLog = QStringLiteral("Logs/orv.log.html");
const QString kActionNotFound = QStringLiteral("{\"action not found\"}");

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

QString statusText(const TORVDashboardStatuses& AStatus) {
  const bool installing = AStatus.Has(sInstalling);
  const bool downloading = AStatus.Has(sDownloading);
  if (installing && downloading) return QStringLiteral("DownloadInstall");
  if (installing) return QStringLiteral("Install");
  if (downloading) return QStringLiteral("Download");
  return {};
}

// {"Products": [...]} around the JSON of each record of the list.
template <class TList>
QString productListAnswer(const TList& AList) {
  QStringList entries;
  for (const auto& entry : AList) entries << entry->GenerateJSON();
  return QStringLiteral("{\"Products\": [") + entries.join(QLatin1Char(',')) + QStringLiteral("]}");
}

// The package manager's log below its folder. Built from the folder, not by
// cutting "orv.exe" out of the program's path, which would also cut it out
// of folder names.
QString kitwrightLogFile(const TORVDashboardSettings& ASettings) {
  return ASettings.ReadKitwrightDir() + kKitwrightLog;
}

// A file URL of the package manager's log, absolute even when the package
// manager's folder is not set (then it is the current folder).
QString kitwrightLogURL(const TORVDashboardSettings& ASettings) {
  return QUrl::fromLocalFile(QDir::current().absoluteFilePath(kitwrightLogFile(ASettings)))
      .toString(QUrl::FullyEncoded);
}

QString kitwrightLogText(const TORVDashboardSettings& ASettings) {
  QFile log(kitwrightLogFile(ASettings));
  if (!log.open(QIODevice::ReadOnly))
    throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(log.fileName(), log.errorString()));
  return decodeText(log.readAll());
}

}  // namespace

QString TORVDashboardBrowser::AnswerAsIs(TORVDashboardBrowser& AController, const TQueryRoute& ARoute) {
  return ARoute.Answer(AController);
}

// Every query of the page, in the order GetQueryAnswer checks them. A
// message naming one of them only remembers the name; the answer is
// computed when the page reads ObjectMessage. The list queries forget the
// name once answered, so a second read finds no query.
const TORVDashboardBrowser::TQueryRoute TORVDashboardBrowser::QueryRoutes[] = {
    {u"GETSTATUS", [](TORVDashboardBrowser& C) { return statusText(C.FStatus); }, false, AnswerAsIs},
    {u"GETIDERUNNING",
     [](TORVDashboardBrowser& C) { return boolText(C.FCatalogue->IsProcessRunning(QStringLiteral("bds.exe"))); }, false,
     AnswerAsIs},
    {u"GETKITWRIGHTEXISTS", [](TORVDashboardBrowser& C) { return boolText(C.FSettings.KitwrightExists()); }, false,
     AnswerAsIs},
    {u"GETKITWRIGHTLOG",
     [](TORVDashboardBrowser& C) {
       const QString url = kitwrightLogURL(C.FSettings);
       TORVZYNDashUtils::OpenURL(C.FPorts.shell, url);
       return url;
     },
     false, nullptr},
    {u"GETKITWRIGHTLOGTEXT", [](TORVDashboardBrowser& C) { return kitwrightLogText(C.FSettings); }, false, AnswerAsIs},
    {u"GETKITWRIGHTDIR", [](TORVDashboardBrowser& C) { return C.FSettings.ReadKitwrightDir(); }, false, AnswerAsIs},
    {u"GETKITWRIGHTREADDELPHIVERSIONS",
     [](TORVDashboardBrowser& C) {
       QStringList discarded;
       C.ReadDelphiVersions(discarded);
       return QString();
     },
     false, nullptr},
    {u"GETKITWRIGHTWRITEDELPHIVERSIONS",
     [](TORVDashboardBrowser& C) {
       C.WriteDelphiVersions({});
       return QString();
     },
     false, nullptr},
    {u"GETDASHBOARDVERSION", [](TORVDashboardBrowser&) { return GetVersion(); }, false, AnswerAsIs},
    {u"GETPRODUCTNOTIFICATIONS",
     [](TORVDashboardBrowser& C) { return boolText(C.FSettings.ReadProductNotifications()); }, false, AnswerAsIs},
    {u"GETINSTALLEDPRODUCTS",
     [](TORVDashboardBrowser& C) {
       C.FCatalogue->ScanInstalls();
       return productListAnswer(C.FCatalogue->InstallList());
     },
     true,
     [](TORVDashboardBrowser& C, const TQueryRoute&) {
       auto installs = std::make_shared<TORVDashboardInstallList>(C.FCatalogue->ScannedInstalls());
       C.FAheadEffect = [installs](TORVDashboardBrowser& AController) {
         AController.FCatalogue->SetInstallList(std::move(*installs));
       };
       return productListAnswer(*installs);
     }},
    {u"GETDOWNLOADEDPRODUCTS",
     [](TORVDashboardBrowser& C) {
       C.FCatalogue->ScanDownloads();
       return productListAnswer(C.FCatalogue->DownloadList());
     },
     true,
     [](TORVDashboardBrowser& C, const TQueryRoute&) {
       auto downloads = std::make_shared<TORVDashboardDownloadList>(C.FCatalogue->ScannedDownloads());
       C.FAheadEffect = [downloads](TORVDashboardBrowser& AController) {
         AController.FCatalogue->SetDownloadList(std::move(*downloads));
       };
       return productListAnswer(*downloads);
     }},
    {u"GETREGISTEREDPRODUCTS",
     [](TORVDashboardBrowser& C) { return productListAnswer(C.FAccountProducts->RefreshRegisteredList()); }, true,
     nullptr},
    // The rows of the last completed refresh; the one started here shows
    // in a later query.
    {u"GETKITWRIGHTPRODUCTSTATUS",
     [](TORVDashboardBrowser& C) {
       C.StartKitwright();
       return productListAnswer(C.FKitwrightCoordinator->ProductStatusList());
     },
     true, nullptr},
    {u"GETUSERCREDENTIALS",
     [](TORVDashboardBrowser& C) {
       return QStringLiteral("{\"Username\": %1, \"Code\": %2}")
           .arg(JsonQuote(C.FSettings.ReadUserName()), JsonQuote(C.FSettings.ReadPassword()));
     },
     false, AnswerAsIs},
    {u"GETIDETHEME",
     [](TORVDashboardBrowser& C) { return QStringLiteral("{\"IDETheme\": %1}").arg(JsonQuote(C.GetIDETheme())); },
     false, AnswerAsIs},
    {u"GETIDEVERSION",
     [](TORVDashboardBrowser& C) { return QStringLiteral("{\"IDE\": %1}").arg(JsonQuote(C.GetIDEVersion())); }, false,
     AnswerAsIs},
    {u"GETOPTIONSDIALOG",
     [](TORVDashboardBrowser& C) {
       C.ShowOptionsDialog();
       return QStringLiteral("{}");
     },
     false, nullptr},
};

const TORVDashboardBrowser::TQueryRoute* TORVDashboardBrowser::FindQuery(QStringView AName) {
  for (const TQueryRoute& route : QueryRoutes)
    if (AName == QStringView(route.Name)) return &route;
  return nullptr;
}

QString TORVDashboardBrowser::GetQueryAnswer() {
  const TQueryRoute* query = FindQuery(FAction);
  if (!query) return kActionNotFound;
  QString answer = query->Answer(*this);
  if (query->ClearsAction) FAction.clear();
  return answer;
}

std::optional<QString> TORVDashboardBrowser::AnswerQueryAhead() {
  FAheadQuery = nullptr;
  FAheadEffect = nullptr;
  if (!std::exchange(FQuerySent, false)) return std::nullopt;
  const TQueryRoute* query = FindQuery(FAction);
  if (!query || !query->AnswerAhead) return std::nullopt;
  QString answer = query->AnswerAhead(*this, *query);
  FAheadQuery = query;
  return answer;
}

// What GetQueryAnswer does beyond the answer, once.
void TORVDashboardBrowser::QueryAnswerTaken() {
  const TQueryRoute* query = std::exchange(FAheadQuery, nullptr);
  if (!query) return;
  if (const auto effect = std::exchange(FAheadEffect, nullptr)) effect(*this);
  if (query->ClearsAction) FAction.clear();
}

}  // namespace orv
