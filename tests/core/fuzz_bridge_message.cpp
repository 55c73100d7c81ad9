// Fills a bridge message from arbitrary text, as the page could send it.
// Reader errors are expected outcomes; anything else is a fault.
#include "core/bridge_message.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  orv::TORVDashboardBridgeMessage message;
  try {
    orv::TORVZYNDashPersistence::FromJSON(message, text);
  } catch (const orv::Exception&) {
  }
  if (orv::TORVZYNDashPersistence::TypeKey() != QStringLiteral("$type")) __builtin_trap();
  return 0;
}
