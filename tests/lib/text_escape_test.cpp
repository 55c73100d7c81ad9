#include "lib/text_escape.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(TextEscape, JsonEscapesQuotesBackslashesAndControls) {
  EXPECT_EQ(JsonEscape(QStringLiteral("plain ÄÖ text")), QStringLiteral("plain ÄÖ text"));
  EXPECT_EQ(JsonQuote(QStringLiteral("a\"b\\c\nd\x01")), QStringLiteral("\"a\\\"b\\\\c\\nd\\u0001\""));
}

// Both line separators end a line inside a script, so each is escaped.
TEST(TextEscape, JsLiteralSurvivesScriptBlocksAndLineSeparators) {
  const struct {
    QString text;
    QString literal;
  } cases[] = {
      {QStringLiteral("it's \"x\" </script>\\"), QStringLiteral("'it\\'s \\\"x\\\" <\\/script>\\\\'")},
      {QStringLiteral("a\u2028b"), QStringLiteral("'a\\u2028b'")},
      {QStringLiteral("a\u2029b"), QStringLiteral("'a\\u2029b'")},
      {QStringLiteral("line\nnext\r\t"), QStringLiteral("'line\\nnext\\r\\t'")},
  };
  for (const auto& c : cases) EXPECT_EQ(JsStringLiteral(c.text), c.literal) << c.text.toStdString();
}

}  // namespace
}  // namespace orv
