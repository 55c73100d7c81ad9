// Decodes arbitrary text and checks that encoding then decoding gives the
// text back.
#include "lib/utils.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using orv::TORVZYNDashUtils;
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  (void)TORVZYNDashUtils::URLDecode(text, true);
  // Lone surrogates have no UTF-8 form, so only well-formed text must
  // survive the round trip.
  const QString roundTrip = TORVZYNDashUtils::URLDecode(TORVZYNDashUtils::URLEncode(text), false);
  if (roundTrip != text && QString::fromUtf8(text.toUtf8()) == text) __builtin_trap();
  return 0;
}
