#pragma once

#include "pkgmgr/core_types.h"
#include "pkgmgr/version.h"

#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace orv {

// An owning list of products in insertion order, looked up by exact id.
template <class T>
class TOwnedProductList {
public:
  T& Add(std::unique_ptr<T> item) {
    FItems.push_back(std::move(item));
    return *FItems.back();
  }
  // The first item whose Id equals productId (case-sensitive), or nullptr.
  T* Find(const QString& productId) const {
    for (const auto& item : FItems)
      if (item->Id() == productId) return item.get();
    return nullptr;
  }
  void RemoveAt(std::size_t index) { FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index)); }
  void Clear() { FItems.clear(); }
  std::size_t size() const { return FItems.size(); }
  bool empty() const { return FItems.empty(); }
  T& operator[](std::size_t index) const { return *FItems[index]; }

private:
  std::vector<std::unique_ptr<T>> FItems;
};

// Build state of a product for one IDE and platform.
class TProductPlatformInfo {
public:
  bool IsBuilt() const { return FIsBuilt; }
  void SetIsBuilt(bool value) { FIsBuilt = value; }
  bool IsRegistered() const { return FIsRegistered; }
  void SetIsRegistered(bool value) { FIsRegistered = value; }

private:
  bool FIsBuilt = false;
  bool FIsRegistered = false;
};

// Per-platform details of a product for one IDE.
class TProductIDEInfo {
public:
  using TPlatformInfoMap = std::map<TPlatform, std::unique_ptr<TProductPlatformInfo>>;

  // The entry for the platform, created empty on first use.
  TProductPlatformInfo& PlatformInfo(TPlatform platform);
  const TPlatformInfoMap& PlatformInfoMap() const { return FPlatformInfoMap; }

private:
  TPlatformInfoMap FPlatformInfoMap;
};

// One product as the package manager's local or remote list reports it.
class TProductInfo {
public:
  using TIDEInfoMap = std::map<TIDEName, std::unique_ptr<TProductIDEInfo>>;

  const QString& Id() const { return FId; }
  void SetId(const QString& value) { FId = value; }
  const QString& Name() const { return FName; }
  void SetName(const QString& value) { FName = value; }
  const QString& Channel() const { return FChannel; }
  void SetChannel(const QString& value) { FChannel = value; }
  bool Local() const { return FLocal; }
  void SetLocal(bool value) { FLocal = value; }
  const TVersion& Version() const { return FVersion; }
  void SetVersion(const TVersion& value) { FVersion = value; }
  const QString& VendorId() const { return FVendorId; }
  void SetVendorId(const QString& value) { FVendorId = value; }

  // The entry for the IDE, created empty on first use (also for
  // UnknownIDEName).
  TProductIDEInfo& IDEInfo(TIDEName ideName);
  const TIDEInfoMap& IDEInfoMap() const { return FIDEInfoMap; }
  // True when at least one IDE entry exists, recognised or not.
  bool HasIDEInfo() const { return !FIDEInfoMap.empty(); }

private:
  QString FId;
  QString FName;
  QString FChannel;
  bool FLocal = false;
  TIDEInfoMap FIDEInfoMap;
  TVersion FVersion;
  QString FVendorId;
};

using TProductInfoList = TOwnedProductList<TProductInfo>;

enum class TProductStatus : std::uint8_t { NotInstalled, Available, Installed };

// One merged product row as the dashboard sees it.
class TGUIProduct {
public:
  const QString& Id() const { return FId; }
  void SetId(const QString& value) { FId = value; }
  const TVersion& LocalVersion() const { return FLocalVersion; }
  void SetLocalVersion(const TVersion& value) { FLocalVersion = value; }
  const TVersion& RemoteVersion() const { return FRemoteVersion; }
  void SetRemoteVersion(const TVersion& value) { FRemoteVersion = value; }
  const QString& Name() const { return FName; }
  void SetName(const QString& value) { FName = value; }
  TProductStatus Status() const { return FStatus; }
  void SetStatus(TProductStatus value) { FStatus = value; }
  bool HasFetchInfo() const { return FHasFetchInfo; }
  void SetHasFetchInfo(bool value) { FHasFetchInfo = value; }
  const QString& VendorId() const { return FVendorId; }
  void SetVendorId(const QString& value) { FVendorId = value; }

  // Name, unless it is blank; then Id.
  const QString& DisplayName() const;
  // The repository offers a newer version than the installed one (both
  // known).
  bool IsOutdated() const;

private:
  QString FId;
  TVersion FLocalVersion;
  TVersion FRemoteVersion;
  QString FName;
  TProductStatus FStatus = TProductStatus::NotInstalled;
  bool FHasFetchInfo = false;
  QString FVendorId;
};

// The environment's rows; it owns them.
using TGUIProductList = TOwnedProductList<TGUIProduct>;

}  // namespace orv
