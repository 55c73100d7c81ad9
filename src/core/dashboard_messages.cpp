// The page's messages: framing, decoding and the dispatch on the event name.
#include "core/bridge_message.h"
#include "core/dashboard_browser.h"
#include "core/download_tracker.h"
#include "lib/persistence.h"
#include "lib/utils.h"

#include <QLocale>

namespace orv {

namespace {

const QString kEventPrefix = QStringLiteral("jsevent://");
const QString kCustomDataPrefix = QStringLiteral("customdata://");

}  // namespace

// The actions, checked after the query names (QueryRoutes) in this order;
// the first equal name decides. Every name is distinct, so queries first
// and then these is the protocol's own order.
const TORVDashboardBrowser::TActionRoute TORVDashboardBrowser::ActionRoutes[] = {
    {u"DOWNLOAD", &TORVDashboardBrowser::AnnounceDownload},
    {u"DOWNLOAD-UPDATE", &TORVDashboardBrowser::AnnounceDownload},
    {u"MULTIACTION", &TORVDashboardBrowser::HandleMultiAction},
    {u"INSTALL", &TORVDashboardBrowser::HandleInstallOrUpdate},
    {u"UPDATE", &TORVDashboardBrowser::HandleInstallOrUpdate},
    {u"UNINSTALL", &TORVDashboardBrowser::HandleUninstall},
};

void TORVDashboardBrowser::AnnounceDownload(const TORVDashboardBridgeMessage& AMessage) {
  FDownloads->AnnounceDownload(AMessage.CustomData());
}

void TORVDashboardBrowser::HandleMessage(const QString& AMessage) {
  // A new message makes any answer given ahead stale.
  FQuerySent = false;
  FAheadQuery = nullptr;
  FAheadEffect = nullptr;
  if (!AMessage.startsWith(kEventPrefix)) return;

  const qsizetype customDataAt = AMessage.indexOf(kCustomDataPrefix);
  QString eventText;
  QString customData;
  if (customDataAt >= 0) {
    customData = AMessage.mid(customDataAt + kCustomDataPrefix.size());
    eventText = AMessage.mid(kEventPrefix.size(), customDataAt - kEventPrefix.size());
  } else {
    eventText = AMessage.mid(kEventPrefix.size());
  }
  if (!customData.isEmpty()) customData = TORVZYNDashUtils::URLDecode(customData, true);
  eventText = TORVZYNDashUtils::URLDecode(eventText, true);

  TORVDashboardBridgeMessage message;
  TORVZYNDashPersistence::FromJSON(message, eventText);
  message.SetCustomData(customData);
  Log(message.CustomData());

  const QString eventName = QLocale().toUpper(message.EventName());
  if (const TQueryRoute* query = FindQuery(eventName)) {
    FAction = QString::fromUtf16(query->Name);
    FQuerySent = true;
    return;
  }
  for (const TActionRoute& route : ActionRoutes) {
    if (eventName == QStringView(route.EventName)) {
      (this->*route.Handler)(message);
      return;
    }
  }
}

}  // namespace orv
