#include "pkgmgr/utf8_stream_decoder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orv {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Widens the ASCII bytes from src on, as many as lie in whole blocks
// before the first other byte; returns how many it widened. Runs of ASCII
// are most of the output.
qsizetype WidenAsciiBlocks([[maybe_unused]] const unsigned char* src, [[maybe_unused]] qsizetype size,
                           [[maybe_unused]] char16_t* dst) {
  qsizetype done = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; done + 16 <= size; done += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + done));
    if (_mm_movemask_epi8(bytes) != 0) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + done), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + done + 8), _mm_unpackhi_epi8(bytes, zero));
  }
#endif  // elsewhere the plain loops of the caller do it all
  return done;
}

}  // namespace

QString TUtf8StreamDecoder::Decode(QByteArrayView bytes) {
  QString out;
  Decode(bytes, out);
  return out;
}

void TUtf8StreamDecoder::Decode(QByteArrayView bytes, QString& out) {
  // Every byte yields at most two UTF-16 units, plus one for a sequence
  // kept from the previous piece. A buffer of our own only grows, so one
  // used for every piece settles at its largest size.
  const qsizetype bound = 2 * bytes.size() + 2;
  if (!out.isDetached())
    out = QString(bound, Qt::Uninitialized);
  else if (out.size() < bound)
    out.resize(bound);
  char16_t* dst = reinterpret_cast<char16_t*>(out.data());
  char16_t* const start = dst;
  auto reset = [this] {
    codePoint_ = 0;
    needed_ = 0;
    seen_ = 0;
    lower_ = 0x80;
    upper_ = 0xBF;
  };
  const auto* const src = reinterpret_cast<const unsigned char*>(bytes.data());
  for (qsizetype i = 0; i < bytes.size();) {
    const unsigned char byte = src[i];
    if (needed_ == 0) {
      // Output is mostly ASCII: copy a run of it without the state machine.
      if (byte < 0x80) {
        const qsizetype widened = WidenAsciiBlocks(src + i, bytes.size() - i, dst);
        i += widened;
        dst += widened;
        while (i < bytes.size() && src[i] < 0x80) *dst++ = src[i++];
        continue;
      }
      ++i;
      if (byte >= 0xC2 && byte <= 0xDF) {
        needed_ = 1;
        codePoint_ = byte & 0x1F;
      } else if (byte >= 0xE0 && byte <= 0xEF) {
        if (byte == 0xE0) lower_ = 0xA0;  // no overlong forms
        if (byte == 0xED) upper_ = 0x9F;  // no surrogates
        needed_ = 2;
        codePoint_ = byte & 0x0F;
      } else if (byte >= 0xF0 && byte <= 0xF4) {
        if (byte == 0xF0) lower_ = 0x90;
        if (byte == 0xF4) upper_ = 0x8F;  // nothing above U+10FFFF
        needed_ = 3;
        codePoint_ = byte & 0x07;
      } else {
        *dst++ = kReplacement;
      }
      continue;
    }
    if (byte < lower_ || byte > upper_) {
      // The sequence so far is one invalid subpart; this byte starts afresh.
      reset();
      *dst++ = kReplacement;
      continue;
    }
    ++i;
    lower_ = 0x80;
    upper_ = 0xBF;
    codePoint_ = (codePoint_ << 6) | (byte & 0x3F);
    if (++seen_ < needed_) continue;
    if (codePoint_ > 0xFFFF) {
      *dst++ = static_cast<char16_t>(0xD7C0 + (codePoint_ >> 10));
      *dst++ = static_cast<char16_t>(0xDC00 | (codePoint_ & 0x3FF));
    } else {
      *dst++ = static_cast<char16_t>(codePoint_);
    }
    reset();
  }
  out.truncate(dst - start);
}

QString TUtf8StreamDecoder::Finish() {
  if (needed_ == 0) return {};
  *this = TUtf8StreamDecoder();
  return QString(QChar(kReplacement));
}

}  // namespace orv
