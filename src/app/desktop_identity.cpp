#include "app/desktop_identity.h"

#include <QApplication>
#include <QIcon>

namespace orv {

namespace {

// The icon theme's when one is installed (the package installs it into
// hicolor), else the copy built into the program for a build tree.
QIcon programIcon() {
  QIcon builtIn;
  for (const int size : {16, 32, 48, 64, 128, 256})
    builtIn.addFile(QStringLiteral(":/icons/%1x%1/%2.png").arg(size).arg(kDesktopEntryId), QSize(size, size));
  return QIcon::fromTheme(kDesktopEntryId, builtIn);
}

}  // namespace

void SetDesktopIdentity() {
  // Also the class part of WM_CLASS on X11.
  QApplication::setApplicationName(QStringLiteral("ORV Dashboard"));
  QApplication::setOrganizationName(QStringLiteral("orvsoftware"));
  // The application id on Wayland.
  QApplication::setDesktopFileName(kDesktopEntryId);
  QApplication::setWindowIcon(programIcon());
}

}  // namespace orv
