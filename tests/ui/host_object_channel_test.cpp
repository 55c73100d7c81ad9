#include "ui/host_object_channel.h"
#include "ui/web_data_folder.h"

#include "platform/exception.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <nlohmann/json.hpp>

#include <optional>
#include <tuple>
#include <utility>
#include <vector>

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

using Json = nlohmann::json;

// The reply, parsed; the request as the proxy script would write it.
Json Call(HostObjectChannel& channel, const char* origin, const Json& request) {
  const QString reply = channel.Handle(QUrl(QString::fromLatin1(origin)), QString::fromStdString(request.dump()));
  return Json::parse(reply.toStdString());
}

Json Set(const QString& value, const QString& property = QStringLiteral("ObjectMessage")) {
  return {{"op", "set"},
          {"object", "DashboardBridge"},
          {"property", property.toStdString()},
          {"value", value.toStdString()}};
}

QString Text(const Json& reply, const char* name) { return QString::fromStdString(reply.value(name, std::string())); }

const Json kGet{{"op", "get"}, {"object", "DashboardBridge"}, {"property", "ObjectMessage"}};

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
  EXPECT_TRUE(Call(channel, "https://www.x.test", Set(text)).value("ok", false));
  EXPECT_EQ(bridge->stored, text);
  const Json reply = Call(channel, "https://www.x.test:443", kGet);
  EXPECT_TRUE(reply.value("ok", false));
  EXPECT_EQ(Text(reply, "value"), QStringLiteral("echo:") + text);
}

TEST_F(HostObjectChannelTest, FailuresComeBackAsMessages) {
  struct Case {
    Json request;
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
    const Json reply = Call(channel, "https://www.x.test", c.request);
    EXPECT_FALSE(reply.value("ok", false));
    EXPECT_EQ(Text(reply, "error"), c.message);
  }
  EXPECT_TRUE(bridge->stored.isEmpty());
}

TEST_F(HostObjectChannelTest, OnlyTheAllowedOriginIsAnswered) {
  for (const char* origin : {"http://www.x.test", "https://www.x.test:8443", "https://evil.test",
                             "https://www.x.test.evil.test", "data:text/html,x", "about:blank", ""}) {
    EXPECT_FALSE(Call(channel, origin, {{"op", "probe"}}).value("ok", false)) << origin;
    EXPECT_FALSE(Call(channel, origin, Set(QStringLiteral("x"))).value("ok", false)) << origin;
  }
  EXPECT_TRUE(bridge->stored.isEmpty());
  EXPECT_TRUE(Call(channel, "https://www.x.test", {{"op", "probe"}}).value("ok", false));

  HostObjectChannel unconfigured;  // no origin set: nobody
  unconfigured.Add(QStringLiteral("DashboardBridge"), bridge);
  EXPECT_FALSE(Call(unconfigured, "https://www.x.test", kGet).value("ok", false));
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
    ASSERT_TRUE(Call(channel, "https://www.x.test", Set(text)).value("ok", false)) << text.toStdString();
    EXPECT_EQ(Text(Call(channel, "https://www.x.test", kGet), "value"), QStringLiteral("echo:") + text);
    // ... and the same inside a failure message.
    const Json unknown = Call(channel, "https://www.x.test",
                              {{"op", "get"}, {"object", "DashboardBridge"}, {"property", text.toStdString()}});
    EXPECT_EQ(Text(unknown, "error"), QStringLiteral("Unknown property of host object DashboardBridge: ") + text);
  }
}

// JSON.stringify in the page writes controls and lone surrogates as \u
// escapes and leaves other text as it is; the setter gets every code unit
// back, lone surrogates included.
TEST_F(HostObjectChannelTest, EscapedValuesArriveAsTheyWereInThePage) {
  struct Case {
    const char* json;  // the value in the request
    QString value;
  };
  const Case cases[] = {
      {R"("\ud800")", QStringLiteral("\xD800")},
      {R"("a\udc00b")", QStringLiteral("a") + QChar(0xDC00) + u'b'},
      {R"("\udfff\udbff")", QStringLiteral("\xDFFF\xDBFF")},
      {R"("\ud83d\ud83d x")", QStringLiteral("\xD83D\xD83D x")},
      {R"("\uD83D\uDE00 \ud83d\ude00")", QStringLiteral("\U0001F600 \U0001F600")},
      {R"("\u0000")", QString(QChar(0))},
      {R"("\u0000\ud800\u0000\u0800")", QStringLiteral("\0\xD800\0\u0800")},
      {R"("\\ud800 \\\ud800")", QStringLiteral("\\ud800 \\\xD800")},
      {R"("\u0001\u001f\b\t \u00e9 )"
       "\xc3\xa9 \xe2\x80\xa8\"",
       QStringLiteral("\x01\x1f\b\t \u00e9 \u00e9 \u2028")},
  };
  for (const Case& c : cases) {
    const QString request =
        QStringLiteral(R"({"op":"set","object":"DashboardBridge","property":"ObjectMessage","value":)") +
        QString::fromUtf8(c.json) + u'}';
    EXPECT_EQ(channel.Handle(QUrl(QStringLiteral("https://www.x.test")), request), QStringLiteral(R"({"ok":true})"))
        << c.json;
    EXPECT_EQ(bridge->stored, c.value) << c.json;
  }
  // A lone surrogate in a name comes back in the failure message.
  EXPECT_EQ(channel.Handle(QUrl(QStringLiteral("https://www.x.test")),
                           QStringLiteral(R"({"op":"get","object":"DashboardBridge","property":"x\udc00"})")),
            QStringLiteral("{\"ok\":false,\"error\":\"Unknown property of host object DashboardBridge: x\xDC00\"}"));
}

