#pragma once

#include "platform/shell.h"

class QUrl;

namespace orv {

class Dialogs;
class UiThread;

// Addresses and documents go to the desktop's default handlers through
// xdg-open, folders to the user's terminal emulator; each is started on its
// own, without the application's descriptors. When xdg-open cannot be
// started the user is told so in a message box, posted to the UI thread:
// the caller may be in the middle of a call from the page.
class QtShell final : public Shell {
public:
  QtShell(Dialogs& dialogs, UiThread& ui) : dialogs_(dialogs), ui_(ui) {}
  void OpenURL(const QString& url) override;
  void OpenFile(const QString& path) override;
  // $TERMINAL when set, otherwise x-terminal-emulator.
  bool OpenTerminal(const QString& folder) override;

private:
  // AWhat names the address or file in the message.
  void OpenWithDesktop(const QUrl& address, const QString& what);

  Dialogs& dialogs_;
  UiThread& ui_;
};

}  // namespace orv
