#include "ui/ports/qt_shell.h"

#include "platform/child_process.h"
#include "platform/dialogs.h"
#include "platform/ui_thread.h"

#include <QUrl>

namespace orv {

namespace {

// Handlers live on without us, with our standard descriptors only; 0, or
// why the program could not be started.
int StartHandler(const QString& program, const QStringList& arguments, const QString& folder = {}) {
  return StartDetached({program, arguments, folder, std::nullopt});
}

}  // namespace

void QtShell::OpenWithDesktop(const QUrl& address, const QString& what) {
  if (!address.isValid() || address.isEmpty()) return;
  const int error = StartHandler(QStringLiteral("xdg-open"), {QString::fromLatin1(address.toEncoded())});
  if (error == 0) return;
  // Debian only recommends xdg-utils, so a system may well lack it.
  const QString text = QStringLiteral(
                           "No program could open %1: xdg-open could not be started (%2). Install "
                           "xdg-utils, which provides it, to open links, logs and folders.")
                           .arg(what, qt_error_string(error));
  ui_.post([&dialogs = dialogs_, text] { dialogs.Message(text, mtWarning, {mbOK}, 0); });
}

void QtShell::OpenURL(const QString& url) {
  // A log is named by its path, as the user knows it.
  const QUrl address(url, QUrl::TolerantMode);
  OpenWithDesktop(address, address.isLocalFile() ? address.toLocalFile() : url);
}

void QtShell::OpenFile(const QString& path) { OpenWithDesktop(QUrl::fromLocalFile(path), path); }

bool QtShell::OpenTerminal(const QString& folder) {
  // The user's own choice first, then the one Debian's alternatives name.
  QStringList command = SplitUserCommand(qEnvironmentVariable("TERMINAL"));
  if (!command.isEmpty() && StartHandler(command.takeFirst(), command, folder) == 0) return true;
  return StartHandler(QStringLiteral("x-terminal-emulator"), {}, folder) == 0;
}

}  // namespace orv
