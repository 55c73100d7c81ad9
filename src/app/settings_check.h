#pragma once

#include <QString>

#include <optional>

namespace orv {

class Dialogs;
class RegistryHive;

// Why the settings file cannot be used (unreadable, malformed, a folder in
// its place), naming the file and, for a malformed one, the line; nothing
// when it can be used or does not exist yet.
std::optional<QString> UnusableSettingsReason(const RegistryHive& AHive);

// Tells the user, once, that the settings file cannot be used and that
// settings will not be saved until it is fixed; the file itself is left as
// it is. False when there was nothing to tell.
bool ReportUnusableSettings(const RegistryHive& AHive, Dialogs& ADialogs);

}  // namespace orv
