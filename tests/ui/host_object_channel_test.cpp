#include "ui/host_object_channel.h"
#include "ui/web_data_folder.h"

#include "platform/exception.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace orv {
namespace {

class Bridge : public IHostObject {
public:
  QString stored;
  QStringList propertyNames() const override { return {QStringLiteral("ObjectMessage")}; }
  QString getProperty(const QString&) override { return QStringLiteral("echo:") + stored; }
  void setProperty(const QString&, const QString& value) override {
    if (value == QLatin1String("fail")) throw Exception(QStringLiteral("bad \"message\" </script>"));
    if (value == QLatin1String("std")) throw std::runtime_error("plain failure");
    stored = value;
  }
};

QJsonObject Call(HostObjectChannel& channel, const char* origin, const QJsonObject& request) {
  const QString reply =
      channel.Handle(QUrl(QString::fromLatin1(origin)), QString::fromUtf8(QJsonDocument(request).toJson()));
  return QJsonDocument::fromJson(reply.toUtf8()).object();
}

QJsonObject Set(const QString& value, const QString& property = QStringLiteral("ObjectMessage")) {
  return {{"op", "set"}, {"object", "DashboardBridge"}, {"property", property}, {"value", value}};
}

const QJsonObject kGet{{"op", "get"}, {"object", "DashboardBridge"}, {"property", "ObjectMessage"}};

class HostObjectChannelTest : public ::testing::Test {
protected:
  void SetUp() override {
    channel.SetAllowedOrigin(QStringLiteral("https://www.x.test/site/dashboard"));
    channel.Add(QStringLiteral("DashboardBridge"), bridge);
  }
  HostObjectChannel channel;
  std::shared_ptr<Bridge> bridge = std::make_shared<Bridge>();
};

TEST_F(HostObjectChannelTest, SetThenGetRunsTheNativeProperty) {
  const QString text = QStringLiteral("jsevent://%7B%22a%22%7D \"quoted\" \\ \u00e9\u2028");
  EXPECT_TRUE(Call(channel, "https://www.x.test", Set(text)).value("ok").toBool());
  EXPECT_EQ(bridge->stored, text);
  const QJsonObject reply = Call(channel, "https://www.x.test:443", kGet);
  EXPECT_TRUE(reply.value("ok").toBool());
  EXPECT_EQ(reply.value("value").toString(), QStringLiteral("echo:") + text);
}

TEST_F(HostObjectChannelTest, FailuresComeBackAsMessages) {
  struct Case {
    QJsonObject request;
    QString message;
  };
  const Case cases[] = {
      {Set(QStringLiteral("fail")), QStringLiteral("bad \"message\" </script>")},
      {Set(QStringLiteral("std")), QStringLiteral("plain failure")},
      {Set(QStringLiteral("x"), QStringLiteral("Missing")),
       QStringLiteral("Unknown property of host object DashboardBridge: Missing")},
      {{{"op", "get"}, {"object", "Other"}, {"property", "ObjectMessage"}},
       QStringLiteral("Unknown host object: Other")},
      {{{"op", "call"}, {"object", "DashboardBridge"}, {"property", "ObjectMessage"}},
       QStringLiteral("Unknown host object operation")},
  };
  for (const Case& c : cases) {
    const QJsonObject reply = Call(channel, "https://www.x.test", c.request);
    EXPECT_FALSE(reply.value("ok").toBool());
    EXPECT_EQ(reply.value("error").toString(), c.message);
  }
  EXPECT_TRUE(bridge->stored.isEmpty());
}

TEST_F(HostObjectChannelTest, OnlyTheAllowedOriginIsAnswered) {
  for (const char* origin : {"http://www.x.test", "https://www.x.test:8443", "https://evil.test",
                             "https://www.x.test.evil.test", "data:text/html,x", "about:blank", ""}) {
    EXPECT_FALSE(Call(channel, origin, {{"op", "probe"}}).value("ok").toBool()) << origin;
    EXPECT_FALSE(Call(channel, origin, Set(QStringLiteral("x"))).value("ok").toBool()) << origin;
  }
  EXPECT_TRUE(bridge->stored.isEmpty());
  EXPECT_TRUE(Call(channel, "https://www.x.test", {{"op", "probe"}}).value("ok").toBool());

  HostObjectChannel unconfigured;  // no origin set: nobody
  unconfigured.Add(QStringLiteral("DashboardBridge"), bridge);
  EXPECT_FALSE(Call(unconfigured, "https://www.x.test", kGet).value("ok").toBool());
}

// Replies are written by hand: every text must come back exactly, whatever
// it holds.
TEST_F(HostObjectChannelTest, RepliesCarryAnyTextExactly) {
  const QString texts[] = {
      QString(),
      QStringLiteral("\"}, {\"ok\":false"),
      QStringLiteral("back\\slash \\u0041 \\"),
      QStringLiteral("controls \x01\x1f\b\f\n\r\t end"),
      QStringLiteral("</script><!-- \u2028\u2029 \u00e9 \U0001F600"),
  };
  for (const QString& text : texts) {
    ASSERT_TRUE(Call(channel, "https://www.x.test", Set(text)).value("ok").toBool()) << text.toStdString();
    EXPECT_EQ(Call(channel, "https://www.x.test", kGet).value("value").toString(), QStringLiteral("echo:") + text);
    // ... and the same inside a failure message.
    const QJsonObject unknown =
        Call(channel, "https://www.x.test", {{"op", "get"}, {"object", "DashboardBridge"}, {"property", text}});
    EXPECT_EQ(unknown.value("error").toString(),
              QStringLiteral("Unknown property of host object DashboardBridge: ") + text);
  }
}

TEST_F(HostObjectChannelTest, ChangingTheAllowedOriginTakesEffectAtOnce) {
  EXPECT_TRUE(Call(channel, "https://www.x.test", kGet).value("ok").toBool());
  channel.SetAllowedOrigin(QStringLiteral("http://127.0.0.1:8080/"));
  EXPECT_FALSE(Call(channel, "https://www.x.test", kGet).value("ok").toBool());
  EXPECT_TRUE(Call(channel, "http://127.0.0.1:8080", kGet).value("ok").toBool());
  channel.SetAllowedOrigin(QString());
  EXPECT_FALSE(Call(channel, "http://127.0.0.1:8080", kGet).value("ok").toBool());
}

TEST_F(HostObjectChannelTest, RegisteringAgainReplacesAndRemoveForgets) {
  auto newer = std::make_shared<Bridge>();
  newer->stored = QStringLiteral("newer");
  channel.Add(QStringLiteral("DashboardBridge"), newer);
  EXPECT_EQ(Call(channel, "https://www.x.test", kGet).value("value").toString(), QStringLiteral("echo:newer"));
  channel.Remove(QStringLiteral("DashboardBridge"));
  EXPECT_FALSE(Call(channel, "https://www.x.test", kGet).value("ok").toBool());
}

TEST_F(HostObjectChannelTest, ProxyScriptCarriesTheMarkerAsALiteral) {
  EXPECT_TRUE(channel.Marker().startsWith(QStringLiteral("orv-host-object-call:")));
  EXPECT_NE(channel.Marker(), HostObjectChannel().Marker());
  EXPECT_TRUE(channel.ProxyScript().contains(QLatin1Char('\'') + channel.Marker() + QLatin1Char('\'')));
}

TEST(WebDataFolder, NameStaysInsideTheCacheFolder) {
  EXPECT_EQ(FullDataFolderName(QStringLiteral("/opt/orv"), QStringLiteral("EdgeCache")),
            QStringLiteral("/opt/orv/EdgeCache"));
  EXPECT_EQ(FullDataFolderName(QStringLiteral("/opt/orv/"), QStringLiteral("EdgeCache")),
            QStringLiteral("/opt/orv/EdgeCache"));
  for (const char* name : {"", ".", "..", "../x", "a/b", "a\\b"}) {
    const QString full = FullDataFolderName(QStringLiteral("/opt/orv/"), QString::fromLatin1(name));
    EXPECT_TRUE(full.startsWith(QStringLiteral("/opt/orv/"))) << name;
    EXPECT_FALSE(full.mid(9).contains(QLatin1Char('/')) || full.endsWith(QLatin1String(".."))) << name;
  }
}

TEST(WebDataFolder, DeletesTheFolderAndRespectsClaims) {
  QTemporaryDir temp;
  const QString cache = temp.path() + QStringLiteral("/cache/");
  const QString folder = cache + QStringLiteral("EdgeCache");
  ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/Cache/sub")));
  QFile file(folder + QStringLiteral("/Cache/sub/data"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("x");
  file.close();
  file.setPermissions(QFile::ReadOwner);  // read-only entries go too

  EXPECT_TRUE(DeleteDataFolder(folder, cache));
  EXPECT_FALSE(QDir(cache).exists());  // the empty cache folder goes as well

  int first = 0, second = 0;
  CachedFolders::Claim(folder, &first);
  EXPECT_FALSE(CachedFolders::ClaimedByOther(folder, &first));
  EXPECT_TRUE(CachedFolders::ClaimedByOther(cache + QStringLiteral("./EdgeCache"), &second));
  CachedFolders::Claim(folder, &first);
  CachedFolders::ReleaseLast(&first);
  EXPECT_TRUE(CachedFolders::ClaimedByOther(folder, &second));
  CachedFolders::ReleaseAll(&first);
  EXPECT_FALSE(CachedFolders::ClaimedByOther(folder, &second));
}

}  // namespace
}  // namespace orv
