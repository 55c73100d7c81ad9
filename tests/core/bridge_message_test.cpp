#include "core/bridge_message.h"

#include <gtest/gtest.h>

#include <utility>

namespace orv {
namespace {

TORVDashboardBridgeMessage fromJSON(const QString& json) {
  TORVDashboardBridgeMessage message;
  TORVZYNDashPersistence::FromJSON(message, json);
  return message;
}

TEST(BridgeMessage, ReadsEventNameAndIdWithOrWithoutTypeKey) {
  const QString texts[] = {
      QStringLiteral(R"({"$type":"TORVDashboardBridgeMessage","EventName":"GETSTATUS","ID":"7"})"),
      QStringLiteral(R"({"eventname":"GETSTATUS","id":7})"),
      QStringLiteral(R"( { "ID" : "7" , "EVENTNAME" : "GETSTATUS" } )"),
  };
  for (const QString& text : texts) {
    const auto message = fromJSON(text);
    EXPECT_EQ(message.EventName(), QStringLiteral("GETSTATUS")) << text.toStdString();
    EXPECT_EQ(message.ID(), QStringLiteral("7")) << text.toStdString();
  }
}

TEST(BridgeMessage, SkipsUnknownMembersOfAnyShape) {
  const auto message =
      fromJSON(QStringLiteral(R"({"Products":["A","B",{"n":[[],{}]}],"Folder":"C:\\Temp\\","EventName":"MULTIACTION",)"
                              R"("Size":1.5e3,"Flag":false,"Nothing":null,"CustomData":"ignored"})"));
  EXPECT_EQ(message.EventName(), QStringLiteral("MULTIACTION"));
  EXPECT_EQ(message.CustomData(), QString());  // not published
}

TEST(BridgeMessage, StringEndingInAnEscapedBackslashEndsAtTheNextQuote) {
  const auto message = fromJSON(QStringLiteral(R"({"ID":"C:\\Program Files\\ORV\\","EventName":"INSTALL"})"));
  EXPECT_EQ(message.ID(), QStringLiteral("C:\\Program Files\\ORV\\"));
  EXPECT_EQ(message.EventName(), QStringLiteral("INSTALL"));
}

TEST(BridgeMessage, UnicodeEscapesAndUnescapedCharactersSurvive) {
  const auto message = fromJSON(QString::fromUtf8(R"({"EventName":"\u0022\u005C\u00E9","ID":"€ 😀"})"));
  EXPECT_EQ(message.EventName(), QString::fromUtf8("\"\\\xC3\xA9"));
  EXPECT_EQ(message.ID(), QString::fromUtf8("€ 😀"));
}

TEST(BridgeMessage, EventNameValues) {
  TORVDashboardBridgeMessage message;
  message.SetEventName(QStringLiteral("OLD"));
  TORVZYNDashPersistence::FromJSON(message, QStringLiteral(R"({"EventName":null})"));
  EXPECT_EQ(message.EventName(), QStringLiteral("OLD"));
  TORVZYNDashPersistence::FromJSON(message, QStringLiteral(R"({"EventName":5})"));
  EXPECT_EQ(message.EventName(), QStringLiteral("5"));
  try {
    TORVZYNDashPersistence::FromJSON(message, QStringLiteral(R"({"EventName":true})"));
    ADD_FAILURE() << "true accepted";
  } catch (const EInvalidStateException& e) {
    EXPECT_EQ(e.message(), QStringLiteral("Invalid Json parser state. Expected state: 8"));
  }
}

TEST(BridgeMessage, TextThatIsNotAnObjectIsRefused) {
  TORVDashboardBridgeMessage message;
  try {
    TORVZYNDashPersistence::FromJSON(message, QStringLiteral(R"("GETSTATUS")"));
    ADD_FAILURE() << "bare string accepted";
  } catch (const EObjectOrArrayExpected& e) {
    EXPECT_EQ(e.message(), QStringLiteral("Object or array expected as top-level value"));
  }
  EXPECT_THROW(TORVZYNDashPersistence::FromJSON(message, QStringLiteral("[]")), EInvalidStateException);
}

}  // namespace
}  // namespace orv
