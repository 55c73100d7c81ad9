#pragma once

#include <atomic>
#include <cstdint>

namespace orv {

// What the dashboard is busy with, one bit each in TORVDashboardStatuses.
enum TORVDashboardStatus : std::uint8_t { sDownloading, sInstalling, sRunning };

// The controller's activity set in one byte (sDownloading as bit 0). The
// downloads and the package manager change it on the UI thread; any thread
// may read it.
class TORVDashboardStatuses {
public:
  std::uint8_t Value() const { return FBits.load(); }
  bool Has(TORVDashboardStatus AStatus) const { return FBits.load() & (1u << AStatus); }
  void Include(TORVDashboardStatus AStatus) { FBits.fetch_or(std::uint8_t(1u << AStatus)); }
  void Exclude(TORVDashboardStatus AStatus) { FBits.fetch_and(std::uint8_t(~(1u << AStatus))); }

private:
  std::atomic<std::uint8_t> FBits{0};
};

}  // namespace orv
