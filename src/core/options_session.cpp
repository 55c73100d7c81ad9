#include "core/options_session.h"

#include "core/kitwright_coordinator.h"
#include "core/options_dialog.h"
#include "settings/dashboard_settings.h"

#include <QFileInfo>
#include <QScopeGuard>

namespace orv {

TORVDashboardOptionsSession::TORVDashboardOptionsSession(TORVDashboardOptionsDialogs& ADialogs,
                                                         const TORVDashboardSettings& ASettings,
                                                         TORVDashboardKitwrightCoordinator& AKitwright,
                                                         TORVZYNIDEList& AIDEList, std::function<void()> AReloadPage)
    : FDialogs(ADialogs),
      FSettings(ASettings),
      FKitwright(AKitwright),
      idelist(AIDEList),
      FReloadPage(std::move(AReloadPage)) {}

void TORVDashboardOptionsSession::ShowOptionsDialog() {
  const std::unique_ptr<TORVDashboardOptionsDialog> dialog = FDialogs.Create();
  frm = dialog.get();
  // Also when a step fails: nothing refers to the dialog once it is gone.
  const auto forget = qScopeGuard([this] { frm = nullptr; });
  dialog->OnKitwrightDirChanged = [this] { KitwrightDirChanged(); };
  dialog->OnOpenKitwrightConfig = [this] { FKitwright.OpenKitwrightConfig(); };
  dialog->ValidateKitwrightPath();
  LoadIDESelection(*dialog);
  dialog->ShowModal();
  SaveIDESelection(*dialog);
  FReloadPage();
}

// Every keystroke in the folder edit lands here and stores all settings.
// The package manager is asked again only when the folder now names
// another one (or none any more): a half-typed path starts nothing, a
// complete one starts one round, and further keystrokes that keep naming
// the same program leave the user's unsaved choice of boxes alone.
void TORVDashboardOptionsSession::KitwrightDirChanged() {
  if (!frm) return;
  frm->SaveRegistrySettings();
  frm->ValidateKitwrightPath();
  if (KitwrightIdentity() == FOptionsKitwright) return;
  LoadIDESelection(*frm);
}

void TORVDashboardOptionsSession::LoadIDESelection(TORVDashboardOptionsDialog& AForm) {
  FKitwright.StartKitwright();
  FOptionsKitwright = KitwrightIdentity();
  const bool exists = !FOptionsKitwright.isEmpty();
  AForm.SetAllDelphiVersionsEnabled(exists);
  if (exists) {
    AForm.SetKitwrightPathInfo(QStringLiteral("ORV Kitwright ") + FKitwright.GetKitwrightVersion() +
                               QStringLiteral(" detected"));
    FKitwright.ReadDelphiVersions(kitwrightconfig);
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

void TORVDashboardOptionsSession::SaveIDESelection(TORVDashboardOptionsDialog& AForm) {
  FKitwright.StartKitwright();
  if (!FSettings.KitwrightExists()) return;
  FKitwright.WriteDelphiVersions(ChosenDelphiVersions(AForm));
}

QStringList TORVDashboardOptionsSession::ChosenDelphiVersions(TORVDashboardOptionsDialog& AForm) {
  QStringList versions;
  if (AForm.AllDelphiVersionsChecked()) return versions;
  for (const auto& ide : idelist) {
    if (ide->Installed())
      if (const std::optional<bool> checked = AForm.IDECheckBoxChecked(ide->ID())) ide->SetSelected(*checked);
    if (ide->Selected()) versions << ide->ID();
  }
  return versions;
}

QString TORVDashboardOptionsSession::KitwrightIdentity() const {
  const QFileInfo exe(FSettings.KitwrightExePath());
  return exe.isFile() ? exe.canonicalFilePath() : QString();
}

}  // namespace orv
