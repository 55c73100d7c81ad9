#include "pkgmgr/line_splitter.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orv {

namespace {

// The first of the units from p on that could be a line break (CR, the
// highest break, or below), looking at whole blocks only; end of the last
// whole block when none is. Lines are mostly long runs without one.
const char16_t* SkipBlocksAboveCR(const char16_t* p, [[maybe_unused]] const char16_t* end) {
#if defined(__SSE2__)
  const __m128i limit = _mm_set1_epi16(u'\r' + 1);
  const __m128i zero = _mm_setzero_si128();
  for (; end - p >= 8; p += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // limit - unit saturates to 0 for every unit above CR.
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(limit, units), zero)) != 0xFFFF) break;
  }
#endif  // elsewhere the plain loops of the caller do it all
  return p;
}

}  // namespace

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

TLineSplitter::TLineSplitter(QStringList& lines) : ownSink_(std::make_unique<TListSink>(lines)), sink_(*ownSink_) {}

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
    lineEnd = SkipBlocksAboveCR(lineEnd, end);
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
