#include "app/main_window.h"

#include "core/dashboard_browser.h"
#include "core/options_dialog.h"
#include "lib/utils.h"
#include "lib/web_browser.h"
#include "platform/dialogs.h"
#include "platform/exception.h"
#include "ui/screen_fit.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace orv {

namespace {

QPushButton* panelButton(const QString& AText, QWidget* AParent) {
  auto* button = new QPushButton(AText, AParent);
  button->setFixedSize(80, 31);
  return button;
}

}  // namespace

TFrmDashboardApp::TFrmDashboardApp(const TORVDashboardPorts& APorts, const QString& ASiteURL, const QString& AApiURL)
    : FDialogs(APorts.dialogs), FOptionsDialogs(APorts.optionsDialogs) {
  setWindowTitle(QStringLiteral("ORV Dashboard"));
  FitToScreen(*this, QSize(1400, 800), QSize(1200, 500));

  auto* client = new QWidget(this);
  auto* column = new QVBoxLayout(client);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  Panel1 = new QWidget(client);
  Panel1->setFixedHeight(41);
  auto* row = new QHBoxLayout(Panel1);
  row->setContentsMargins(5, 5, 0, 5);
  Button1 = panelButton(QStringLiteral("Force Reload"), Panel1);
  Button1->setVisible(false);
  Button2 = panelButton(QStringLiteral("Options"), Panel1);
  row->addWidget(Button1);
  row->addWidget(Button2);
  row->addStretch();
  Panel1->setVisible(false);
  column->addWidget(Panel1);

  auto* browserHost = new QWidget(client);
  column->addWidget(browserHost, 1);
  setCentralWidget(client);

  FORVDashboardBrowser = std::make_unique<TORVDashboardBrowser>(this, false, APorts, ASiteURL, AApiURL);
  FORVDashboardBrowser->WebBrowser().SetParent(browserHost);
  FORVDashboardBrowser->WebBrowser().SetControlAlignment(caClient);
  // The page that could not be shown offers this window's Options (the
  // site's address, proxy or account may need fixing); the panel is hidden.
  FORVDashboardBrowser->WebBrowser().OnErrorPageOptions = [this](TORVZYNDashCustomWebBrowser&) { ShowOptions(); };

  connect(Button1, &QPushButton::clicked, this, &TFrmDashboardApp::ForceReload);
  connect(Button2, &QPushButton::clicked, this, &TFrmDashboardApp::ShowOptions);
}

TFrmDashboardApp::~TFrmDashboardApp() {
  FORVDashboardBrowser->OwnerDestroying();
  FORVDashboardBrowser.reset();
}

void TFrmDashboardApp::closeEvent(QCloseEvent* AEvent) {
  if (FORVDashboardBrowser->IsRunning() &&
      TORVZYNDashUtils::Message(
          FDialogs, QStringLiteral("ORV Dashboard is still working, are you sure you want close the application?"),
          mtWarning, {mbYes, mbNo}, 0) == mrNo) {
    AEvent->ignore();
    return;
  }
  AEvent->accept();
}

// A settings file the dialog cannot read is reported here: nothing may
// leave a click handler.
void TFrmDashboardApp::ShowOptions() {
  try {
    FOptionsDialogs.Create()->ShowModal();
  } catch (const Exception& e) {
    TORVZYNDashUtils::Message(FDialogs, e.message(), mtError, {mbOK}, 0);
  }
}

void TFrmDashboardApp::ForceReload() {
  TORVDashboardWebBrowser& browser = FORVDashboardBrowser->WebBrowser();
  browser.DeInitialize();
  browser.ClearCache();
  browser.Initialize();
}

}  // namespace orv
