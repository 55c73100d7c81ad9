#pragma once

#include "lib/owning_list.h"

#include <QString>

namespace orv {

class TORVDashboardBrowser;

// One Delphi IDE version the system knows.
class TORVZYNIDE {
public:
  explicit TORVZYNIDE(TORVDashboardBrowser* AOwner) : FDashboardBrowser(AOwner) {}

  // Copies what identifies the IDE and whether it is there; the user's
  // selection and the package manager's name stay the target's own.
  void Assign(const TORVZYNIDE& ASource) {
    FID = ASource.FID;
    FName = ASource.FName;
    FInstalled = ASource.FInstalled;
  }

  // Short identifier; also the options dialog's check box name and the
  // package manager's Delphi-version value.
  const QString& ID() const { return FID; }
  void SetID(const QString& AValue) { FID = AValue; }
  const QString& Name() const { return FName; }
  void SetName(const QString& AValue) { FName = AValue; }
  const QString& KitwrightName() const { return FKitwrightName; }
  void SetKitwrightName(const QString& AValue) { FKitwrightName = AValue; }
  bool Installed() const { return FInstalled; }
  void SetInstalled(bool AValue) { FInstalled = AValue; }
  bool Selected() const { return FSelected; }
  void SetSelected(bool AValue) { FSelected = AValue; }
  TORVDashboardBrowser* DashboardBrowser() const { return FDashboardBrowser; }

private:
  QString FID;
  QString FName;
  bool FInstalled = false;
  TORVDashboardBrowser* FDashboardBrowser;
  QString FKitwrightName;
  bool FSelected = false;
};
using TORVZYNIDEList = OwningList<TORVZYNIDE>;

}  // namespace orv
