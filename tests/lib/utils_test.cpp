#include "lib/utils.h"

#include <QDir>
#include <QLocale>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace orv {
namespace {

using U = TORVZYNDashUtils;
using nlohmann::ordered_json;

struct UrlCase {
  const char* input;  // UTF-8
  const char* expected;
};

TEST(Utils, URLEncodeKeepsOnlyUnreservedCharacters) {
  const UrlCase cases[] = {
      {"", ""},
      {"a b&c", "a%20b%26c"},
      {"\xC3\x84\xC3\x96", "%C3%84%C3%96"},
      {"~/+", "%7E%2F%2B"},
      {"Az09-._", "Az09-._"},
      {"\xF0\x9F\x98\x80", "%F0%9F%98%80"},  // outside the BMP: four bytes
  };
  for (const auto& c : cases)
    EXPECT_EQ(U::URLEncode(QString::fromUtf8(c.input)), QString::fromUtf8(c.expected)) << c.input;
}

TEST(Utils, URLDecodeEdgeCases) {
  const struct {
    const char* input;
    bool trim;
    const char* expected;
  } cases[] = {
      {"", true, ""},
      {"%7B%22EventName%22%3A%22GETSTATUS%22%7D", true, "{\"EventName\":\"GETSTATUS\"}"},
      {"100%", true, "100"},  // '%' at the end is dropped
      {"1%4", true, "14"},    // '%' with one character after it: dropped
      {"a%zzb", true, "ab"},  // invalid escape consumes three characters
      {"a%7eb", true, "ab"},  // lower-case hex is no escape
      {"a+b", true, "a+b"},   // '+' is not a space
      {"%20x%20", true, "x"},
      {"%20x%20", false, " x "},
      {"%09%00x%1F", true, "x"},  // every character below 33 is trimmed
      {"%C3%A9", true, "\xC3\xA9"},
      {"%C3", true, "\xEF\xBF\xBD"},                                                // invalid UTF-8 becomes U+FFFD
      {"\xE2\x82\xAC%20\xF0\x9F\x98\x80", false, "\xE2\x82\xAC \xF0\x9F\x98\x80"},  // unencoded
  };
  for (const auto& c : cases)
    EXPECT_EQ(U::URLDecode(QString::fromUtf8(c.input), c.trim), QString::fromUtf8(c.expected)) << c.input;
}

TEST(Utils, URLDecodeReadsLatin1CharactersAsBytes) {
  // Characters up to U+00FF stand for the byte of their code, so they can
  // complete a percent-encoded sequence.
  EXPECT_EQ(U::URLDecode(QString(QChar(0xC3)) + QStringLiteral("%A9"), false), QString::fromUtf8("\xC3\xA9"));
}

TEST(Utils, URLEncodedTextDecodesToItself) {
  const QString texts[] = {
      QStringLiteral(" a b "),
      QString::fromUtf8("ÄÖü ß € \xF0\x9F\x98\x80 %41 + ~"),
      QStringLiteral("{\"EventName\": \"GETSTATUS\", \"ID\": \"C:\\\\x\\\\\"}"),
      QString(QChar(0x01)) + QStringLiteral("\t\n"),
  };
  for (const QString& text : texts) EXPECT_EQ(U::URLDecode(U::URLEncode(text), false), text) << text.toStdString();
}

TEST(Utils, AddBackslashAppendsThePlatformDelimiterOnce) {
  const QString d(U::PathDelimiter);
  EXPECT_EQ(U::AddBackslash(QString()), QString());
  EXPECT_EQ(U::AddBackslash(QStringLiteral("/tmp")), QStringLiteral("/tmp") + d);
  EXPECT_EQ(U::AddBackslash(QStringLiteral("/tmp") + d), QStringLiteral("/tmp") + d);
}

TEST(Utils, KnownFolders) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QByteArray old = qgetenv("TMPDIR");
  qputenv("TMPDIR", dir.path().toUtf8());
  const QString temp = U::GetTempPath();
  qputenv("TMPDIR", old);
  EXPECT_EQ(temp, dir.path() + U::PathDelimiter);

  const QString documents = U::GetDocumentsPath();
  EXPECT_FALSE(documents.endsWith(U::PathDelimiter));
  EXPECT_EQ(QDir(documents), QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)));
}

class FakeDialogs : public Dialogs {
public:
  MOCK_METHOD(int, Message, (const QString&, TMsgDlgType, TMsgDlgButtons, int), (override));
};

class FakeShell : public Shell {
public:
  MOCK_METHOD(void, OpenURL, (const QString&), (override));
  MOCK_METHOD(void, OpenFile, (const QString&), (override));
  MOCK_METHOD(bool, OpenTerminal, (const QString&), (override));
};

