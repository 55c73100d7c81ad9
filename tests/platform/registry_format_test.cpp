#include "platform/registry_format.h"
#include "support/error_of.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

RegistryTree parse(const QByteArray& text) {
  RegistryTree tree;
  ApplyRegistryFile(ParseRegistryFile(text, QStringLiteral("test.reg")), tree);
  return tree;
}

const QStringList kSettingsPath{QStringLiteral("HKEY_CURRENT_USER"), QStringLiteral("Software"),
                                QStringLiteral("orvsoftware"), QStringLiteral("ORV Dashboard")};

// Every value form, as the formatter writes it: reading and writing it again
// gives the same bytes.
const QByteArray kEveryType =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard]\n"
    "@=\"default\"\n"
    "\"USERNAME\"=\"user@example.com\"\n"
    "\"DOWNLOADDIR\"=\"C:\\\\Temp\\\\\\\"quoted\\\"\"\n"
    "\"Empty\"=\"\"\n"
    "\"Unicode\"=\"\xc3\x84rger \xe2\x82\xac \xf0\x9f\x98\x80\"\n"
    "\"SILENT\"=dword:00000001\n"
    "\"Max\"=dword:ffffffff\n"
    "\"Expand\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\n"
    "\"Binary\"=hex:00,ff,10\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
    "\"Qword\"=hex(b):01,00,00,00,00,00,00,00\n"
    "\"None\"=hex(0):\n"
    "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\\\n"
    "  15,16,17\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\orvsoftware\\Widget Pack]\n"
    "\"InstallDir\"=\"/opt/widget\"\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Embarcadero\\BDS\\22.0\\Globals]\n"
    "\n";

TEST(RegistryFormat, EveryValueTypeSurvivesARoundTrip) {
  const RegistryTree tree = parse(kEveryType);
  EXPECT_EQ(FormatRegistryFile(tree), kEveryType);

  const RegistryTreeKey* key = tree.find(kSettingsPath);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->value(QString())->text, QStringLiteral("default"));
  EXPECT_EQ(key->value(QStringLiteral("DOWNLOADDIR"))->text, QStringLiteral("C:\\Temp\\\"quoted\""));
  EXPECT_EQ(key->value(QStringLiteral("Unicode"))->text, QStringLiteral("Ärger € \U0001F600"));
  EXPECT_EQ(key->value(QStringLiteral("Max"))->number, 0xffffffffu);
  EXPECT_EQ(key->value(QStringLiteral("Expand"))->type, kRegExpandSz);
  EXPECT_EQ(RegistryUtf16Text(*RegistryHexBytes(key->value(QStringLiteral("Expand"))->raw)), QStringLiteral("%TEMP%"));
  EXPECT_EQ(RegistryHexBytes(key->value(QStringLiteral("Long"))->raw)->size(), 24);
  EXPECT_EQ(key->value(QStringLiteral("Qword"))->type, kRegQword);
  EXPECT_NE(tree.find({QStringLiteral("HKEY_CURRENT_USER"), QStringLiteral("Software"), QStringLiteral("Embarcadero"),
                       QStringLiteral("BDS"), QStringLiteral("22.0"), QStringLiteral("Globals")}),
            nullptr);
}

TEST(RegistryFormat, ReadsUtf16WithByteOrderMarkAndCrLf) {
  QString text = QString::fromUtf8(kEveryType);
  text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  QByteArray utf16("\xFF\xFE", 2);
  utf16.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
  EXPECT_EQ(FormatRegistryFile(parse(utf16)), kEveryType);
  EXPECT_EQ(FormatRegistryFile(parse("\xEF\xBB\xBF" + kEveryType)), kEveryType);
}

TEST(RegistryFormat, TextWithLineBreaksIsStoredAsHexString) {
  RegistryTree tree;
  tree.make(kSettingsPath).setValue(RegistryValue::String(QStringLiteral("Folder"), QStringLiteral("a\nb\r\"c")));
  const QByteArray text = FormatRegistryFile(tree);
  EXPECT_TRUE(text.contains("\"Folder\"=hex(1):61,00,0a,00,62,00,0d,00,22,00,63,00,00,00\n")) << text.constData();
  const RegistryValue* value = parse(text).find(kSettingsPath)->value(QStringLiteral("Folder"));
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->type, kRegSz);
  EXPECT_EQ(value->text, QStringLiteral("a\nb\r\"c"));
}

// Found by fuzzing: a NUL inside quoted text was cut off after the rewrite.
TEST(RegistryFormat, TextWithNulOrUnpairedSurrogatesKeepsEveryUnit) {
  static const char kWithNul[] = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\S]\n\"A\"=\"x\0y\"\n";
  const RegistryTree tree = parse(QByteArray(kWithNul, sizeof(kWithNul) - 1));
  const QStringList path{QStringLiteral("HKEY_CURRENT_USER"), QStringLiteral("S")};
  ASSERT_EQ(tree.find(path)->value(QStringLiteral("A"))->text, QString(QStringLiteral("x\0y")));

  RegistryTree written;
  written.make(path).setValue(RegistryValue::String(QStringLiteral("A"), QString(QStringLiteral("x\0y"))));
  written.make(path).setValue(RegistryValue::String(QStringLiteral("B"), QString(QChar(0xD800)) + QStringLiteral("b")));
  const RegistryTree again = parse(FormatRegistryFile(written));
  EXPECT_EQ(again.find(path)->value(QStringLiteral("A"))->text, QString(QStringLiteral("x\0y")));
  EXPECT_EQ(again.find(path)->value(QStringLiteral("B"))->text, QString(QChar(0xD800)) + QStringLiteral("b"));
}

