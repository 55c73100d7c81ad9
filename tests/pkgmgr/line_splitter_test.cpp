#include "pkgmgr/line_splitter.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

// The lines of a whole text: a line ends at CR, LF or CR LF; a final
// break adds no empty line.
QStringList SplitWhole(const QString& text) {
  QStringList lines;
  QString line;
  bool open = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == u'\r' || c == u'\n') {
      lines << line;
      line.clear();
      open = false;
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      line += c;
      open = true;
    }
  }
  if (open) lines << line;
  return lines;
}

// After every piece, the lines equal the split of all text so far, for
// every way of cutting the text into three pieces.
TEST(LineSplitterTest, MatchesSplittingTheWholeTextAtEveryCut) {
  const QStringList texts = {"",         "a",        "\n",        "\r",         "\r\n",      "a\r\nb",
                             "a\r\rb\n", "a\n\r\nb", "\n\nx\r\n", "one\rtwo\n", "x\r\n\r\n", "ab\r\n\ncd\r"};
  for (const QString& text : texts) {
    for (qsizetype cut1 = 0; cut1 <= text.size(); ++cut1) {
      for (qsizetype cut2 = cut1; cut2 <= text.size(); ++cut2) {
        QStringList lines;
        TLineSplitter splitter(lines);
        const qsizetype cuts[] = {0, cut1, cut2, text.size()};
        for (int piece = 0; piece < 3; ++piece) {
          splitter.Append(QStringView(text).mid(cuts[piece], cuts[piece + 1] - cuts[piece]));
          EXPECT_EQ(lines, SplitWhole(text.left(cuts[piece + 1])))
              << text.toStdString() << " cut at " << cut1 << "," << cut2;
        }
      }
    }
  }
}

// Long runs are searched for breaks a block at a time: a break, or a
// character close to one, at every place of a block is found or left, and
// characters above U+7FFF never look like one.
TEST(LineSplitterTest, FindsBreaksAtEveryPlaceInLongRuns) {
  const QString run = QStringLiteral(u"abcdefgh\u00e9\u2500\uFFFDijklmnopqrstuvw");
  const QString marks[] = {QStringLiteral("\n"), QStringLiteral("\r"), QStringLiteral("\r\n"),
                           QStringLiteral("\x0b\x0c\x0e"), QStringLiteral(u"\U0001F600")};
  for (const QString& mark : marks) {
    for (qsizetype at = 0; at <= run.size(); ++at) {
      const QString text = run.left(at) + mark + run.mid(at) + mark + run;
      QStringList lines;
      TLineSplitter splitter(lines);
      splitter.Append(text);
      EXPECT_EQ(lines, SplitWhole(text)) << "mark " << mark.toUtf8().toHex().constData() << " at " << at;
    }
  }
}

}  // namespace
}  // namespace orv
