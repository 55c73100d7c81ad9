#pragma once

#include <QString>

namespace orv {

// The desktop entry's id (com.orvsoftware.Dashboard.desktop, whose
// StartupWMClass is the application name): docks and task bars tie the
// window to its menu entry through it.
inline const QString kDesktopEntryId = QStringLiteral("com.orvsoftware.Dashboard");

// Names the running program as the desktop knows it and gives its windows
// the program's icon. Call once the application object exists.
void SetDesktopIdentity();

}  // namespace orv
