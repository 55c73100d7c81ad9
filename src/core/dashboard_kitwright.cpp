// The package manager's side of the dashboard: batches of products the page
// hands over for installing or removing.
#include "core/bridge_message.h"
#include "core/dashboard_browser.h"
#include "lib/utils.h"
#include "platform/dialogs.h"

namespace orv {

void TORVDashboardBrowser::HandleMultiAction(const TORVDashboardBridgeMessage&) {
  const int answer = TORVZYNDashUtils::Message(
      FPorts.dialogs,
      QStringLiteral("The selected products will be installed/uninstalled for all selected IDEs on your "
                     "system, do you want to proceed?"),
      mtWarning, {mbYes, mbNo}, 0);
  if (answer == mrNo) FPage.ProductInstallAbort();
}

}  // namespace orv
