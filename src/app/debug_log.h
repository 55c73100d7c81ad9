#pragma once

#include <QString>

namespace orv {

// The program's log: its own debug output and Qt's warnings go to a file
// under the user's state folder ($XDG_STATE_HOME/orvsoftware, default
// ~/.local/state/orvsoftware), which is rotated when it grows past
// AMaxBytes (three older files are kept); with AVerbose to standard error
// too. Call once, early in main.
void InstallDebugLog(bool AVerbose, qint64 AMaxBytes = 1024 * 1024);

// The log file's path.
QString DebugLogFile();

}  // namespace orv
