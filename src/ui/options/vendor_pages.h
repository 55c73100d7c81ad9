#pragma once

#include <QString>

namespace orv {

// The vendor's pages the options dialog links to, on the web site the
// application uses (scheme, host and port, without a trailing slash).
class TORVDashboardVendorPages {
public:
  explicit TORVDashboardVendorPages(QString ASiteURL) : FSiteURL(std::move(ASiteURL)) {}

  QString WebSite() const;
  QString DashboardProduct() const;
  QString DashboardVersionHistory() const;  // the product page with s=history
  QString DashboardDocumentation() const;   // getting started
  QString DashboardSupport() const;
  QString KitwrightDocumentation() const;
  QString KitwrightDownload() const;
  QString KitwrightSupport() const;

private:
  QString Page(const QString& APath) const { return FSiteURL + APath; }

  QString FSiteURL;
};

}  // namespace orv
