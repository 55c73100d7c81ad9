#include "core/account_products.h"

#include "lib/utils.h"
#include "settings/dashboard_settings.h"

#include <QScopeGuard>

namespace orv {

TORVDashboardAccountProducts::TORVDashboardAccountProducts(const TORVDashboardSettings& ASettings, UiThread& AUi,
                                                           const QString& AApiURL, TORVDashboardBrowser* ADashboard)
    : FSettings(ASettings), FDashboard(ADashboard), FKitwright(std::make_unique<TORVZYNCloudKitwright>(AUi, AApiURL)) {
  FKitwright->OnGetToken = [this](TORVZYNCloudKitwright& Sender, const QString& AToken,
                                  TORVZYNDashCloudBaseRequestResult* ARequestResult) {
    HandleGetToken(Sender, AToken, ARequestResult);
  };
  FKitwright->OnGetProducts = [this](TORVZYNCloudKitwright& Sender, const TORVKitwrightProductList& AProducts,
                                     TORVZYNDashCloudBaseRequestResult* ARequestResult) {
    HandleGetProducts(Sender, AProducts, ARequestResult);
  };
}

// The list goes before the client, whose requests may still reach it.
TORVDashboardAccountProducts::~TORVDashboardAccountProducts() {
  FRegisteredList.Clear();
  FKitwright.reset();
}

void TORVDashboardAccountProducts::Append(const TORVKitwrightProductList& AProducts) {
  for (const auto& product : AProducts)
    FRegisteredList.Add(std::make_unique<TORVDashboardRegistered>(
        FDashboard, product->ProductName(), product->ProductVersion(), product->ProductID(), product->ProductORVID()));
}

void TORVDashboardAccountProducts::HandleGetToken(TORVZYNCloudKitwright& Sender, const QString& AToken,
                                                  TORVZYNDashCloudBaseRequestResult*) {
  if (!AToken.isEmpty()) Sender.GetProducts();
}

// A refused, failed or cut-off answer (an expired token, a dropped
// connection) gets one further attempt with a fresh token. When that fails
// too the list stays empty and the token is dropped, so that a later query
// asks the vendor again.
void TORVDashboardAccountProducts::HandleGetProducts(TORVZYNCloudKitwright& Sender,
                                                     const TORVKitwrightProductList& AProducts,
                                                     TORVZYNDashCloudBaseRequestResult* ARequestResult) {
  if (!ARequestResult || ARequestResult->FResponseCode != 200 ||
      !Sender.HoldsProductsFor(FSettings.ReadUserName(), FSettings.ReadPassword())) {
    Sender.ClearToken();
    if (FRetryingProducts) return;
    FRetryingProducts = true;
    const auto retried = qScopeGuard([this] { FRetryingProducts = false; });
    Sender.GetToken(FSettings.ReadUserName(), FSettings.ReadPassword());
    return;
  }
  Append(AProducts);
}

// Products of other credentials (the e-mail or the code changed in the
// settings since) are dropped with their token and asked for anew.
const TORVDashboardRegisteredList& TORVDashboardAccountProducts::RefreshRegisteredList() {
  // Work that runs while the vendor is asked may query again: it gets the
  // list as it stands.
  if (FRefreshing) return FRegisteredList;
  FRefreshing = true;
  const auto refreshed = qScopeGuard([this] { FRefreshing = false; });
  FRegisteredList.Clear();
  const QString email = FSettings.ReadUserName();
  const QString code = FSettings.ReadPassword();
  if (FKitwright->HoldsProductsFor(email, code)) {
    Append(FKitwright->Products());
    return FRegisteredList;
  }
  FKitwright->ClearToken();
  // An API host that cannot be reached gives the empty list, not an error
  // in the page.
  try {
    FKitwright->GetToken(email, code);
  } catch (const EORVZYNDashCloudBaseException& e) {
    TORVZYNDashUtils::Log(QStringLiteral("Cannot fetch the account's products: ") + e.message());
  }
  return FRegisteredList;
}

}  // namespace orv
