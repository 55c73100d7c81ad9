// Script results as JSON text: the number forms, escaping and member order
// callers of the browser component get.
#include "ui/variant_json.h"

#include <gtest/gtest.h>

#include <QVariantList>
#include <QVariantMap>

#include <cmath>
#include <limits>

namespace orv {
namespace {

struct Case {
  QVariant value;
  QString json;
};

void ExpectJson(std::initializer_list<Case> cases) {
  for (const Case& c : cases) EXPECT_EQ(VariantJson(c.value), c.json) << c.json.toStdString();
}

TEST(VariantJson, Numbers) {
  constexpr double kTwoTo53 = 9007199254740992.0;
  ExpectJson({
      {QVariant(2147483647), QStringLiteral("2147483647")},
      {QVariant(-5), QStringLiteral("-5")},
      {QVariant(0.0), QStringLiteral("0")},
      {QVariant(-0.0), QStringLiteral("0")},
      {QVariant(2.5), QStringLiteral("2.5")},
      {QVariant(0.1), QStringLiteral("0.1")},
      {QVariant(1.0 / 3), QStringLiteral("0.3333333333333333")},
      {QVariant(12345678.9), QStringLiteral("12345678.9")},
      // Whole numbers up to 2^53 are integers, however many zeros they end in.
      {QVariant(1e6), QStringLiteral("1000000")},
      {QVariant(3e9), QStringLiteral("3000000000")},
      {QVariant(123456789012.0), QStringLiteral("123456789012")},
      {QVariant(kTwoTo53), QStringLiteral("9007199254740992")},
      {QVariant(-kTwoTo53), QStringLiteral("-9007199254740992")},
      // Beyond, and for fractions, the shortest form that reads back the same.
      {QVariant(kTwoTo53 * 4), QStringLiteral("36028797018963970")},
      {QVariant(1152921504606846976.0), QStringLiteral("1152921504606847000")},
      {QVariant(1e16), QStringLiteral("1e+16")},
      {QVariant(1e21), QStringLiteral("1e+21")},
      {QVariant(std::numeric_limits<double>::max()), QStringLiteral("1.7976931348623157e+308")},
      {QVariant(0.001), QStringLiteral("0.001")},
      {QVariant(0.0001), QStringLiteral("1e-04")},
      {QVariant(1.5e-7), QStringLiteral("1.5e-07")},
      {QVariant(std::numeric_limits<double>::denorm_min()), QStringLiteral("5e-324")},
      {QVariant(0.1f), QStringLiteral("0.10000000149011612")},
      // JSON has no NaN or infinity.
      {QVariant(std::nan("")), QStringLiteral("null")},
      {QVariant(std::numeric_limits<double>::infinity()), QStringLiteral("null")},
      {QVariant(-std::numeric_limits<double>::infinity()), QStringLiteral("null")},
  });
}

TEST(VariantJson, TextsAndOtherScalars) {
  ExpectJson({
      {QVariant(), QStringLiteral("null")},
      {QVariant(true), QStringLiteral("true")},
      {QVariant(false), QStringLiteral("false")},
      {QVariant(QString()), QStringLiteral("\"\"")},
      // Quote, backslash and controls are escaped; slashes, DEL and
      // everything beyond ASCII stay as they are.
      {QVariant(QStringLiteral("a\"\\/\b\f\n\r\t\x01\x1f\x7f \u00e9 \u2028 \U0001F600 </script>")),
       QStringLiteral("\"a\\\"\\\\/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f \u00e9 \u2028 \U0001F600 </script>\"")},
      // Binary data reads as UTF-8, a broken sequence as U+FFFD.
      {QVariant(QByteArray("a\x01\xff", 3)), QStringLiteral("\"a\\u0001\uFFFD\"")},
  });
}

TEST(VariantJson, ListsAndMaps) {
  const QVariantList list{1, QStringLiteral("x"), QVariant(), true, 0.5};
  // Keys in the order of their UTF-16 code units: U+1F600 before U+FF61.
  const QVariantMap map{{QStringLiteral("b"), 1},
                        {QStringLiteral("a"), list},
                        {QStringLiteral("\uFF61"), QVariantMap{}},
                        {QStringLiteral("\U0001F600"), QVariantList{}},
                        {QStringLiteral("q\"k"), QVariantMap{{QStringLiteral("n"), QVariant()}}}};
  ExpectJson({
      {QVariant(QVariantList{}), QStringLiteral("[]")},
      {QVariant(QVariantMap{}), QStringLiteral("{}")},
      {QVariant(list), QStringLiteral("[1,\"x\",null,true,0.5]")},
      {QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b")}), QStringLiteral("[\"a\",\"b\"]")},
      {QVariant(map), QStringLiteral("{\"a\":[1,\"x\",null,true,0.5],\"b\":1,\"q\\\"k\":{\"n\":null},"
                                     "\"\U0001F600\":[],\"\uFF61\":{}}")},
      {QVariant(QVariantList{map, list}),
       QStringLiteral("[{\"a\":[1,\"x\",null,true,0.5],\"b\":1,\"q\\\"k\":{\"n\":null},\"\U0001F600\":[],"
                      "\"\uFF61\":{}},[1,\"x\",null,true,0.5]]")},
  });
}

}  // namespace
}  // namespace orv