TEST(RegistryFormat, NamesCompareCaseInsensitivelyAndKeepTheirFirstSpelling) {
  const RegistryTree tree = parse(
      "Windows Registry Editor Version 5.00\n"
      "[hkey_current_user\\Software\\ORVsoftware]\n"
      "\"Path\"=\"one\"\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\orvsoftware]\n"
      "\"PATH\"=\"two\"\n");
  const RegistryTreeKey* key =
      tree.find({QStringLiteral("hkey_current_user"), QStringLiteral("software"), QStringLiteral("OrvSoftware")});
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->name(), QStringLiteral("ORVsoftware"));
  ASSERT_EQ(key->values().size(), 1u);
  EXPECT_EQ(key->values()[0].name, QStringLiteral("Path"));
  EXPECT_EQ(key->values()[0].text, QStringLiteral("two"));
  EXPECT_EQ(tree.subkeys()[0]->name(), QStringLiteral("HKEY_CURRENT_USER"));
}

TEST(RegistryFormat, DeletionFormsRemoveKeysAndValues) {
  const RegistryTree tree = parse(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\Software\\A\\Child]\n"
      "\"x\"=\"1\"\n"
      "[HKEY_CURRENT_USER\\Software\\B]\n"
      "\"keep\"=\"1\"\n"
      "\"drop\"=\"1\"\n"
      "; a comment\n"
      "[-HKEY_CURRENT_USER\\Software\\A]\n"
      "[HKEY_CURRENT_USER\\Software\\B]\n"
      "\"drop\"=-\n");
  EXPECT_EQ(tree.find({QStringLiteral("HKEY_CURRENT_USER"), QStringLiteral("Software"), QStringLiteral("A")}), nullptr);
  const RegistryTreeKey* b =
      tree.find({QStringLiteral("HKEY_CURRENT_USER"), QStringLiteral("Software"), QStringLiteral("B")});
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->values().size(), 1u);
  EXPECT_EQ(b->values()[0].name, QStringLiteral("keep"));
}

TEST(RegistryFormat, BlankTextIsAnEmptyRegistry) {
  EXPECT_TRUE(parse("").subkeys().empty());
  EXPECT_TRUE(parse(" \n\r\n").subkeys().empty());
  EXPECT_EQ(FormatRegistryFile(RegistryTree()), QByteArray("Windows Registry Editor Version 5.00\n\n"));
}

struct Malformed {
  const char* text;
  int line;
};

TEST(RegistryFormat, MalformedTextNamesItsLine) {
  const QByteArray header = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software]\n";
  const Malformed cases[] = {
      {"REGEDIT4\n", 1},
      {"\nWindows Registry Editor Version 4.00\n", 2},
      {"Windows Registry Editor Version 5.00\n\"a\"=\"b\"\n", 2},
      {"Windows Registry Editor Version 5.00\n[HKEY_NOWHERE\\x]\n", 2},
      {"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\x\n", 2},
      {"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\\\x]\n", 2},
      {"Windows Registry Editor Version 5.00\n[]\n", 2},
  };
  const Malformed valueCases[] = {
      {"\"a\"=\"C:\\Temp\"\n", 3},
      {"\"a\"=\"open\n", 3},
      {"\"a\"=\"b\" trailing\n", 3},
      {"\"a\" \"b\"\n", 3},
      {"\"a\"=dword:123456789\n", 3},
      {"\"a\"=dword:xyz\n", 3},
      {"\"a\"=dword:\n", 3},
      {"\"a\"=hex:0g\n", 3},
      {"\"a\"=hex:100\n", 3},
      {"\"a\"=hex:01,\n", 3},
      {"\"a\"=hex(zz):01\n", 3},
      {"\"a\"=hex(1):41\n", 3},
      {"\"ok\"=\"1\"\n\"a\"=hex:01,\\\n", 4},
      {"\"a\"=text\n", 3},
      {"garbage\n", 3},
      {"\"ok\"=\"1\"\n\"bad\xff\"=\"x\"\n", 4},
  };
  auto check = [](const QByteArray& text, int line) {
    const test::Error error = test::errorOf([&] { ParseRegistryFile(text, QStringLiteral("/x/test.reg")); });
    EXPECT_EQ(error.first, QStringLiteral("ERegistryFormatError")) << text.constData();
    const QString expected = QStringLiteral("Malformed registry file '/x/test.reg', line %1:").arg(line);
    EXPECT_TRUE(error.second.startsWith(expected)) << qPrintable(error.second) << " for " << text.constData();
  };
  for (const Malformed& c : cases) check(c.text, c.line);
  for (const Malformed& c : valueCases) check(header + c.text, c.line);

  const QString loneSurrogate = QStringLiteral("Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\S]\r\n\"") +
                                QChar(0xDC00) + QStringLiteral("\"=\"1\"\r\n");
  QByteArray utf16("\xFF\xFE", 2);
  utf16.append(reinterpret_cast<const char*>(loneSurrogate.utf16()), loneSurrogate.size() * 2);
  check(utf16, 3);

  QByteArray oddUtf16("\xFF\xFE", 2);
  oddUtf16.append("W\0x", 3);
  EXPECT_THROW(ParseRegistryFile(oddUtf16, QStringLiteral("u.reg")), ERegistryFormatError);
}

}  // namespace
}  // namespace orv
