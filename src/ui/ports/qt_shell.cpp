#include "ui/ports/qt_shell.h"

#include "platform/child_process.h"

#include <QUrl>

namespace orv {

namespace {

// Handlers live on without us, with our standard descriptors only; false
// when the program could not be started.
bool StartHandler(const QString& program, const QStringList& arguments, const QString& folder = {}) {
  return StartDetached({program, arguments, folder, std::nullopt}) == 0;
}

void OpenWithDesktop(const QUrl& address) {
  if (!address.isValid() || address.isEmpty()) return;
  StartHandler(QStringLiteral("xdg-open"), {QString::fromLatin1(address.toEncoded())});
}

}  // namespace

void QtShell::OpenURL(const QString& url) { OpenWithDesktop(QUrl(url, QUrl::TolerantMode)); }

void QtShell::OpenFile(const QString& path) { OpenWithDesktop(QUrl::fromLocalFile(path)); }

bool QtShell::OpenTerminal(const QString& folder) {
  // The user's own choice first, then the one Debian's alternatives name.
  QStringList command = SplitUserCommand(qEnvironmentVariable("TERMINAL"));
  if (!command.isEmpty() && StartHandler(command.takeFirst(), command, folder)) return true;
  return StartHandler(QStringLiteral("x-terminal-emulator"), {}, folder);
}

}  // namespace orv
