#include "qt_shell.h"

#include "ui/ports/detached_process.h"

#include <QUrl>

namespace orv {

namespace {

void OpenWithDesktop(const QUrl& address) {
  if (!address.isValid() || address.isEmpty()) return;
  StartDetachedProcess(QStringLiteral("xdg-open"), {QString::fromLatin1(address.toEncoded())});
}

}  // namespace

void QtShell::OpenURL(const QString& url) { OpenWithDesktop(QUrl(url, QUrl::TolerantMode)); }

void QtShell::OpenFile(const QString& path) { OpenWithDesktop(QUrl::fromLocalFile(path)); }

void QtShell::OpenTerminal(const QString& folder) {
  // Debian's alternatives name the user's terminal emulator.
  StartDetachedProcess(QStringLiteral("x-terminal-emulator"), {}, folder);
}

}  // namespace orv