// Members that are not strings read as empty texts; a request that is not
// one JSON object gets no host object.
TEST_F(HostObjectChannelTest, RequestsOtherThanStringMembers) {
  const QString success = QStringLiteral(R"({"ok":true})");
  const QString noObject = QStringLiteral(R"({"ok":false,"error":"Unknown host object: "})");
  const QString set = QStringLiteral(R"({"op":"set","object":"DashboardBridge","property":"ObjectMessage",)");
  struct Case {
    QString request;
    QString reply;
    QString stored;
  };
  const Case cases[] = {
      {set + QStringLiteral(R"("value":12345678901234567890})"), success, QString()},
      {set + QStringLiteral(R"("value":-1.5e300})"), success, QString()},
      {set + QStringLiteral(R"("value":null})"), success, QString()},
      {set + QStringLiteral(R"("value":["x"]})"), success, QString()},
      {set + QStringLiteral(R"("value":"a","value":"b"})"), success, QStringLiteral("b")},
      {set + QStringLiteral(R"("value":1e400})"), noObject, QStringLiteral("before")},
      {set + QStringLiteral(R"("value":"x"} {})"), noObject, QStringLiteral("before")},
      {set + QStringLiteral(R"("value":"x")"), noObject, QStringLiteral("before")},
      {QStringLiteral(R"([{"op":"probe"}])"), noObject, QStringLiteral("before")},
      {QStringLiteral(" {\"op\":\"probe\"}\n"), success, QStringLiteral("before")},
      {QString(), noObject, QStringLiteral("before")},
  };
  for (const Case& c : cases) {
    bridge->stored = QStringLiteral("before");
    EXPECT_EQ(channel.Handle(QUrl(QStringLiteral("https://www.x.test")), c.request), c.reply)
        << c.request.toStdString();
    EXPECT_EQ(bridge->stored, c.stored) << c.request.toStdString();
  }
}

TEST_F(HostObjectChannelTest, ChangingTheAllowedOriginTakesEffectAtOnce) {
  EXPECT_TRUE(Call(channel, "https://www.x.test", kGet).value("ok", false));
  channel.SetAllowedOrigin(QStringLiteral("http://127.0.0.1:8080/"));
  EXPECT_FALSE(Call(channel, "https://www.x.test", kGet).value("ok", false));
  EXPECT_TRUE(Call(channel, "http://127.0.0.1:8080", kGet).value("ok", false));
  channel.SetAllowedOrigin(QString());
  EXPECT_FALSE(Call(channel, "http://127.0.0.1:8080", kGet).value("ok", false));
}

TEST_F(HostObjectChannelTest, RegisteringAgainReplacesAndRemoveForgets) {
  auto newer = std::make_shared<Bridge>();
  newer->stored = QStringLiteral("newer");
  channel.Add(QStringLiteral("DashboardBridge"), newer);
  EXPECT_EQ(Text(Call(channel, "https://www.x.test", kGet), "value"), QStringLiteral("echo:newer"));
  channel.Remove(QStringLiteral("DashboardBridge"));
  EXPECT_FALSE(Call(channel, "https://www.x.test", kGet).value("ok", false));
}

TEST_F(HostObjectChannelTest, ProxyScriptCarriesTheMarkerAsALiteral) {
  EXPECT_TRUE(channel.Marker().startsWith(QStringLiteral("orv-host-object-call:")));
  EXPECT_NE(channel.Marker(), HostObjectChannel().Marker());
  EXPECT_TRUE(channel.ProxyScript().contains(QLatin1Char('\'') + channel.Marker() + QLatin1Char('\'')));
}

