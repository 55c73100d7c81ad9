#include "ui/options/options_form.h"

#include "lib/utils.h"
#include "platform/exception.h"
#include "ui/options/about_page.h"
#include "ui/options/install_groups.h"
#include "ui/options/notifications_page.h"
#include "ui/options/settings_page.h"
#include "ui/options/status_page.h"
#include "ui/options/vendor_pages.h"
#include "ui/screen_fit.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

namespace orv {

namespace {

// The page fills the tab where it fits and scrolls where it does not. The
// area itself takes no focus: Tab goes on to the page's controls, and the
// area brings each into view as it gets the focus.
QScrollArea* scrolling(QWidget* APage) {
  auto* area = new QScrollArea;
  area->setFrameShape(QFrame::NoFrame);
  area->setFocusPolicy(Qt::NoFocus);
  area->setWidgetResizable(true);
  area->setWidget(APage);
  return area;
}

}  // namespace

TORVDashboardOptionsForm::TORVDashboardOptionsForm(const TORVDashboardOptionsContext& AContext, QWidget* AParent)
    : QDialog(AParent), FSettings(AContext.registry, AContext.folders), FDialogs(AContext.dialogs) {
  setWindowTitle(QStringLiteral("ORV Dashboard Options"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  // The designed size where the screen has room for it; the pages scroll
  // where it has not.
  setFixedSize(QSize(514, 716).boundedTo(AvailableRoomFor(*this)));

  const TORVDashboardVendorPages pages(AContext.siteURL);
  auto* tabs = new QTabWidget(this);
  tabs->setObjectName(QStringLiteral("PageControl1"));
  FSettingsPage = new TOptionsSettingsPage(AContext.shell, AContext.dialogs, pages, tabs);
  FNotificationsPage = new TOptionsNotificationsPage(tabs);
  FStatusPage = new TOptionsStatusPage(tabs);
  FAboutPage = new TOptionsAboutPage(AContext.shell, pages, tabs);
  tabs->addTab(scrolling(FSettingsPage), QStringLiteral("Settings"));
  tabs->addTab(scrolling(FNotificationsPage), QStringLiteral("Options"));
  tabs->addTab(scrolling(FStatusPage), QStringLiteral("Status"));
  tabs->addTab(scrolling(FAboutPage), QStringLiteral("About"));
  FInstallGroups = new TOptionsInstallGroups(AContext.shell, FSettings.GetLogFolder(), this);
  auto* client = new QVBoxLayout(this);
  client->setContentsMargins(6, 6, 6, 6);
  client->addWidget(tabs);
  // Return in an edit must not press whichever button comes first.
  for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(false);

  LoadRegistrySettings();
  FStatusPage->ShowBrowserInfo(AContext.engineLoaded, AContext.engineVersion);
  FSettingsPage->CheckKitwrightPath();
  FSettingsPage->UpdateDelphiVersionsEnabled();

  // Wired after loading, so that filling the controls raises nothing.
  FSettingsPage->OnKitwrightDirChanged = [this] {
    if (OnKitwrightDirChanged) Guarded(OnKitwrightDirChanged);
  };
  FSettingsPage->OnOpenKitwrightConfig = [this] { OpenKitwrightConfig(); };
  FNotificationsPage->OnProductUpdatesChanged = [this] { Guarded([this] { SaveRegistrySettings(); }); };
  FSettingsPage->setFocus();
}

QString TORVDashboardOptionsForm::StripBlanks(const QString& AText) {
  QString text = AText;
  text.remove(QLatin1Char(' '));
  text.remove(QLatin1Char('\t'));
  return text;
}

void TORVDashboardOptionsForm::LoadRegistrySettings() {
  std::optional<TORVDashboardSettingsValues> values = FSettings.LoadRegistrySettings();
  if (!values) return;
  if (values->InstallDirTrial.isEmpty()) values->InstallDirTrial = FSettings.DefaultInstallDirTrial();
  if (values->InstallDirReg.isEmpty()) values->InstallDirReg = FSettings.DefaultInstallDirReg();
  FSettingsPage->LoadValues(*values);
  FInstallGroups->LoadValues(*values);
  FNotificationsPage->SetProductUpdates(values->ProductNotifications);
  if (const std::optional<QString> version = FSettings.ReadDashboardVersion())
    FAboutPage->SetVersion(QStringLiteral("v") + *version);
}

void TORVDashboardOptionsForm::SaveRegistrySettings() {
  TORVDashboardSettingsValues values;
  FSettingsPage->StoreValues(values);
  FInstallGroups->StoreValues(values);
  values.ProductNotifications = FNotificationsPage->ProductUpdates();
  values.Password = StripBlanks(values.Password);
  values.UserName = StripBlanks(values.UserName);
  // Empty folders fall back to their defaults, except the package
  // manager's, which stays empty.
  if (values.DownloadDir.isEmpty()) values.DownloadDir = FSettings.DefaultDownloadDir();
  if (values.InstallDirTrial.isEmpty()) values.InstallDirTrial = FSettings.DefaultInstallDirTrial();
  if (values.InstallDirReg.isEmpty()) values.InstallDirReg = FSettings.DefaultInstallDirReg();
  FSettings.SaveRegistrySettings(values);
}

void TORVDashboardOptionsForm::ShowModal() { exec(); }

void TORVDashboardOptionsForm::done(int AResult) {
  Guarded([this] { SaveRegistrySettings(); });
  QDialog::done(AResult);
}

// The controller's handler when it attached one, the designed one (the
// package manager's log) otherwise.
void TORVDashboardOptionsForm::OpenKitwrightConfig() {
  if (OnOpenKitwrightConfig)
    Guarded(OnOpenKitwrightConfig);
  else
    FSettingsPage->ShowKitwrightLog();
}

void TORVDashboardOptionsForm::Guarded(const std::function<void()>& AWork) {
  try {
    AWork();
  } catch (const Exception& e) {
    TORVZYNDashUtils::Message(FDialogs, e.message(), mtError, {mbOK}, 0);
  } catch (const std::exception& e) {
    TORVZYNDashUtils::Message(FDialogs, QString::fromUtf8(e.what()), mtError, {mbOK}, 0);
  }
}

bool TORVDashboardOptionsForm::ValidateKitwrightPath() { return FSettingsPage->ValidateKitwrightPath(); }

void TORVDashboardOptionsForm::SetKitwrightPathInfo(const QString& AText) {
  FSettingsPage->SetKitwrightPathInfo(AText);
}

void TORVDashboardOptionsForm::SetAllDelphiVersionsEnabled(bool AEnabled) {
  FSettingsPage->AllDelphiVersions().setEnabled(AEnabled);
}

bool TORVDashboardOptionsForm::AllDelphiVersionsChecked() const {
  return FSettingsPage->AllDelphiVersions().isChecked();
}

void TORVDashboardOptionsForm::SetAllDelphiVersionsChecked(bool AChecked) {
  FSettingsPage->AllDelphiVersions().setChecked(AChecked);
}

std::optional<bool> TORVDashboardOptionsForm::IDECheckBoxChecked(const QString& AName) const {
  const QCheckBox* box = FSettingsPage->FindIDECheckBox(AName);
  return box ? std::optional<bool>(box->isChecked()) : std::nullopt;
}

bool TORVDashboardOptionsForm::SetIDECheckBoxChecked(const QString& AName, bool AChecked) {
  QCheckBox* box = FSettingsPage->FindIDECheckBox(AName);
  if (box) box->setChecked(AChecked);
  return box != nullptr;
}

void TORVDashboardOptionsForm::AddIDECheckBox(const QString& ALabelName, const QString& ALabelText, bool AChecked) {
  FSettingsPage->AddIDECheckBox(ALabelName, ALabelText, AChecked);
}

std::unique_ptr<TORVDashboardOptionsDialog> TQtOptionsDialogs::Create() {
  return std::make_unique<TORVDashboardOptionsForm>(FContext, QApplication::activeWindow());
}

}  // namespace orv
