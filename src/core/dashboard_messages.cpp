// The page's messages and the controller's calls into the page.
#include "core/bridge_message.h"
#include "core/dashboard_browser.h"
#include "lib/persistence.h"
#include "lib/text_escape.h"
#include "lib/utils.h"
#include "platform/ui_thread.h"

#include <QLocale>

namespace orv {

namespace {

const QString kEventPrefix = QStringLiteral("jsevent://");
const QString kCustomDataPrefix = QStringLiteral("customdata://");

}  // namespace

// Checked in this order; the first equal name decides.
const TORVDashboardBrowser::TMessageRoute TORVDashboardBrowser::MessageRoutes[] = {
    {u"GETINSTALLEDPRODUCTS", &TORVDashboardBrowser::RememberQuery},
    {u"GETSTATUS", &TORVDashboardBrowser::RememberQuery},
    {u"GETIDERUNNING", &TORVDashboardBrowser::RememberQuery},
    {u"GETKITWRIGHTEXISTS", &TORVDashboardBrowser::RememberQuery},
    {u"GETKITWRIGHTDIR", &TORVDashboardBrowser::RememberQuery},
    {u"GETKITWRIGHTLOG", &TORVDashboardBrowser::RememberQuery},
    {u"GETKITWRIGHTLOGTEXT", &TORVDashboardBrowser::RememberQuery},
    {u"GETPRODUCTNOTIFICATIONS", &TORVDashboardBrowser::RememberQuery},
    {u"GETKITWRIGHTREADDELPHIVERSIONS", &TORVDashboardBrowser::RememberQuery},
    {u"GETKITWRIGHTWRITEDELPHIVERSIONS", &TORVDashboardBrowser::RememberQuery},
    {u"GETDOWNLOADEDPRODUCTS", &TORVDashboardBrowser::RememberQuery},
    {u"GETREGISTEREDPRODUCTS", &TORVDashboardBrowser::RememberQuery},
    {u"GETOPTIONSDIALOG", &TORVDashboardBrowser::RememberQuery},
    {u"GETKITWRIGHTPRODUCTSTATUS", &TORVDashboardBrowser::RememberQuery},
    {u"GETUSERCREDENTIALS", &TORVDashboardBrowser::RememberQuery},
    {u"GETIDEVERSION", &TORVDashboardBrowser::RememberQuery},
    {u"GETIDETHEME", &TORVDashboardBrowser::RememberQuery},
    {u"GETDASHBOARDVERSION", &TORVDashboardBrowser::RememberQuery},
    {u"DOWNLOAD", &TORVDashboardBrowser::AnnounceDownload},
    {u"DOWNLOAD-UPDATE", &TORVDashboardBrowser::AnnounceDownload},
    {u"MULTIACTION", &TORVDashboardBrowser::HandleMultiAction},
    {u"INSTALL", &TORVDashboardBrowser::HandleInstallOrUpdate},
    {u"UPDATE", &TORVDashboardBrowser::HandleInstallOrUpdate},
    {u"UNINSTALL", &TORVDashboardBrowser::HandleUninstall},
};

void TORVDashboardBrowser::HandleMessage(const QString& AMessage) {
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
  for (const TMessageRoute& route : MessageRoutes) {
    if (eventName == QStringView(route.EventName)) {
      (this->*route.Handler)(message);
      return;
    }
  }
}

void TORVDashboardBrowser::RememberQuery(const TORVDashboardBridgeMessage& AMessage) {
  FAction = QLocale().toUpper(AMessage.EventName());
}

void TORVDashboardBrowser::AnnounceDownload(const TORVDashboardBridgeMessage& AMessage) {
  FProductAction = AMessage.CustomData();
}

void TORVDashboardBrowser::ExecuteScript(const QString& AScript) { PostScript(AScript, true); }

void TORVDashboardBrowser::Log(const QString& AMessage) {
  // The text goes in as a string literal and out through textContent, so
  // quotes, backslashes, line breaks and markup reach the page unchanged.
  PostScript(QStringLiteral("function log(p){  var mylog = document.getElementById(\"mylog\");  "
                            "document.getElementById(\"mylog\").textContent = p;  console.log(p);}log(%1);")
                 .arg(JsStringLiteral(AMessage)),
             false);
}

void TORVDashboardBrowser::PostScript(const QString& AScript, bool ACheckOwner) {
  FPorts.ui.post([self = FSelf, AScript, ACheckOwner] {
    TORVDashboardBrowser* controller = self->load();
    if (!controller || (ACheckOwner && controller->FOwnerDestroying)) return;
    controller->FWebBrowser->ExecuteJavaScript(AScript);
  });
}

}  // namespace orv
