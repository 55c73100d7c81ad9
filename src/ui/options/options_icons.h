#pragma once

#include <QIcon>
#include <QPixmap>

namespace orv::options_icons {

// The options dialog's images. Ordinary ones come from the desktop's icon
// theme when it has them and are drawn here otherwise, so the dialog looks
// right on a desktop without a theme; the two folder indicators are always
// drawn, as they must be green and red. Each function hands out the same
// icon every time (equal cacheKey), so callers can tell which one a button
// shows.
QIcon Folder();
QIcon EyeOpen();     // the code is shown
QIcon EyeCrossed();  // the code is hidden
QIcon PathValid();
QIcon PathInvalid();
QIcon Information();
// The vendor's logo for the About tab.
QPixmap Logo();

}  // namespace orv::options_icons
