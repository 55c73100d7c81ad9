// Downloads: the page announces each one before it starts the transfer in
// the browser.
#include "core/bridge_message.h"
#include "core/dashboard_browser.h"

namespace orv {

void TORVDashboardBrowser::AnnounceDownload(const TORVDashboardBridgeMessage& AMessage) {
  FProductAction = AMessage.CustomData();
}

}  // namespace orv
