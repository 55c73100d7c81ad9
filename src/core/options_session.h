#pragma once

#include "core/ide_record.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace orv {

class TORVDashboardKitwrightCoordinator;
class TORVDashboardOptionsDialog;
class TORVDashboardOptionsDialogs;
class TORVDashboardSettings;

// The options dialog as the page opens it: adds the package manager's
// parts (a box per installed Delphi IDE, the reaction to a changed folder)
// and stores the choice of Delphi versions after it closed. UI thread only.
class TORVDashboardOptionsSession {
public:
  TORVDashboardOptionsSession(TORVDashboardOptionsDialogs& ADialogs, const TORVDashboardSettings& ASettings,
                              TORVDashboardKitwrightCoordinator& AKitwright, TORVZYNIDEList& AIDEList,
                              std::function<void()> AReloadPage);

  // Returns after the dialog closed; then the page is reloaded.
  void ShowOptionsDialog();
  // Fills the dialog's package-manager state and IDE boxes.
  void LoadIDESelection(TORVDashboardOptionsDialog& AForm);
  // Stores the dialog's choice of Delphi versions.
  void SaveIDESelection(TORVDashboardOptionsDialog& AForm);
  // The open dialog's package-manager folder changed.
  void KitwrightDirChanged();

private:
  // The IDs of the IDEs checked in the dialog, in list order, none with
  // "All versions"; each installed IDE's Selected keeps its box's state.
  QStringList ChosenDelphiVersions(TORVDashboardOptionsDialog& AForm);
  // The package manager the settings name, as a canonical path; empty when
  // there is none.
  QString KitwrightIdentity() const;

  TORVDashboardOptionsDialogs& FDialogs;
  const TORVDashboardSettings& FSettings;
  TORVDashboardKitwrightCoordinator& FKitwright;
  TORVZYNIDEList& idelist;
  std::function<void()> FReloadPage;
  // The Delphi versions last read from the package manager.
  QStringList kitwrightconfig;
  // The dialog while the page has it open.
  TORVDashboardOptionsDialog* frm = nullptr;
  // The package manager (KitwrightIdentity) the open dialog shows.
  QString FOptionsKitwright;
};

}  // namespace orv
