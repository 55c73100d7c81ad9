#include "qt_shell.h"

#include "ui/ports/detached_process.h"

#include <QProcess>
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

bool QtShell::OpenTerminal(const QString& folder) {
  // The user's own choice first, then the one Debian's alternatives name.
  QStringList command = QProcess::splitCommand(qEnvironmentVariable("TERMINAL"));
  if (!command.isEmpty() && StartDetachedProcess(command.takeFirst(), command, folder)) return true;
  return StartDetachedProcess(QStringLiteral("x-terminal-emulator"), {}, folder);
}

}  // namespace orv
