#pragma once

#include <QByteArrayView>
#include <QString>

namespace orv {

// Decodes UTF-8 that arrives in pieces. A sequence cut at the end of one
// piece is completed by the next; invalid bytes become U+FFFD, one per
// maximal invalid subpart (the replacement rule of the Unicode standard).
// QStringDecoder is not used because Qt 6.4 drops the byte that follows a
// sequence left incomplete at the end of a piece.
class TUtf8StreamDecoder {
public:
  // Decodes the next piece; an incomplete sequence at its end is kept.
  QString Decode(QByteArrayView bytes);
  // The same into out, replacing its text; reuses out's buffer when no
  // other string shares it, so decoding piece after piece allocates once.
  void Decode(QByteArrayView bytes, QString& out);
  // Ends the stream: a kept incomplete sequence becomes U+FFFD.
  QString Finish();

private:
  char32_t codePoint_ = 0;
  int needed_ = 0;  // continuation bytes still expected
  int seen_ = 0;
  unsigned char lower_ = 0x80;  // range allowed for the next continuation
  unsigned char upper_ = 0xBF;
};

}  // namespace orv
