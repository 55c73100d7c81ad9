#pragma once

#include <QSize>

class QWidget;

namespace orv {

// Windows are designed in device-independent pixels for a common screen;
// on a small screen or at a large scale the design can be larger than the
// screen, and a window that does not fit has its buttons out of reach.

// The room a new top-level window has on the screen it opens on (its
// owner's screen when it has one), less the owner's frame as an estimate
// of the window manager's decorations.
QSize AvailableRoomFor(const QWidget& AWindow);

// Sizes AWindow to ASize and its minimum to AMinimum, both cut down to the
// room it has, and centres it in that room.
void FitToScreen(QWidget& AWindow, const QSize& ASize, const QSize& AMinimum);

}  // namespace orv
