#include "ui/options/vendor_pages.h"

namespace orv {

QString TORVDashboardVendorPages::WebSite() const { return Page(QStringLiteral("/")); }

QString TORVDashboardVendorPages::DashboardProduct() const { return Page(QStringLiteral("/products/orv-dashboard")); }

QString TORVDashboardVendorPages::DashboardVersionHistory() const {
  return DashboardProduct() + QStringLiteral("?s=history");
}

QString TORVDashboardVendorPages::DashboardDocumentation() const {
  return Page(QStringLiteral("/documentation/orv-dashboard/getting-started"));
}

QString TORVDashboardVendorPages::DashboardSupport() const {
  return Page(QStringLiteral("/support/forum/orv-dashboard"));
}

QString TORVDashboardVendorPages::KitwrightDocumentation() const {
  return Page(QStringLiteral("/documentation/orv-kitwright"));
}

QString TORVDashboardVendorPages::KitwrightDownload() const {
  return KitwrightDocumentation() + QStringLiteral("/download");
}

QString TORVDashboardVendorPages::KitwrightSupport() const {
  return Page(QStringLiteral("/support/forum/orv-kitwright"));
}

}  // namespace orv
