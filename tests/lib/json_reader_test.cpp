#include "lib/json_reader.h"

#include <QIODevice>

#include "support/error_of.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

namespace orv {
namespace {

// A reader over a text of its own.
struct Reader {
  explicit Reader(const QString& input) : text(input), stream(&text, QIODevice::ReadOnly), R(stream) {}
  QString text;
  QTextStream stream;
  TORVZYNDashJSONReader R;
};

// Skips the whole text value by value until the end.
void readAll(const QString& text) {
  Reader reader(text);
  while (reader.R.Peek() != jstEOF) reader.R.SkipValue();
}

using test::Error;
using test::errorOf;

TEST(JSONReader, TokensInOrder) {
  Reader reader(
      QStringLiteral(" {\"a\" : [1, -2.50e+1, \"x\", \"y\\n\", true, false, null, {}], \"b\":9223372036854775808}\n"));
  auto& r = reader.R;
  EXPECT_EQ(r.Peek(), jstBeginObject);
  r.ReadBeginObject();
  EXPECT_EQ(r.ReadName(), QStringLiteral("a"));
  r.ReadBeginArray();
  EXPECT_EQ(r.ReadInt64(), 1);
  EXPECT_EQ(r.Peek(), jstNumber);
  EXPECT_EQ(r.ReadNumberText(), QStringLiteral("-2.50e+1"));
  EXPECT_EQ(r.Peek(), jstDoubleQuoted);
  EXPECT_EQ(r.ReadString(), QStringLiteral("x"));
  EXPECT_EQ(r.Peek(), jstBuffered);
  EXPECT_EQ(r.ReadString(), QStringLiteral("y\n"));
  EXPECT_TRUE(r.ReadBoolean());
  EXPECT_FALSE(r.ReadBoolean());
  r.ReadNull();
  r.ReadBeginObject();
  r.ReadEndObject();
  r.ReadEndArray();
  EXPECT_EQ(r.ReadName(), QStringLiteral("b"));
  // One past the largest 64-bit integer is an ordinary number.
  EXPECT_EQ(r.Peek(), jstNumber);
  EXPECT_DOUBLE_EQ(r.ReadNumber(), 9223372036854775808.0);
  r.ReadEndObject();
  EXPECT_EQ(r.Peek(), jstEOF);
}

TEST(JSONReader, StringEscapes) {
  Reader reader(QStringLiteral(R"(["\u0022\u005C\u00E9\u00e9", "\"\\\/\b\f\n\r\t", "C:\\Temp\\", "\ud83d\ude00"])"));
  auto& r = reader.R;
  r.ReadBeginArray();
  EXPECT_EQ(r.ReadString(), QString::fromUtf8("\"\\\xC3\xA9\xC3\xA9"));
  EXPECT_EQ(r.ReadString(), QStringLiteral("\"\\/\b\f\n\r\t"));
  EXPECT_EQ(r.ReadString(), QStringLiteral("C:\\Temp\\"));
  EXPECT_EQ(r.ReadString(), QString::fromUtf8("\xF0\x9F\x98\x80"));
  r.ReadEndArray();
}

TEST(JSONReader, WrongTokenReportsTheExpectedState) {
  Reader reader(QStringLiteral("[true]"));
  reader.R.ReadBeginArray();
  EXPECT_EQ(errorOf([&] { reader.R.ReadString(); }),
            Error("EInvalidStateException", "Invalid Json parser state. Expected state: 8"));
}

TEST(JSONReader, GrammarErrors) {
  const struct {
    const char* input;
    const char* error;
    const char* message;
  } cases[] = {
      {"[1 2]", "EUnterminatedArray", "Unterminated array"},
      {"[1", "EUnterminatedArray", "Unterminated array"},
      {"{\"a\":1 \"b\":2}", "EUnterminatedObject", "Unterminated object"},
      {"{\"a\":1", "EUnterminatedObject", "Unterminated object"},
      {"{a:1}", "ENameExpected", "Name expected"},
      {"{\"a\":1,}", "ENameExpected", "Name expected"},
      {"{\"a\" 1}", "EColonExpected", "Colon expected"},
      {"{} {}", "EMultipleRootNotAllowed", "Multiple root values not allowed"},
      {"[] x", "EMultipleRootNotAllowed", "Multiple root values not allowed"},
      {"[1,]", "EExpectedValue", "Value expected but invalid character found"},
      {"{\"a\":}", "EExpectedValue", "Value expected but invalid character found"},
      {"[tru]", "EExpectedValue", "Value expected but invalid character found"},
      {"[1.]", "EExpectedValue", "Value expected but invalid character found"},
      {"[1e]", "EExpectedValue", "Value expected but invalid character found"},
      {"[+1]", "EExpectedValue", "Value expected but invalid character found"},
      {"\"text\"", "EObjectOrArrayExpected", "Object or array expected as top-level value"},
      {"5", "EObjectOrArrayExpected", "Object or array expected as top-level value"},
      {"{", "EEndOfInputReached", "End of JSON input reached."},
      {"{\"a\":", "EEndOfInputReached", "End of JSON input reached."},
      {"[\"abc", "EEndOfInputReached", "End of JSON input reached."},
      {"[\"abc\\", "EInvalidStringEscape", "Unexpected end of string"},
      {"[\"\\u12", "EInvalidStringEscape", "Unexpected end of string"},
      {"[\"ab\\x\"]", "EInvalidStringEscape", "Invalid code at position 3"},
      {"[\"\\u12G4\"]", "EInvalidStringEscape", "Invalid code at position 1"},
  };
  for (const auto& c : cases) {
    const QString input = QString::fromUtf8(c.input);
    EXPECT_EQ(errorOf([&] { readAll(input); }), Error(c.error, c.message)) << c.input;
  }
}

TEST(JSONReader, NestingIsLimitedTo256Levels) {
  EXPECT_NO_THROW(readAll(QString(256, u'[') + QString(256, u']')));
  EXPECT_EQ(errorOf([] { readAll(QString(257, u'[') + QString(257, u']')); }),
            Error("ETooManyDepthLevels", "Maximum level of nested structured reached."));
}

TEST(JSONReader, NumbersAreAtMost255CharactersLong) {
  EXPECT_NO_THROW(readAll(QLatin1Char('[') + QString(255, u'1') + QLatin1Char(']')));
  // The 256th digit cannot belong to the number and ends the array early.
  EXPECT_EQ(errorOf([] { readAll(QLatin1Char('[') + QString(256, u'1') + QLatin1Char(']')); }),
            Error("EUnterminatedArray", "Unterminated array"));
}

TEST(JSONReader, EmptyTextAndNullAtTopLevel) {
  Reader empty(QStringLiteral(" \n"));
  EXPECT_EQ(empty.R.Peek(), jstEOF);
  Reader null(QStringLiteral("null"));
  null.R.ReadNull();
  EXPECT_EQ(null.R.Peek(), jstEOF);
}

TEST(JSONReader, LongInputIsReadAcrossBufferRefills) {
  QString text = QStringLiteral("[");
  for (int i = 0; i < 5000; ++i) text += QStringLiteral("\"\\u00e9x\",");
  text += QStringLiteral("0]");
  Reader reader(text);
  reader.R.ReadBeginArray();
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(reader.R.ReadString(), QString::fromUtf8("\xC3\xA9x"));
  EXPECT_EQ(reader.R.ReadInt64(), 0);
  reader.R.ReadEndArray();
}

}  // namespace
}  // namespace orv