TEST(Utils, MessagesAndShellCallsGoThroughThePorts) {
  FakeDialogs dialogs;
  EXPECT_CALL(dialogs, Message(QStringLiteral("info"), mtInformation, TMsgDlgButtons{mbOK}, 0))
      .WillOnce(testing::Return(mrOk));
  EXPECT_CALL(dialogs, Message(QStringLiteral("sure?"), mtWarning, (TMsgDlgButtons{mbYes, mbNo}), 7))
      .WillOnce(testing::Return(mrNo));
  EXPECT_EQ(U::Message(dialogs, QStringLiteral("info")), mrOk);
  EXPECT_EQ(U::Message(dialogs, QStringLiteral("sure?"), mtWarning, {mbYes, mbNo}, 7), mrNo);

  FakeShell shell;
  EXPECT_CALL(shell, OpenURL(QStringLiteral("https://example.org/")));
  EXPECT_CALL(shell, OpenFile(QStringLiteral("/tmp/a b")));
  U::OpenURL(shell, QStringLiteral("https://example.org/"));
  U::OpenFile(shell, QStringLiteral("/tmp/a b"));
}

TEST(Utils, ParseJSONRejectsInvalidTextWithoutThrowing) {
  EXPECT_FALSE(U::ParseJSON(QStringLiteral("{\"a\":")).has_value());
  EXPECT_FALSE(U::ParseJSON(QString()).has_value());
  EXPECT_FALSE(U::ParseJSON(QStringLiteral("{} {}")).has_value());
  for (const char* broken : {"[1.5,", "[01]", "[1e]", "[-]", "[1 2]", "[\"1\" 2]", "1.5.0"})
    EXPECT_FALSE(U::ParseJSON(QString::fromUtf8(broken)).has_value()) << broken;
  const auto value = U::ParseJSON(QStringLiteral("[true]"));
  ASSERT_TRUE(value.has_value());
  EXPECT_TRUE((*value)[0].is_boolean());
}

TEST(Utils, GetJSONPropGivesMemberTexts) {
  const auto doc =
      U::ParseJSON(QString::fromUtf8(R"({"s":"a\"é","i":-42,"big":18446744073709551615,"f":1.5,"t":true,"n":null,)"
                                     R"("o":{"x":1},"a":[1],"Case":"x"})"));
  ASSERT_TRUE(doc.has_value());
  const ordered_json* root = &*doc;
  const struct {
    const char* name;
    const char* expected;
  } cases[] = {
      {"s", "a\"\xC3\xA9"},
      {"i", "-42"},
      {"big", "18446744073709551615"},
      {"f", "1.5"},
      {"t", "true"},
      {"n", ""},
      {"o", ""},
      {"a", ""},
      {"missing", ""},
      {"case", ""},  // names are case-sensitive
  };
  for (const auto& c : cases)
    EXPECT_EQ(U::GetJSONProp(root, QString::fromUtf8(c.name)), QString::fromUtf8(c.expected)) << c.name;
  EXPECT_EQ(U::GetJSONProp(nullptr, QStringLiteral("s")), QString());
  EXPECT_EQ(U::GetJSONValue(U::GetJSONValue(root, QStringLiteral("o")), QStringLiteral("x")), &(*doc)["o"]["x"]);
  EXPECT_EQ(U::GetJSONValue(U::GetJSONValue(root, QStringLiteral("a")), QStringLiteral("0")), nullptr);
}

// A number's text is its digits as written, not the JSON library's
// rendering of the value it stands for.
TEST(Utils, GetJSONPropGivesNumbersAsWritten) {
  const struct {
    const char* value;  // JSON text of the member
    const char* expected;
  } cases[] = {
      {"1.50", "1.50"},
      {"1E3", "1E3"},
      {"-0", "-0"},
      {"-0.0", "-0.0"},
      {"12345678901234567890123", "12345678901234567890123"},
      {"1e-7", "1e-7"},
      {"2.5E+10", "2.5E+10"},
      {"0.1", "0.1"},
      {"42", "42"},
      {"-42", "-42"},
      {"0", "0"},
      {"18446744073709551615", "18446744073709551615"},
      {"-9223372036854775808", "-9223372036854775808"},
      {R"("1.50")", "1.50"},
      {R"("")", ""},
      {"true", "true"},
      {"false", "false"},
      {"null", ""},
  };
  for (const auto& c : cases) {
    const auto doc = U::ParseJSON(QStringLiteral("{\"v\": %1}").arg(QString::fromUtf8(c.value)));
    ASSERT_TRUE(doc.has_value()) << c.value;
    EXPECT_EQ(U::GetJSONProp(&*doc, QStringLiteral("v")), QString::fromUtf8(c.expected)) << c.value;
  }
}

