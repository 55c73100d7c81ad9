#pragma once

#include "settings/dashboard_settings.h"

#include <QWidget>

#include <functional>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace orv {

class Dialogs;
class Shell;
class TORVDashboardVendorPages;

// The options dialog's "Settings" tab: the account, the package manager's
// folder with its live check, the Delphi versions to install for, and the
// hidden download folder.
class TOptionsSettingsPage final : public QWidget {
public:
  TOptionsSettingsPage(Shell& AShell, Dialogs& ADialogs, const TORVDashboardVendorPages& APages, QWidget* AParent);

  // The code, e-mail and both folders as the edits hold them.
  void LoadValues(const TORVDashboardSettingsValues& AValues);
  void StoreValues(TORVDashboardSettingsValues& AValues) const;

  // Shows whether the folder holds orv.exe; true when it does.
  bool CheckKitwrightPath();
  // CheckKitwrightPath, and enables what needs the package manager.
  bool ValidateKitwrightPath();
  // The detected versions are chosen only when "All versions" is off.
  void UpdateDelphiVersionsEnabled();

  void SetKitwrightPathInfo(const QString& AText);
  QCheckBox& AllDelphiVersions() const { return *cbAllDelphiVersions; }
  // The IDE's box by its name, without regard to case; null when none.
  QCheckBox* FindIDECheckBox(const QString& AName) const;
  // A new box below the last one, named after the IDE.
  QCheckBox* AddIDECheckBox(const QString& ALabelName, const QString& ALabelText, bool AChecked);

  // The designed handler of "View Log" and of "Open Config".
  void ShowKitwrightLog();

  // Every change of the folder's text.
  std::function<void()> OnKitwrightDirChanged;
  // A click on "Open Config".
  std::function<void()> OnOpenKitwrightConfig;

private:
  QGroupBox* CreateAccountGroup();
  QGroupBox* CreateKitwrightGroup(const TORVDashboardVendorPages& APages);
  QGroupBox* CreateDelphiVersionsGroup();
  QGroupBox* CreateDownloadGroup();
  // A label of the caption column.
  QLabel* Caption(const QString& AText, const QString& AName, QWidget* AParent);
  void ToggleCodeVisibility();
  void SelectFolder(QLineEdit& AEdit, const QString& ATitle);
  void OpenShell();

  Shell& FShell;
  Dialogs& FDialogs;
  // Where the next IDE box goes, and the step between boxes.
  int CheckBoxY = 20;
  int CheckBoxD = 20;
  std::vector<QLabel*> FCaptions;

  QLineEdit* edUserName = nullptr;
  QLineEdit* edPassword = nullptr;
  QToolButton* Button10 = nullptr;
  QLineEdit* beKitwright = nullptr;
  QLabel* lbKitwrightPathInfo = nullptr;
  QLabel* ImgPathValid = nullptr;
  QLabel* ImgPathInvalid = nullptr;
  QLabel* lbValidatePath = nullptr;
  QPushButton* Button9 = nullptr;
  QPushButton* btOpenKitwrightConfig = nullptr;
  QPushButton* Button4 = nullptr;
  QGroupBox* gbSelectDelphiVersions = nullptr;
  QLabel* lbDelphiVersions = nullptr;
  QLabel* imgKitwrightRequired = nullptr;
  QLabel* lbKitwrightRequired = nullptr;
  QCheckBox* cbAllDelphiVersions = nullptr;
  QGroupBox* gbDelphiVersions = nullptr;
  QLabel* lbNoDelphiVersions = nullptr;
  QWidget* sbDelphiVersions = nullptr;  // the scroll box's content
  QLineEdit* beDownload = nullptr;
};

}  // namespace orv
