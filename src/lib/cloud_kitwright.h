#pragma once

#include "lib/cloud_base.h"
#include "lib/owning_list.h"

#include <QString>

#include <functional>

namespace orv {

// One product of the vendor API's product list.
class TORVKitwrightProduct {
public:
  TORVKitwrightProduct(const QString& AProductName, const QString& AProductVersion, const QString& AProductID,
                       const QString& AProductORVID)
      : FProductName(AProductName),
        FProductVersion(AProductVersion),
        FProductORVID(AProductORVID),
        FProductID(AProductID) {}

  const QString& ProductName() const { return FProductName; }
  const QString& ProductVersion() const { return FProductVersion; }
  const QString& ProductORVID() const { return FProductORVID; }
  const QString& ProductID() const { return FProductID; }

private:
  QString FProductName;
  QString FProductVersion;
  QString FProductORVID;
  QString FProductID;
};
using TORVKitwrightProductList = OwningList<TORVKitwrightProduct>;

// Client of the vendor's REST API: an access token for the account's
// e-mail and code (OAuth 2.0 client credentials), then the account's
// products with that token. Both requests are synchronous: the events have
// been raised when GetToken and GetProducts return.
class TORVZYNCloudKitwright : public TORVZYNDashCloudBase {
public:
  using TORVZYNCloudGetTokenEvent = std::function<void(TORVZYNCloudKitwright& Sender, const QString& AToken,
                                                       TORVZYNDashCloudBaseRequestResult* ARequestResult)>;
  using TORVZYNCloudGetProductsEvent =
      std::function<void(TORVZYNCloudKitwright& Sender, const TORVKitwrightProductList& AProducts,
                         TORVZYNDashCloudBaseRequestResult* ARequestResult)>;

  static const QString TokenPath;     // /orv/auth/oauth/token
  static const QString ProductsPath;  // /orv/api/setup/user/products

  // ABaseURL: scheme, host and optionally port of the API host.
  TORVZYNCloudKitwright(UiThread& AUiThread, const QString& ABaseURL);

  const QString& Token() const { return FToken; }
  const TORVKitwrightProductList& Products() const { return FProducts; }
  // Whether Products() came whole from the vendor with a token of exactly
  // these credentials.
  bool HoldsProductsFor(const QString& AEmail, const QString& ACode) const;

  // Asks for a token unless one is held for exactly these credentials, in
  // which case OnGetToken gets the held one at once (with no result).
  // Empty credentials do nothing. The answer replaces the held token: a
  // failed or cut-off answer, or a token a header could not carry (a
  // control character), leaves none.
  void GetToken(const QString& AEmail, const QString& ACode);
  // Fetches the products with the held token; OnGetProducts follows
  // always. Raises the engine's error when the API host cannot be opened.
  // Only a whole, readable answer is held as the account's products.
  void GetProducts();
  // Forgets the held token and products, so that the next GetToken asks
  // the vendor.
  void ClearToken();

  // The body of the token request: the form fields, percent-encoded.
  static QString TokenRequestBody(const QString& AEmail, const QString& ACode);

  TORVZYNCloudGetTokenEvent OnGetToken;
  TORVZYNCloudGetProductsEvent OnGetProducts;

private:
  // Credentials and tokens go over TLS, or in plain HTTP only to this
  // machine (a local stand-in of the API host).
  bool MaySendSecrets() const;
  void PrepareRequest(const QString& AName, const QString& APath, TORVZYNDashCloudBaseRequestMethod AMethod);
  void ParseToken(TORVZYNDashCloudBaseRequestResult& ARequestResult);
  void ParseProducts(TORVZYNDashCloudBaseRequestResult& ARequestResult);

  QString FBaseURL;
  QString FHost;  // scheme :// host of FBaseURL
  int FPort = 0;  // its port; 0 for the scheme's default
  QString FToken;
  QString FEmail;
  QString FCode;
  TORVKitwrightProductList FProducts;
  bool FProductsFetched = false;
};

}  // namespace orv
