#include "pkgmgr/core_types.h"

#include <algorithm>

namespace orv {

namespace {

template <class Enum, std::size_t N>
bool TryLookup(const std::array<QStringView, N>& names, QStringView text, Enum& value) {
  const auto found = std::find(names.begin(), names.end(), text);
  if (found == names.end()) return false;
  value = static_cast<Enum>(found - names.begin());
  return true;
}

}  // namespace

bool TryStringToIDEName(QStringView text, TIDEName& value) { return TryLookup(IDENames, text, value); }

TIDEName StringToIDEName(QStringView text) {
  TIDEName value = UnknownIDEName;
  TryLookup(IDENames, text, value);
  return value;
}

TPlatform StringToPlatform(QStringView text) {
  TPlatform value = UnknownPlatform;
  TryLookup(PlatformNames, text, value);
  return value;
}

}  // namespace orv
