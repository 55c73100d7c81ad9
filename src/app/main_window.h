#pragma once

#include "core/dashboard_ports.h"

#include <QMainWindow>

#include <memory>

class QPushButton;
class QWidget;

namespace orv {

class TORVDashboardBrowser;

// The application's one window: the dashboard page fills it, a hidden top
// panel holds "Force Reload" and "Options" (the options dialog without the
// package manager's parts the page's dialog has), and closing asks first
// while the dashboard is still working.
class TFrmDashboardApp final : public QMainWindow {
public:
  TFrmDashboardApp(const TORVDashboardPorts& APorts, const QString& ASiteURL, const QString& AApiURL);
  ~TFrmDashboardApp() override;

  TORVDashboardBrowser& Dashboard() { return *FORVDashboardBrowser; }
  QPushButton* OptionsButton() const { return Button2; }

protected:
  void closeEvent(QCloseEvent* AEvent) override;

private:
  void ForceReload();
  void ShowOptions();

  Dialogs& FDialogs;
  TORVDashboardOptionsDialogs& FOptionsDialogs;
  QWidget* Panel1 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  std::unique_ptr<TORVDashboardBrowser> FORVDashboardBrowser;
};

}  // namespace orv