// Numbers anywhere in the tree keep their own texts, whatever strings with
// digits, quotes and escapes stand between them.
TEST(Utils, ParseJSONKeepsEveryNumbersText) {
  const auto doc = U::ParseJSON(
      QString::fromUtf8(R"({"a":[1.0,"2.0 \"3.0\" \\",{"b":-4E0}],"c\"5":"é6","d":7.00,"e":[],"f":8e+0})"));
  ASSERT_TRUE(doc.has_value());
  const ordered_json* a = U::GetJSONValue(&*doc, QStringLiteral("a"));
  EXPECT_EQ(U::GetJSONArraySize(a), 3);
  EXPECT_EQ(U::GetJSONProp(U::GetJSONArrayItem(a, 2), QStringLiteral("b")), QStringLiteral("-4E0"));
  EXPECT_EQ(*U::GetJSONArrayItem(a, 0), "1.0");
  EXPECT_EQ(U::GetJSONProp(&*doc, QStringLiteral("c\"5")), QString::fromUtf8("é6"));
  EXPECT_EQ(U::GetJSONProp(&*doc, QStringLiteral("d")), QStringLiteral("7.00"));
  EXPECT_EQ(U::GetJSONProp(&*doc, QStringLiteral("f")), QStringLiteral("8e+0"));
}

TEST(Utils, JSONArrayAccess) {
  const auto doc = U::ParseJSON(QStringLiteral(R"({"a":["x","y"],"o":{"k":1}})"));
  ASSERT_TRUE(doc.has_value());
  const ordered_json* array = U::GetJSONValue(&*doc, QStringLiteral("a"));
  EXPECT_EQ(U::GetJSONArraySize(array), 2);
  EXPECT_EQ(*U::GetJSONArrayItem(array, 1), "y");
  EXPECT_EQ(U::GetJSONArrayItem(array, 2), nullptr);
  EXPECT_EQ(U::GetJSONArrayItem(array, -1), nullptr);
  EXPECT_EQ(U::GetJSONArraySize(U::GetJSONValue(&*doc, QStringLiteral("o"))), 0);
  EXPECT_EQ(U::GetJSONArrayItem(nullptr, 0), nullptr);
}

TEST(Utils, SplitKeepsEmptyPiecesAndReadsQuotes) {
  const struct {
    const char* input;
    bool clear;
    QStringList expected;
  } cases[] = {
      {"", false, {}},
      {"Name_1.2.3_TRIAL", false, {"Name", "1.2.3", "TRIAL"}},
      {"a__b", false, {"a", "", "b"}},
      {"a__b", true, {"a", "b"}},
      {"a_", false, {"a", ""}},
      {"_", false, {"", ""}},
      {"_a", false, {"", "a"}},
      {" a _ b ", false, {" a ", " b "}},
      {"\"x_y\"_z", false, {"x_y", "z"}},
      {"\"say \"\"hi\"\"\"_z", false, {"say \"hi\"", "z"}},
      {"\"\"_z", false, {"", "z"}},
      {"\"\"_z", true, {"z"}},
      {"\"open_end", false, {"open_end"}},
      {"a\"b_c", false, {"a\"b", "c"}},  // a quote inside a piece is plain text
  };
  for (const auto& c : cases) {
    QStringList pieces{QStringLiteral("stale")};
    U::Split(u'_', QString::fromUtf8(c.input), pieces, c.clear);
    EXPECT_EQ(pieces, c.expected) << c.input << (c.clear ? " (clearing)" : "");
  }
}

TEST(Utils, FormatBytesAsString) {
  QLocale::setDefault(QLocale::c());
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double size;
    const char* expected;
  } cases[] = {
      {-5, ""},
      {-1, ""},
      {std::nan(""), ""},
      {inf, ""},
      {-0.5, "-0.5 Bytes"},
      {0, "0 Bytes"},
      {512, "512 Bytes"},
      {1023.5, "1023.5 Bytes"},
      {1024, "1.00 KB"},
      {1536, "1.50 KB"},
      {1048576, "1.00 MB"},
      {1023.0 * 1024 * 1024, "1023.00 MB"},  // no group separator
      {3.0 * 1024 * 1024 * 1024, "3.00 GB"},
      {std::pow(1024.0, 4), "1.00 TB"},
      {std::pow(1024.0, 5), "1024.00 TB"},  // beyond terabytes the unit stays TB
  };
  for (const auto& c : cases) EXPECT_EQ(U::FormatBytesAsString(c.size), QString::fromUtf8(c.expected)) << c.size;

  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(U::FormatBytesAsString(1536), QStringLiteral("1,50 KB"));
  EXPECT_EQ(U::FormatBytesAsString(2048.0 * 1024 * 1024), QStringLiteral("2,00 GB"));
  QLocale::setDefault(QLocale::c());
}

QStringList* capturedLog = nullptr;

void captureMessage(QtMsgType, const QMessageLogContext& context, const QString& message) {
  if (capturedLog && qstrcmp(context.category, "orv.debug") == 0) capturedLog->append(message);
}

TEST(Utils, LogWritesToTheOrvDebugCategoryOnlyWhenEnabled) {
  QStringList log;
  capturedLog = &log;
  const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
  U::Log(QStringLiteral("hidden"));
  QLoggingCategory::setFilterRules(QStringLiteral("orv.debug.debug=true"));
  U::Log(QStringLiteral("new version detected"));
  QLoggingCategory::setFilterRules(QString());
  qInstallMessageHandler(previous);
  capturedLog = nullptr;
  EXPECT_EQ(log, QStringList{QStringLiteral("new version detected")});
}

}  // namespace
}  // namespace orv
