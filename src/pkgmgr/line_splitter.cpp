#include "pkgmgr/line_splitter.h"

namespace orv {

class TLineSplitter::TListSink final : public TSink {
public:
  explicit TListSink(QStringList& lines) : lines_(lines) { lines_.clear(); }
  void AppendToLine(QStringView text) override {
    if (lineOpen_) {
      lines_.last().append(text);
    } else {
      lines_.append(text.toString());
      lineOpen_ = true;
    }
  }
  void EndLine() override {
    if (!lineOpen_) lines_.append(QString());
    lineOpen_ = false;
  }

private:
  QStringList& lines_;
  bool lineOpen_ = false;
};

TLineSplitter::TLineSplitter(TSink& sink) : sink_(sink) {}

TLineSplitter::TLineSplitter(QStringList& lines)
    : ownSink_(std::make_unique<TListSink>(lines)), sink_(*ownSink_) {}

TLineSplitter::~TLineSplitter() = default;

void TLineSplitter::Append(QStringView text) {
  if (text.isEmpty()) return;
  const char16_t* const begin = text.utf16();
  const char16_t* const end = begin + text.size();
  const char16_t* at = begin;
  if (afterCR_ && *at == u'\n') ++at;
  afterCR_ = false;
  while (at < end) {
    const char16_t* lineEnd = at;
    while (lineEnd < end && *lineEnd != u'\r' && *lineEnd != u'\n') ++lineEnd;
    if (lineEnd > at) {
      sink_.AppendToLine(QStringView(at, lineEnd));
      lineOpen_ = true;
    }
    if (lineEnd == end) break;
    sink_.EndLine();
    lineOpen_ = false;
    at = lineEnd + 1;
    if (*lineEnd == u'\r') {
      if (at < end && *at == u'\n')
        ++at;
      else if (at == end)
        afterCR_ = true;
    }
  }
}

}  // namespace orv
