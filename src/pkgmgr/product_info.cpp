#include "pkgmgr/product_info.h"

namespace orv {

namespace {

template <class Map>
typename Map::mapped_type::element_type& GetOrCreate(Map& map, typename Map::key_type key) {
  auto& entry = map[key];
  if (!entry) entry = std::make_unique<typename Map::mapped_type::element_type>();
  return *entry;
}

}  // namespace

TProductPlatformInfo& TProductIDEInfo::PlatformInfo(TPlatform platform) {
  return GetOrCreate(FPlatformInfoMap, platform);
}

TProductIDEInfo& TProductInfo::IDEInfo(TIDEName ideName) { return GetOrCreate(FIDEInfoMap, ideName); }

const QString& TGUIProduct::DisplayName() const { return FName.trimmed().isEmpty() ? FId : FName; }

bool TGUIProduct::IsOutdated() const {
  return !FRemoteVersion.IsNull() && !FLocalVersion.IsNull() && FRemoteVersion > FLocalVersion;
}

}  // namespace orv
