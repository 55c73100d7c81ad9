#pragma once

#include "settings/dashboard_settings.h"

#include <QWidget>

class QCheckBox;
class QLineEdit;

namespace orv {

class Shell;

// The classic setups' settings: install folders, silent runs and install
// notifications. Nothing shows these groups any more, but their values are
// still loaded and saved with the others.
class TOptionsInstallGroups final : public QWidget {
public:
  // ALogFolder: the folder of the classic setups' logs.
  TOptionsInstallGroups(Shell& AShell, QString ALogFolder, QWidget* AParent);

  void LoadValues(const TORVDashboardSettingsValues& AValues);
  void StoreValues(TORVDashboardSettingsValues& AValues) const;

private:
  void OpenFolder(const QLineEdit& AEdit);

  Shell& FShell;
  QLineEdit* beInstallTrial = nullptr;
  QLineEdit* beInstallReg = nullptr;
  QCheckBox* ckSilent = nullptr;
  QCheckBox* CheckBox1 = nullptr;
};

}  // namespace orv
