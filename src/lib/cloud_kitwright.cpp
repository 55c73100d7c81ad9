#include "lib/cloud_kitwright.h"

#include "lib/utils.h"

#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace orv {

const QString TORVZYNCloudKitwright::TokenPath = QStringLiteral("/orv/auth/oauth/token");
const QString TORVZYNCloudKitwright::ProductsPath = QStringLiteral("/orv/api/setup/user/products");

namespace {

// localhost, ::1 or an address of 127.0.0.0/8 written out in full.
bool isLoopbackHost(const QString& AHost) {
  if (AHost.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || AHost == QLatin1String("::1")) return true;
  static const QRegularExpression ipv4(QStringLiteral("^127\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
  const QRegularExpressionMatch match = ipv4.match(AHost);
  if (!match.hasMatch()) return false;
  for (int part = 1; part <= 3; ++part)
    if (match.captured(part).toInt() > 255) return false;
  return true;
}

// What is sent as a header value later: a control character in it would
// end the header line (CR, LF) or be refused when sent.
bool isUsableToken(const QString& AToken) {
  return std::none_of(AToken.begin(), AToken.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

}  // namespace

TORVZYNCloudKitwright::TORVZYNCloudKitwright(UiThread& AUiThread, const QString& ABaseURL)
    : TORVZYNDashCloudBase(AUiThread), FBaseURL(ABaseURL) {
  const QUrl url(ABaseURL);
  FHost = url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePort | QUrl::RemovePath | QUrl::RemoveQuery |
                       QUrl::RemoveFragment)
              .toString();
  FPort = url.port(0);
}

QString TORVZYNCloudKitwright::TokenRequestBody(const QString& AEmail, const QString& ACode) {
  return QStringLiteral("client_id=") + TORVZYNDashUtils::URLEncode(AEmail) + QStringLiteral("&client_secret=") +
         TORVZYNDashUtils::URLEncode(ACode) + QStringLiteral("&grant_type=client_credentials");
}

bool TORVZYNCloudKitwright::MaySendSecrets() const {
  const QUrl url(FBaseURL);
  if (url.scheme() == QLatin1String("https") && !url.host().isEmpty()) return true;
  if (url.scheme() == QLatin1String("http") && isLoopbackHost(url.host())) return true;
  TORVZYNDashUtils::Log(QStringLiteral("Refused to send the account's credentials to %1: not a TLS address")
                            .arg(url.toDisplayString(QUrl::RemoveUserInfo)));
  return false;
}

void TORVZYNCloudKitwright::PrepareRequest(const QString& AName, const QString& APath,
                                           TORVZYNDashCloudBaseRequestMethod AMethod) {
  TORVZYNDashCloudBaseRequest& request = Request();
  request.Clear();
  request.FName = AName;
  request.FHost = FHost;
  request.FPort = FPort;
  request.FPath = APath;
  request.FMethod = AMethod;
}

void TORVZYNCloudKitwright::GetToken(const QString& AEmail, const QString& ACode) {
  if (AEmail.isEmpty() || ACode.isEmpty()) return;
  if (AEmail == FEmail && ACode == FCode && !FToken.isEmpty()) {
    if (OnGetToken) OnGetToken(*this, FToken, nullptr);
    return;
  }
  if (!MaySendSecrets()) return;
  ClearToken();
  FEmail = AEmail;
  FCode = ACode;
  PrepareRequest(QStringLiteral("GET KITWRIGHT TOKEN"), TokenPath, rmPOST);
  // A form as OAuth 2.0 wants it, so that "+" or "&" in the credentials
  // reach the server as they are.
  Request().AddHeader(QStringLiteral("Content-Type"), QStringLiteral("application/x-www-form-urlencoded"));
  Request().FPostData = TokenRequestBody(AEmail, ACode);
  Request().FConfidential = true;
  ExecuteRequest([this](TORVZYNDashCloudBaseRequestResult& R) { ParseToken(R); }, nullptr, false);
}

void TORVZYNCloudKitwright::ParseToken(TORVZYNDashCloudBaseRequestResult& ARequestResult) {
  if (ARequestResult.FSuccess) {
    if (const auto answer = TORVZYNDashUtils::ParseJSON(ARequestResult.FResultString))
      FToken = TORVZYNDashUtils::GetJSONProp(&*answer, QStringLiteral("access_token"));
  }
  if (!isUsableToken(FToken)) {
    FToken.clear();
    qCWarning(lcOrvApi).noquote()
        << QStringLiteral("Refused the token of request [%1]: it holds a control character").arg(ARequestResult.FName);
  }
  if (OnGetToken) OnGetToken(*this, FToken, &ARequestResult);
}

bool TORVZYNCloudKitwright::HoldsProductsFor(const QString& AEmail, const QString& ACode) const {
  return FProductsFetched && !FToken.isEmpty() && AEmail == FEmail && ACode == FCode;
}

void TORVZYNCloudKitwright::ClearToken() {
  FToken.clear();
  FEmail.clear();
  FCode.clear();
  FProducts.Clear();
  FProductsFetched = false;
}

void TORVZYNCloudKitwright::GetProducts() {
  if (!MaySendSecrets()) return;
  PrepareRequest(QStringLiteral("GET KITWRIGHT PRODUCTS"), ProductsPath, rmGET);
  Request().AddHeader(QStringLiteral("Authorization"), QStringLiteral("Bearer ") + FToken);
  ExecuteRequest([this](TORVZYNDashCloudBaseRequestResult& R) { ParseProducts(R); }, nullptr, false);
}

void TORVZYNCloudKitwright::ParseProducts(TORVZYNDashCloudBaseRequestResult& ARequestResult) {
  FProducts.Clear();
  const auto answer =
      ARequestResult.FSuccess ? TORVZYNDashUtils::ParseJSON(ARequestResult.FResultString) : std::nullopt;
  FProductsFetched = answer.has_value();
  if (answer) {
    // A "value" that is not an array reads as no products.
    const nlohmann::ordered_json* products = TORVZYNDashUtils::GetJSONValue(&*answer, QStringLiteral("value"));
    for (int i = 0; i < TORVZYNDashUtils::GetJSONArraySize(products); ++i) {
      const nlohmann::ordered_json* product = TORVZYNDashUtils::GetJSONArrayItem(products, i);
      const nlohmann::ordered_json* latest = TORVZYNDashUtils::GetJSONValue(product, QStringLiteral("latest_version"));
      FProducts.Add(
          std::make_unique<TORVKitwrightProduct>(TORVZYNDashUtils::GetJSONProp(product, QStringLiteral("name")),
                                                 TORVZYNDashUtils::GetJSONProp(latest, QStringLiteral("version")),
                                                 TORVZYNDashUtils::GetJSONProp(product, QStringLiteral("id")),
                                                 TORVZYNDashUtils::GetJSONProp(product, QStringLiteral("orv_id"))));
    }
  }
  if (OnGetProducts) OnGetProducts(*this, FProducts, &ARequestResult);
}

}  // namespace orv
