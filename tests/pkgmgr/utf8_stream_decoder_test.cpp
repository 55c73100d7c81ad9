#include "pkgmgr/utf8_stream_decoder.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cctype>
#include <vector>

namespace orv {
namespace {

struct DecodeCase {
  const char* name;
  std::vector<QByteArray> pieces;
  QString expected;  // after Finish
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class Utf8StreamDecoderTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8StreamDecoderTest, DecodesAcrossPieces) {
  TUtf8StreamDecoder decoder;
  QString text;
  for (const QByteArray& piece : GetParam().pieces) text += decoder.Decode(piece);
  text += decoder.Finish();
  EXPECT_EQ(text, GetParam().expected) << GetParam().name;
}

// One buffer for every piece, as the command line uses it: a result that
// a caller kept stays as it was, and a shorter piece leaves nothing of a
// longer one behind.
TEST(Utf8StreamDecoderBufferTest, ReusedBufferLeavesKeptResultsAlone) {
  TUtf8StreamDecoder decoder;
  QString buffer;
  decoder.Decode("long piece \xe2\x94", buffer);
  const QString kept = buffer;
  decoder.Decode(
      "\x80"
      "ab",
      buffer);
  EXPECT_EQ(kept, "long piece ");
  EXPECT_EQ(buffer, QStringLiteral(u"\u2500ab"));
  decoder.Decode("c", buffer);
  EXPECT_EQ(buffer, "c");
  EXPECT_EQ(kept, "long piece ");
}

// ASCII runs are widened a block at a time: a sequence or an invalid byte
// at every place of a long run ends the block there.
TEST(Utf8StreamDecoderBufferTest, DecodesSequencesAtEveryPlaceInLongRuns) {
  const QByteArray run = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEF";
  const QByteArray marks[] = {"\xc3\xa9", "\xe2\x94\x80", "\xf0\x9f\x98\x80", "\xff"};
  for (const QByteArray& mark : marks) {
    for (qsizetype at = 0; at <= run.size(); ++at) {
      const QByteArray bytes = run.left(at) + mark + run.mid(at) + run;
      TUtf8StreamDecoder decoder;
      EXPECT_EQ(decoder.Decode(bytes) + decoder.Finish(), QString::fromUtf8(bytes))
          << mark.toHex().constData() << " at " << at;
    }
  }
}

const QString kFFFD(QChar(0xFFFD));

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8StreamDecoderTest,
    testing::Values(DecodeCase{"ascii", {"abc", "def"}, "abcdef"},
                    DecodeCase{"two-byte split", {"x\xc3", "\xa9y"}, QStringLiteral("x\u00e9y")},
                    DecodeCase{"three-byte split twice", {"\xe2", "\x94", "\x80"}, QStringLiteral("\u2500")},
                    DecodeCase{"four-byte split", {"\xf0\x9f", "\x98\x80!"}, QStringLiteral("\U0001F600!")},
                    // The byte after a cut sequence must survive (Qt 6.4 drops it).
                    DecodeCase{"cut sequence then ascii", {"\xc3", "AB"}, kFFFD + "AB"},
                    DecodeCase{"cut at end of stream", {"ok\xe2\x94"}, "ok" + kFFFD},
                    DecodeCase{"invalid bytes",
                               {"a\xff\xfe"
                                "b"},
                               "a" + kFFFD + kFFFD + "b"},
                    DecodeCase{"overlong", {"\xc0\xaf"}, kFFFD + kFFFD},
                    DecodeCase{"surrogate", {"\xed\xa0\x80x"}, kFFFD + kFFFD + kFFFD + "x"},
                    DecodeCase{"above U+10FFFF", {"\xf4\x90\x80\x80"}, kFFFD + kFFFD + kFFFD + kFFFD},
                    DecodeCase{"truncated then new lead", {"\xe2\x94\xe2\x94\x80"}, kFFFD + QStringLiteral("\u2500")},
                    DecodeCase{"stray continuation", {"\x80"}, kFFFD}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

}  // namespace
}  // namespace orv
