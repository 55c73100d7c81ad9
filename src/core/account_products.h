#pragma once

#include "core/product_records.h"
#include "lib/cloud_kitwright.h"

#include <memory>

namespace orv {

class TORVDashboardBrowser;
class TORVDashboardSettings;
class UiThread;

// The account's products: the vendor API client fetches them once per run
// with the stored e-mail and code, and again after a failed answer or a
// change of the e-mail or the code. UI thread only.
class TORVDashboardAccountProducts {
public:
  // AApiURL is the vendor's REST API host; ADashboard the records' owner.
  TORVDashboardAccountProducts(const TORVDashboardSettings& ASettings, UiThread& AUi, const QString& AApiURL,
                               TORVDashboardBrowser* ADashboard);
  ~TORVDashboardAccountProducts();
  TORVDashboardAccountProducts(const TORVDashboardAccountProducts&) = delete;
  TORVDashboardAccountProducts& operator=(const TORVDashboardAccountProducts&) = delete;

  // The products fetched before for the stored credentials, or else from
  // the vendor.
  const TORVDashboardRegisteredList& RefreshRegisteredList();

private:
  void HandleGetToken(TORVZYNCloudKitwright& Sender, const QString& AToken,
                      TORVZYNDashCloudBaseRequestResult* ARequestResult);
  void HandleGetProducts(TORVZYNCloudKitwright& Sender, const TORVKitwrightProductList& AProducts,
                         TORVZYNDashCloudBaseRequestResult* ARequestResult);
  void Append(const TORVKitwrightProductList& AProducts);

  const TORVDashboardSettings& FSettings;
  TORVDashboardBrowser* FDashboard;
  std::unique_ptr<TORVZYNCloudKitwright> FKitwright;
  TORVDashboardRegisteredList FRegisteredList;
  // A failed products answer is being tried once more.
  bool FRetryingProducts = false;
  bool FRefreshing = false;
};

}  // namespace orv
