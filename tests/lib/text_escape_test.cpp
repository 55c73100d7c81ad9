#include "lib/text_escape.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(TextEscape, JsonEscapesQuotesBackslashesAndControls) {
  EXPECT_EQ(JsonEscape(QStringLiteral("plain ÄÖ text")), QStringLiteral("plain ÄÖ text"));
  EXPECT_EQ(JsonQuote(QStringLiteral("a\"b\\c\nd\x01")), QStringLiteral("\"a\\\"b\\\\c\\nd\\u0001\""));
}

TEST(TextEscape, JsLiteralSurvivesScriptBlocksAndLineSeparators) {
  const QString text = QStringLiteral("it's \"x\" </script>\u2028\\");
  EXPECT_EQ(JsStringLiteral(text), QStringLiteral("'it\\'s \\\"x\\\" <\\/script>\\u2028\\\\'"));
}

}  // namespace
}  // namespace orv
