// The account's products: the registered-products query through the vendor
// API client, against the vendor-site stand-in's REST API served in this
// process (or a scripted server where the stand-in cannot misbehave enough).
#include "dashboard_fixture.h"
#include "lib/cloud_base_curl.h"
#include "site_routes.h"
#include "support/raw_http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

namespace orv {
namespace {

using test::RawHttpServer;

const QString kTokenRequest = QStringLiteral("POST /orv/auth/oauth/token");
const QString kProductsRequest = QStringLiteral("GET /orv/api/setup/user/products");
const QString kEmpty = QStringLiteral("{\"Products\": []}");

class DashboardAccountTest : public test::DashboardFixture {
protected:
  void SetUp() override {
    RegisterCurlCloudBaseService();
    ASSERT_TRUE(siteData_.isValid());
    site_.dataDir = siteData_.path().toStdString();
    Scene();
    MountRoutes(server_, site_);
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
      std::lock_guard lock(mutex_);
      requests_ << QString::fromStdString(req.method + " " + req.path);
      return httplib::Server::HandlerResponse::Unhandled;
    });
    const int port = server_.bind_to_any_port("127.0.0.1");
    serving_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() ends only a server that has begun to listen.
    while (!server_.is_running()) std::this_thread::yield();
    apiURL_ = QStringLiteral("http://127.0.0.1:%1").arg(port);
    DashboardFixture::SetUp();
  }
  void TearDown() override {
    DashboardFixture::TearDown();
    server_.stop();
    serving_.join();
    UnregisterCurlCloudBaseService();
  }

  // The stand-in's scene: the demo catalogue and account, with additions.
  void Scene(const nlohmann::json& additions = nlohmann::json::object()) {
    nlohmann::json scene = {
        {"catalogue",
         {{{"name", "ORV ZYN Core"}, {"orvId", 1101}, {"version", "3.2.0"}, {"kitwrightId", "orv.zyn.core"}},
          {{"name", "ORV Ledger"}, {"orvId", 1202}, {"version", "5.0.4"}, {"kitwrightId", "orv.ledger"}}}},
        {"accounts",
         {{{"email", "demo@example.com"},
           {"code", "DEMO-1234"},
           {"products", {"ORV Ledger", "Legacy", "ORV ZYN Core"}}},
          {{"email", "a+b@example.com"}, {"code", "x&y=z \u00a3\u20ac"}, {"products", {"ORV ZYN Core"}}}}},
    };
    scene.update(additions);
    std::ofstream(site_.dataDir / "site.json") << scene.dump();
  }
  void SignIn(const QString& email, const QString& code) {
    SetSetting(QStringLiteral("USERNAME"), email);
    SetSetting(QStringLiteral("PASSWORD"), code);
  }
  // The requests the API host saw since the last call.
  QStringList Requests() {
    std::lock_guard lock(mutex_);
    return std::exchange(requests_, {});
  }

  static inline const QString kDemoProducts = QStringLiteral(
      "{\"Products\": [{\"Name\": \"ORV Ledger\", \"Version\": \"5.0.4\", \"ID\": \"orv.ledger\", \"ORVID\": \"1202\"},"
      "{\"Name\": \"Legacy\", \"Version\": \"\", \"ID\": \"\", \"ORVID\": \"\"},"
      "{\"Name\": \"ORV ZYN Core\", \"Version\": \"3.2.0\", \"ID\": \"orv.zyn.core\", \"ORVID\": \"1101\"}]}");

  QTemporaryDir siteData_;
  site::SiteContext site_;
  httplib::Server server_;
  std::thread serving_;
  std::mutex mutex_;
  QStringList requests_;
};

TEST_F(DashboardAccountTest, ListsTheAccountsProductsFetchedOncePerRunAndCredentials) {
  SignIn(QStringLiteral("demo@example.com"), QStringLiteral("DEMO-1234"));
  EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")), kDemoProducts);
  EXPECT_EQ(Requests(), QStringList({kTokenRequest, kProductsRequest}));
  EXPECT_EQ(Read(), QStringLiteral("{\"action not found\"}")) << "answered once";
  EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")), kDemoProducts);
  EXPECT_EQ(Requests(), QStringList()) << "later queries answer from what was fetched";

  // Another e-mail or code in the settings: the old account's products go
  // with its token.
  const std::pair<QString, QString> others[] = {{"other@example.com", "DEMO-1234"}, {"demo@example.com", "OTHER"}};
  for (const auto& [email, code] : others) {
    SCOPED_TRACE(email.toStdString() + " " + code.toStdString());
    SignIn(email, code);
    EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")), kEmpty);
    EXPECT_EQ(Requests(), QStringList({kTokenRequest}));
    SignIn(QStringLiteral("demo@example.com"), QStringLiteral("DEMO-1234"));
    EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")), kDemoProducts);
    EXPECT_EQ(Requests(), QStringList({kTokenRequest, kProductsRequest}));
  }
}