// Texts far beyond what one prompt's own text carries arrive and return
// whole; beyond the channel's limit both ways fail with a message that says
// so, and the setter is not reached.
TEST_F(HostObjectChannelTest, CarriesLargeTextsWholeAndRefusesTooLargeOnesSayingSo) {
  QString large;
  for (int i = 0; large.size() < (1 << 20); ++i) large += QStringLiteral("%1:\u00e9\U0001F600;").arg(i);
  ASSERT_TRUE(Call(channel, "https://www.x.test", Set(large)).value("ok", false));
  EXPECT_EQ(bridge->stored, large);
  EXPECT_EQ(Text(Call(channel, "https://www.x.test", kGet), "value"), QStringLiteral("echo:") + large);

  const QString tooLarge(HostObjectChannel::MaxCallText + 1, u'{');
  EXPECT_EQ(
      Text(Json::parse(channel.Handle(QUrl(QStringLiteral("https://www.x.test")), tooLarge).toStdString()), "error"),
      QStringLiteral("The message is too large for the host object: %1 characters (the most is %2)")
          .arg(HostObjectChannel::MaxCallText + 1)
          .arg(HostObjectChannel::MaxCallText));
  EXPECT_EQ(bridge->stored, large);

  bridge->stored = QString(HostObjectChannel::MaxCallText, u'x');
  const Json answer = Call(channel, "https://www.x.test", kGet);
  EXPECT_FALSE(answer.value("ok", true));
  EXPECT_TRUE(Text(answer, "error").startsWith(QStringLiteral("The answer is too large for the host object: ")));
}

// A bridge that answers reads ahead, as a query does: the read's effect
// (forgetting the value) belongs to the read, wherever it was answered.
class AheadBridge : public IHostObject {
public:
  QString stored;
  QStringList effects;  // what reached the object, in order
  QStringList propertyNames() const override { return {QStringLiteral("ObjectMessage")}; }
  QString getProperty(const QString&) override {
    effects << QStringLiteral("read ") + stored;
    return std::exchange(stored, QString());
  }
  void setProperty(const QString&, const QString& value) override {
    effects << QStringLiteral("set ") + value;
    stored = value;
  }
  std::optional<QString> readAhead(const QString&) override {
    if (stored == QLatin1String("fail")) throw Exception(QStringLiteral("no answer ahead"));
    if (stored == QLatin1String("none")) return std::nullopt;
    return stored;
  }
  void aheadReadTaken(const QString&) override {
    effects << QStringLiteral("taken ") + stored;
    stored.clear();
  }
};

TEST_F(HostObjectChannelTest, ReadsAnsweredAheadTakeEffectOnlyWhenThePageSaysItUsedThem) {
  const QUrl page(QStringLiteral("https://www.x.test"));
  const QString get = QString::fromStdString(kGet.dump());
  const auto set = [](const char* value) { return QString::fromStdString(Set(QString::fromLatin1(value)).dump()); };
  struct Case {
    const char* name;
    std::vector<std::tuple<QString, const char*, QUrl>> calls;  // request, notice, origin
    QStringList replies;
    QStringList effects;
  };
  const QUrl other(QStringLiteral("https://evil.test"));
  const Case cases[] = {
      {"used: the next call applies the read first, once",
       {{set("a"), "", page}, {set("b"), "taken", page}, {get, "taken", page}},
       {R"({"ok":true,"ahead":"a"})", R"({"ok":true,"ahead":"b"})", R"({"ok":true,"value":""})"},
       {"set a", "taken a", "set b", "taken b", "read "}},
      {"not used: the read runs natively as it always did",
       {{set("a"), "", page}, {get, "", page}, {get, "taken", page}},
       {R"({"ok":true,"ahead":"a"})", R"({"ok":true,"value":"a"})", R"({"ok":true,"value":""})"},
       {"set a", "read a", "read "}},
      {"another call between: a later notice is stale",
       {{set("a"), "", page},
        {set("b"), "", page},
        {QStringLiteral("{\"op\":\"probe\"}"), "", page},
        {get, "taken", page}},
       {R"({"ok":true,"ahead":"a"})", R"({"ok":true,"ahead":"b"})", R"({"ok":true})", R"({"ok":true,"value":"b"})"},
       {"set a", "set b", "read b"}},
      {"no answer ahead, or a failing one: the reply is as always",
       {{set("none"), "", page}, {get, "taken", page}, {set("fail"), "", page}, {get, "taken", page}},
       {R"({"ok":true})", R"({"ok":true,"value":"none"})", R"({"ok":true})", R"({"ok":true,"value":"fail"})"},
       {"set none", "read none", "set fail", "read fail"}},
      {"a notice from another origin does nothing",
       {{set("a"), "", page}, {get, "taken", other}, {get, "taken", page}},
       {R"({"ok":true,"ahead":"a"})", R"({"ok":false,"error":"Host objects are not available to this page"})",
        R"({"ok":true,"value":"a"})"},
       {"set a", "read a"}},
  };
  for (const Case& c : cases) {
    auto ahead = std::make_shared<AheadBridge>();
    channel.Add(QStringLiteral("DashboardBridge"), ahead);
    QStringList replies;
    for (const auto& [request, notice, origin] : c.calls)
      replies << channel.Handle(origin, request, QString::fromLatin1(notice));
    EXPECT_EQ(replies, c.replies) << c.name;
    EXPECT_EQ(ahead->effects, c.effects) << c.name;
  }
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
