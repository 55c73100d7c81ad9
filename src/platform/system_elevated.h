#pragma once

#include "platform/elevated.h"

namespace orv {

class UiThread;

// Runs setups and uninstallers directly in their folder, with the switches
// split into arguments by the Windows rules. A Windows program (a file
// starting with "MZ") runs through wine when wine is installed. The UI
// thread's events are processed while the program runs, so the window and
// the page stay alive; this is the one wait that has to pump events.
class SystemElevated final : public Elevated {
public:
  explicit SystemElevated(UiThread& uiThread) : uiThread_(uiThread) {}
  // The exit code; 31 when the program could not be started or did not
  // exit normally.
  int Run(const QString& folder, const QString& program, const QString& parameters) override;

private:
  UiThread& uiThread_;
};

}  // namespace orv
