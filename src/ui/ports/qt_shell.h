#pragma once

#include "platform/shell.h"

namespace orv {

// Addresses and documents go to the desktop's default handlers through
// xdg-open, folders to the user's terminal emulator; each is started on its
// own, without the application's descriptors.
class QtShell final : public Shell {
public:
  void OpenURL(const QString& url) override;
  void OpenFile(const QString& path) override;
  // $TERMINAL when set, otherwise x-terminal-emulator.
  bool OpenTerminal(const QString& folder) override;
};

}  // namespace orv
