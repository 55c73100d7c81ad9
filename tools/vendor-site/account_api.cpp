#include "account_api.h"

#include <random>

namespace orv::site {

namespace {

using Clock = std::chrono::steady_clock;

void answerJSON(httplib::Response& res, int status, const nlohmann::json& body) {
  res.status = status;
  res.set_content(body.dump(), "application/json");
}

const nlohmann::json* findAccount(const nlohmann::json& scene, const std::string& email) {
  if (!scene.contains("accounts") || !scene["accounts"].is_array()) return nullptr;
  for (const auto& account : scene["accounts"])
    if (account.is_object() && account.value("email", "") == email) return &account;
  return nullptr;
}

const nlohmann::json* findProduct(const nlohmann::json& scene, const std::string& name) {
  if (!scene.contains("catalogue") || !scene["catalogue"].is_array()) return nullptr;
  for (const auto& product : scene["catalogue"])
    if (product.is_object() && product.value("name", "") == name) return &product;
  return nullptr;
}

std::string newToken() {
  static std::mt19937_64 random{std::random_device{}()};
  static constexpr char hex[] = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 40; ++i) token += hex[random() % 16];
  return token;
}

// The account e-mail of a bearer token that is still valid.
std::optional<std::string> tokenOwner(const SiteContext& context, const httplib::Request& req) {
  const std::string authorization = req.get_header_value("Authorization");
  const std::string scheme = "Bearer ";
  if (authorization.compare(0, scheme.size(), scheme) != 0) return std::nullopt;
  std::lock_guard lock(context.state->lock);
  const auto grant = context.state->tokens.find(authorization.substr(scheme.size()));
  if (grant == context.state->tokens.end() || grant->second.expires <= Clock::now()) return std::nullopt;
  return grant->second.email;
}

}  // namespace

void IssueToken(const SiteContext& context, const httplib::Request& req, httplib::Response& res) {
  if (req.get_param_value("grant_type") != "client_credentials") {
    answerJSON(res, 400, {{"error", "unsupported_grant_type"}});
    return;
  }
  const nlohmann::json scene = context.scene();
  const std::string email = req.get_param_value("client_id");
  const nlohmann::json* account = findAccount(scene, email);
  if (!account || email.empty() || account->value("code", "") != req.get_param_value("client_secret")) {
    answerJSON(res, 401, {{"error", "invalid_client"}, {"error_description", "Unknown e-mail or registration code"}});
    return;
  }
  const auto lifetime = std::chrono::milliseconds(scene.value("tokenLifetimeMs", 3600000));
  std::string token;
  {
    std::lock_guard lock(context.state->lock);
    token = newToken();
    context.state->tokens[token] = {email, Clock::now() + lifetime};
  }
  answerJSON(res, 200,
             {{"access_token", token},
              {"token_type", "bearer"},
              {"expires_in", std::chrono::duration_cast<std::chrono::seconds>(lifetime).count()}});
}

void AccountProducts(const SiteContext& context, const httplib::Request& req, httplib::Response& res) {
  const std::optional<std::string> email = tokenOwner(context, req);
  if (!email) {
    res.set_header("WWW-Authenticate", "Bearer error=\"invalid_token\"");
    answerJSON(res, 401, {{"error", "invalid_token"}});
    return;
  }
  const nlohmann::json scene = context.scene();
  const nlohmann::json* account = findAccount(scene, *email);
  nlohmann::ordered_json products = nlohmann::ordered_json::array();
  if (account && account->contains("products") && (*account)["products"].is_array()) {
    for (const auto& name : (*account)["products"]) {
      if (!name.is_string()) continue;
      nlohmann::ordered_json element = {{"name", name}};
      if (const nlohmann::json* product = findProduct(scene, name.get<std::string>())) {
        element["id"] = product->value("kitwrightId", "");
        if (product->contains("orvId")) element["orv_id"] = (*product)["orvId"];
        element["latest_version"] = {{"version", product->value("version", "")}, {"channel", "stable"}};
      }
      products.push_back(element);
    }
  }
  res.set_content(nlohmann::ordered_json{{"value", products}, {"count", products.size()}}.dump(), "application/json");
}

}  // namespace orv::site
