#include "app/settings_check.h"

#include "lib/utils.h"
#include "platform/registry_hive.h"

namespace orv {

std::optional<QString> UnusableSettingsReason(const RegistryHive& AHive) {
  try {
    AHive.Load();
  } catch (const ERegistryException& e) {
    return e.message();
  }
  return std::nullopt;
}

bool ReportUnusableSettings(const RegistryHive& AHive, Dialogs& ADialogs) {
  const auto reason = UnusableSettingsReason(AHive);
  if (!reason) return false;
  TORVZYNDashUtils::Message(ADialogs,
                            *reason + QStringLiteral("\n\nORV Dashboard cannot read or save its settings until "
                                                     "this file is fixed or removed."),
                            mtWarning, {mbOK}, 0);
  return true;
}

}  // namespace orv
