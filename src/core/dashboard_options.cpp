// The options dialog as the page opens it: the controller adds the package
// manager's parts (a box per installed Delphi IDE, the reaction to a changed
// folder) and stores the choice of Delphi versions after it closed.
#include "core/dashboard_browser.h"
#include "core/options_dialog.h"

#include <QFileInfo>
#include <QScopeGuard>

namespace orv {

void TORVDashboardBrowser::ShowOptionsDialog() {
  const std::unique_ptr<TORVDashboardOptionsDialog> dialog = FPorts.optionsDialogs.Create();
  frm = dialog.get();
  // Also when a step fails: nothing refers to the dialog once it is gone.
  const auto forget = qScopeGuard([this] { frm = nullptr; });
  dialog->OnKitwrightDirChanged = [this] { KitwrightDirChanged(); };
  dialog->OnOpenKitwrightConfig = [this] { OpenKitwrightConfig(); };
  dialog->ValidateKitwrightPath();
  LoadIDESelection(*dialog);
  dialog->ShowModal();
  SaveIDESelection(*dialog);
  FWebBrowser->Reload();
}

// Every keystroke in the folder edit lands here and stores all settings.
// The package manager is asked again only when the folder now names
// another one (or none any more): a half-typed path starts nothing, a
// complete one starts one round, and further keystrokes that keep naming
// the same program leave the user's unsaved choice of boxes alone.
void TORVDashboardBrowser::KitwrightDirChanged() {
  if (!frm) return;
  frm->SaveRegistrySettings();
  frm->ValidateKitwrightPath();
  if (KitwrightIdentity() == FOptionsKitwright) return;
  LoadIDESelection(*frm);
}

void TORVDashboardBrowser::LoadIDESelection(TORVDashboardOptionsDialog& AForm) {
  StartKitwright();
  FOptionsKitwright = KitwrightIdentity();
  const bool exists = !FOptionsKitwright.isEmpty();
  AForm.SetAllDelphiVersionsEnabled(exists);
  if (exists) {
    AForm.SetKitwrightPathInfo(QStringLiteral("ORV Kitwright ") + GetKitwrightVersion() + QStringLiteral(" detected"));
    ReadDelphiVersions(kitwrightconfig);
  } else {
    AForm.SetKitwrightPathInfo(QStringLiteral("Set the folder where orv.exe is located"));
  }
  for (const auto& ide : idelist) {
    if (!ide->Installed()) continue;
    const bool selected = exists && kitwrightconfig.contains(ide->ID());
    if (selected) AForm.SetAllDelphiVersionsChecked(false);
    if (!AForm.SetIDECheckBoxChecked(ide->ID(), selected)) AForm.AddIDECheckBox(ide->ID(), ide->Name(), selected);
  }
}

void TORVDashboardBrowser::SaveIDESelection(TORVDashboardOptionsDialog& AForm) {
  StartKitwright();
  if (!FSettings.KitwrightExists()) return;
  WriteDelphiVersions(ChosenDelphiVersions(AForm));
}

QStringList TORVDashboardBrowser::ChosenDelphiVersions(TORVDashboardOptionsDialog& AForm) {
  QStringList versions;
  if (AForm.AllDelphiVersionsChecked()) return versions;
  for (const auto& ide : idelist) {
    if (ide->Installed())
      if (const std::optional<bool> checked = AForm.IDECheckBoxChecked(ide->ID())) ide->SetSelected(*checked);
    if (ide->Selected()) versions << ide->ID();
  }
  return versions;
}

QString TORVDashboardBrowser::KitwrightIdentity() const {
  const QFileInfo exe(FSettings.KitwrightExePath());
  return exe.isFile() ? exe.canonicalFilePath() : QString();
}

}  // namespace orv
