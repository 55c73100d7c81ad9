// The account's products: the vendor API client fetches them once per run
// with the stored e-mail and code, and the registered-products query
// answers with them.
#include "core/dashboard_browser.h"
#include "lib/utils.h"

#include <QScopeGuard>

namespace orv {

namespace {

void appendRegistered(TORVDashboardRegisteredList& AList, TORVDashboardBrowser* ADashboard,
                      const TORVKitwrightProductList& AProducts) {
  for (const auto& product : AProducts)
    AList.Add(std::make_unique<TORVDashboardRegistered>(ADashboard, product->ProductName(), product->ProductVersion(),
                                                        product->ProductID(), product->ProductORVID()));
}

}  // namespace

void TORVDashboardBrowser::ConnectKitwright() {
  FKitwright->OnGetToken = [this](TORVZYNCloudKitwright& Sender, const QString& AToken,
                                  TORVZYNDashCloudBaseRequestResult* ARequestResult) {
    HandleGetToken(Sender, AToken, ARequestResult);
  };
  FKitwright->OnGetProducts = [this](TORVZYNCloudKitwright& Sender, const TORVKitwrightProductList& AProducts,
                                     TORVZYNDashCloudBaseRequestResult* ARequestResult) {
    HandleGetProducts(Sender, AProducts, ARequestResult);
  };
}

void TORVDashboardBrowser::HandleGetToken(TORVZYNCloudKitwright& Sender, const QString& AToken,
                                          TORVZYNDashCloudBaseRequestResult*) {
  if (!AToken.isEmpty()) Sender.GetProducts();
}

// A refused answer (an expired token, say) gets one further attempt with a
// fresh token. When that fails too the list stays empty and the token is
// dropped, so that a later query asks the vendor again.
void TORVDashboardBrowser::HandleGetProducts(TORVZYNCloudKitwright& Sender, const TORVKitwrightProductList& AProducts,
                                             TORVZYNDashCloudBaseRequestResult* ARequestResult) {
  if (!ARequestResult || ARequestResult->FResponseCode != 200) {
    Sender.ClearToken();
    if (FRetryingProducts) return;
    FRetryingProducts = true;
    const auto retried = qScopeGuard([this] { FRetryingProducts = false; });
    Sender.GetToken(FSettings.ReadUserName(), FSettings.ReadPassword());
    return;
  }
  appendRegistered(FRegisteredList, this, AProducts);
}

void TORVDashboardBrowser::RefreshRegisteredList() {
  FRegisteredList.Clear();
  if (!FKitwright->Token().isEmpty()) {
    appendRegistered(FRegisteredList, this, FKitwright->Products());
  } else {
    // An API host that cannot be reached gives the empty list, not an
    // error in the page.
    try {
      FKitwright->GetToken(FSettings.ReadUserName(), FSettings.ReadPassword());
    } catch (const EORVZYNDashCloudBaseException& e) {
      TORVZYNDashUtils::Log(QStringLiteral("Cannot fetch the account's products: ") + e.message());
    }
  }
}

}  // namespace orv
