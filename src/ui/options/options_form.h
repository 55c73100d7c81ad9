#pragma once

#include "core/options_dialog.h"
#include "settings/dashboard_settings.h"

#include <QDialog>

namespace orv {

class Dialogs;
class Shell;
class TOptionsAboutPage;
class TOptionsInstallGroups;
class TOptionsNotificationsPage;
class TOptionsSettingsPage;
class TOptionsStatusPage;

// What the options dialog works with besides its own controls.
struct TORVDashboardOptionsContext {
  Registry& registry;
  const KnownFolders& folders;
  Shell& shell;
  Dialogs& dialogs;
  // The vendor's web site the application uses; the links lead there.
  QString siteURL;
  // The browser engine, as it was found at program start.
  bool engineLoaded = false;
  QString engineVersion;
};

// The options dialog: a fixed-size window with the tabs "Settings",
// "Options", "Status" and "About" (smaller than designed on a screen without
// room for it, its pages scrolling then). It reads the settings when created and
// stores them all when it closes, and also whenever "Updates available for
// installed products" changes. The controller's additions (a reaction to
// every change of the package manager's folder, "Open Config") are raised
// when assigned; their errors are shown in a message box, as nothing else
// catches them inside the dialog's own event loop.
class TORVDashboardOptionsForm final : public QDialog, public TORVDashboardOptionsDialog {
public:
  explicit TORVDashboardOptionsForm(const TORVDashboardOptionsContext& AContext, QWidget* AParent = nullptr);

  void ShowModal() override;
  void SaveRegistrySettings() override;
  bool ValidateKitwrightPath() override;
  void SetKitwrightPathInfo(const QString& AText) override;
  void SetAllDelphiVersionsEnabled(bool AEnabled) override;
  bool AllDelphiVersionsChecked() const override;
  void SetAllDelphiVersionsChecked(bool AChecked) override;
  std::optional<bool> IDECheckBoxChecked(const QString& AName) const override;
  bool SetIDECheckBoxChecked(const QString& AName, bool AChecked) override;
  void AddIDECheckBox(const QString& ALabelName, const QString& ALabelText, bool AChecked) override;

  // AText without any blank or tab.
  static QString StripBlanks(const QString& AText);

protected:
  // Every way of closing ends here: the settings are stored first.
  void done(int AResult) override;

private:
  void LoadRegistrySettings();
  void OpenKitwrightConfig();
  // Runs AWork; an error is shown to the user instead of reaching Qt.
  void Guarded(const std::function<void()>& AWork);

  TORVDashboardSettings FSettings;
  Dialogs& FDialogs;
  TOptionsSettingsPage* FSettingsPage = nullptr;
  TOptionsNotificationsPage* FNotificationsPage = nullptr;
  TOptionsStatusPage* FStatusPage = nullptr;
  TOptionsAboutPage* FAboutPage = nullptr;
  TOptionsInstallGroups* FInstallGroups = nullptr;
};

// Makes a new options dialog over the active window each time.
class TQtOptionsDialogs final : public TORVDashboardOptionsDialogs {
public:
  explicit TQtOptionsDialogs(TORVDashboardOptionsContext AContext) : FContext(std::move(AContext)) {}
  std::unique_ptr<TORVDashboardOptionsDialog> Create() override;

private:
  TORVDashboardOptionsContext FContext;
};

}  // namespace orv
