#include "pkgmgr/line_splitter.h"

namespace orv {

TLineSplitter::TLineSplitter(QStringList& lines) : lines_(lines) { lines_.clear(); }

void TLineSplitter::Append(QStringView text) {
  if (text.isEmpty()) return;
  qsizetype i = 0;
  if (afterCR_ && text[0] == u'\n') i = 1;
  afterCR_ = false;
  const qsizetype n = text.size();
  while (i < n) {
    qsizetype end = i;
    while (end < n && text[end] != u'\r' && text[end] != u'\n') ++end;
    AppendToOpenLine(text.mid(i, end - i));
    if (end == n) break;
    EndLine();
    if (text[end] == u'\r') {
      if (end + 1 < n && text[end + 1] == u'\n')
        ++end;
      else if (end + 1 == n)
        afterCR_ = true;
    }
    i = end + 1;
  }
}

void TLineSplitter::AppendToOpenLine(QStringView text) {
  if (text.isEmpty()) return;
  if (lineOpen_) {
    lines_.last().append(text);
  } else {
    lines_.append(text.toString());
    lineOpen_ = true;
  }
}

void TLineSplitter::EndLine() {
  if (lineOpen_)
    lineOpen_ = false;
  else
    lines_.append(QString());
}

}  // namespace orv
