#pragma once

namespace orv {

class Dialogs;
class Elevated;
class KnownFolders;
class Notifications;
class Processes;
class Registry;
class Shell;
class TORVDashboardOptionsDialogs;
class UiThread;

// The desktop facilities the dashboard reaches through ports, wired once by
// the application (or a test's fixture). They outlive the controller.
struct TORVDashboardPorts {
  Registry& registry;
  const KnownFolders& folders;
  UiThread& ui;
  Dialogs& dialogs;
  Shell& shell;
  Notifications& notifications;
  const Processes& processes;
  Elevated& elevated;
  TORVDashboardOptionsDialogs& optionsDialogs;
};

}  // namespace orv
