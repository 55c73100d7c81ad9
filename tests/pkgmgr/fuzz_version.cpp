// Parses arbitrary text as a version: it either fails with the conversion
// error or gives a version whose full text parses back to the same value.
#include "pkgmgr/version.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  try {
    const orv::TVersion version = orv::TVersion::FromString(text);
    if (orv::TVersion::FromString(version.ToString()) != version) __builtin_trap();
    if (!version.IsNull() && orv::TVersion::FromString(version.Normalized()) != version) __builtin_trap();
  } catch (const orv::EConvertError&) {
  }
  return 0;
}