TEST_F(DashboardAccountTest, WrongOrMissingCredentialsGiveTheEmptyListUntilTheyAreRight) {
  struct Case {
    QString email, code;
    QStringList requests;
  };
  const Case cases[] = {
      {"", "", {}},
      {"demo@example.com", "", {}},
      {"demo@example.com", "DEMO-9999", {kTokenRequest}},
      {"nobody@example.com", "DEMO-1234", {kTokenRequest}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.email.toStdString() + " " + c.code.toStdString());
    SignIn(c.email, c.code);
    EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")), kEmpty);
    EXPECT_EQ(Requests(), c.requests);
  }
  SignIn(QStringLiteral("demo@example.com"), QStringLiteral("DEMO-1234"));
  EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")), kDemoProducts);
  EXPECT_EQ(Requests(), QStringList({kTokenRequest, kProductsRequest}));
}

TEST_F(DashboardAccountTest, CredentialsWithFormCharactersReachTheVendorUnchanged) {
  SignIn(QStringLiteral("a+b@example.com"), QStringLiteral("x&y=z \u00a3\u20ac"));
  EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")),
            "{\"Products\": [{\"Name\": \"ORV ZYN Core\", \"Version\": \"3.2.0\", \"ID\": \"orv.zyn.core\", "
            "\"ORVID\": \"1101\"}]}");
}

TEST_F(DashboardAccountTest, ARefusedProductsAnswerIsTriedOnceMoreWithAFreshToken) {
  Scene({{"knobs", {{"/orv/api/setup/user/products", {{"status", 401}, {"times", 1}}}}}});
  SignIn(QStringLiteral("demo@example.com"), QStringLiteral("DEMO-1234"));
  EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")), kDemoProducts);
  EXPECT_EQ(Requests(), QStringList({kTokenRequest, kProductsRequest, kTokenRequest, kProductsRequest}));
}

// Tokens that are expired on arrival: every products answer is refused.
TEST_F(DashboardAccountTest, GivesUpAfterOneFurtherAttemptAndAsksAgainNextTime) {
  Scene({{"tokenLifetimeMs", 0}});
  SignIn(QStringLiteral("demo@example.com"), QStringLiteral("DEMO-1234"));
  const QStringList twice{kTokenRequest, kProductsRequest, kTokenRequest, kProductsRequest};
  EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")), kEmpty);
  EXPECT_EQ(Requests(), twice);
  EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")), kEmpty);
  EXPECT_EQ(Requests(), twice);

  Scene();
  EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")), kDemoProducts);
}

TEST_F(DashboardAccountTest, AnUnreachableApiHostGivesTheEmptyListAndNoError) {
  server_.stop();
  SignIn(QStringLiteral("demo@example.com"), QStringLiteral("DEMO-1234"));
  EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")), kEmpty);
  EXPECT_EQ(Read(), QStringLiteral("{\"action not found\"}")) << "the query was answered";
}

// The products address hangs up without an answer, which the client raises
// as an address it cannot open.
TEST_F(DashboardAccountTest, AProductsAddressThatCannotBeOpenedGivesTheEmptyListAndNoError) {
  RawHttpServer api([](const std::string& request) {
    if (request.rfind("POST /orv/auth/oauth/token ", 0) == 0)
      return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", R"({"access_token": "t"})"));
    return RawHttpServer::HangUp();
  });
  apiURL_ = QString::fromStdString(api.URL());
  StartDashboard();
  SignIn(QStringLiteral("demo@example.com"), QStringLiteral("DEMO-1234"));
  // A request that dies on a kept-alive connection is sent once more on a
  // fresh one by the engine, so only the token requests count attempts.
  const auto tokenRequests = [&] {
    const auto requests = api.Requests();
    return std::count_if(requests.begin(), requests.end(),
                         [](const std::string& r) { return r.rfind("POST /orv/auth/oauth/token ", 0) == 0; });
  };
  EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")), kEmpty);
  EXPECT_EQ(Read(), QStringLiteral("{\"action not found\"}"));
  EXPECT_EQ(tokenRequests(), 2) << "one further attempt";
  EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")), kEmpty);
  EXPECT_EQ(tokenRequests(), 4) << "the next query starts over";
}

// A products answer cut off after a whole JSON text: status 200, but the
// connection drops before the announced length. It is not taken for the
// account's products, and the next query asks again.
TEST_F(DashboardAccountTest, ACutOffProductsAnswerIsNotRemembered) {
  std::atomic<bool> recovered{false};
  RawHttpServer api([&](const std::string& request) {
    if (request.rfind("POST /orv/auth/oauth/token ", 0) == 0)
      return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", R"({"access_token": "t"})"));
    if (!recovered) return RawHttpServer::HangUp("HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\n{\"value\": []}");
    return RawHttpServer::Reply(
        RawHttpServer::Response(200, "OK",
                                R"({"value": [{"name": "ORV Ledger", "id": "orv.ledger", "orv_id": "1202",)"
                                R"( "latest_version": {"version": "5.0.4"}}]})"));
  });
  apiURL_ = QString::fromStdString(api.URL());
  StartDashboard();
  SignIn(QStringLiteral("demo@example.com"), QStringLiteral("DEMO-1234"));
  EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")), kEmpty);
  recovered = true;
  EXPECT_EQ(Ask(QStringLiteral("GETREGISTEREDPRODUCTS")),
            "{\"Products\": [{\"Name\": \"ORV Ledger\", \"Version\": \"5.0.4\", \"ID\": \"orv.ledger\", "
            "\"ORVID\": \"1202\"}]}");
}

}  // namespace
}  // namespace orv
