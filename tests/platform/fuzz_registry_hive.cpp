// Any bytes either fail to parse with ERegistryFormatError or give a
// registry that is written and read back unchanged.
#include "platform/registry_format.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orv;
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  RegistryTree tree;
  try {
    ApplyRegistryFile(ParseRegistryFile(bytes, QStringLiteral("fuzz.reg")), tree);
  } catch (const ERegistryFormatError&) {
    return 0;
  }
  const QByteArray written = FormatRegistryFile(tree);
  RegistryTree again;
  ApplyRegistryFile(ParseRegistryFile(written, QStringLiteral("written.reg")), again);
  if (FormatRegistryFile(again) != written) std::abort();
  return 0;
}
