#pragma once

#include <QWidget>

class QLabel;

namespace orv {

class Shell;
class TORVDashboardVendorPages;

// The options dialog's "About" tab: the vendor's logo, the dashboard's
// version and links to the vendor's pages about the dashboard and the
// package manager.
class TOptionsAboutPage final : public QWidget {
public:
  TOptionsAboutPage(Shell& AShell, const TORVDashboardVendorPages& APages, QWidget* AParent);

  void SetVersion(const QString& AText);

private:
  // A link label named AName that opens AURL.
  QWidget* Link(const QString& AText, const QString& AName, const QString& AURL);

  Shell& FShell;
  QLabel* lbVersion = nullptr;
};

}  // namespace orv
