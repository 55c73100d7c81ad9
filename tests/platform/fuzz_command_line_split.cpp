// Any text quoted as one argument comes back unchanged from the split,
// and splitting any command line never crashes.
#include "platform/command_line_split.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orv;
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  SplitCommandLine(text);
  const QStringList args = SplitCommandLine(QStringLiteral("prog ") + QuoteArgument(text) + QStringLiteral(" end"));
  if (args != QStringList({QStringLiteral("prog"), text, QStringLiteral("end")})) std::abort();
  return 0;
}
