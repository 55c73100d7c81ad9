#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace orv {

// The options dialog as the controller drives it. The dialog itself (Qt
// Widgets) lives in ui/ and implements this; the controller only attaches
// its package-manager additions and reads the Delphi-version choice.
class TORVDashboardOptionsDialog {
public:
  virtual ~TORVDashboardOptionsDialog() = default;

  // The controller's additions, raised by the dialog when assigned: every
  // change of the package-manager folder's text, and "Open Config".
  std::function<void()> OnKitwrightDirChanged;
  std::function<void()> OnOpenKitwrightConfig;

  // Shows the dialog modally; returns after it closed and stored the
  // settings.
  virtual void ShowModal() = 0;
  virtual void SaveRegistrySettings() = 0;
  // Checks the package-manager folder and enables what depends on it.
  virtual bool ValidateKitwrightPath() = 0;

  // The package manager's state line under its folder.
  virtual void SetKitwrightPathInfo(const QString& AText) = 0;
  // "All versions".
  virtual void SetAllDelphiVersionsEnabled(bool AEnabled) = 0;
  virtual bool AllDelphiVersionsChecked() const = 0;
  virtual void SetAllDelphiVersionsChecked(bool AChecked) = 0;
  // The check boxes of the detected IDEs, found by their component name
  // without regard to case: its state, none when there is no such box.
  virtual std::optional<bool> IDECheckBoxChecked(const QString& AName) const = 0;
  // False when there is no such box.
  virtual bool SetIDECheckBoxChecked(const QString& AName, bool AChecked) = 0;
  virtual void AddIDECheckBox(const QString& ALabelName, const QString& ALabelText, bool AChecked) = 0;
};

// Makes a new options dialog each time the page asks for one.
class TORVDashboardOptionsDialogs {
public:
  virtual ~TORVDashboardOptionsDialogs() = default;
  virtual std::unique_ptr<TORVDashboardOptionsDialog> Create() = 0;
};

}  // namespace orv
