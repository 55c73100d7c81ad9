#include "qt_shell.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace orv {

void QtShell::OpenURL(const QString& url) {
  QDesktopServices::openUrl(QUrl(url, QUrl::TolerantMode));
}

void QtShell::OpenFile(const QString& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void QtShell::OpenTerminal(const QString& folder) {
  // Debian's alternatives name the user's terminal emulator.
  QProcess terminal;
  terminal.setProgram(QStringLiteral("x-terminal-emulator"));
  terminal.setWorkingDirectory(folder);
  terminal.startDetached();
}

}  // namespace orv
