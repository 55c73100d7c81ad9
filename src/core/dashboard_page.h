#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

namespace orv {

class UiThread;

// The dashboard page as the application's features see it: every call into
// the page goes through here. A call may be requested from any thread; its
// script runs later on the UI thread, never inside the caller. Calls still
// queued when the page object is destroyed are dropped.
class TORVDashboardPage {
public:
  // Runs a script in the page (on the UI thread) without waiting for it.
  using TScriptRunner = std::function<void(const QString& AScript)>;

  TORVDashboardPage(UiThread& AUi, TScriptRunner ARunScript);
  ~TORVDashboardPage();
  TORVDashboardPage(const TORVDashboardPage&) = delete;
  TORVDashboardPage& operator=(const TORVDashboardPage&) = delete;

  // A script for the page; dropped once the main window is being destroyed.
  void ExecuteScript(const QString& AScript);
  // Shows a text in the page's log element; also while the window closes.
  void Log(const QString& AMessage);
  // The main window is being destroyed: page calls are dropped from now on.
  void OwnerDestroying() { FShared->ownerDestroying = true; }

  // The page functions, one call each.
  void SetActiveTheme(const QString& ATheme);
  void ProductInstallAbort();
  void ProductInstallFinished(const QString& ADownloadJSON);
  void ProductUninstallFinished(const QString& AInstallJSON);
  // A download's state; the argument is JSON text, or empty for none.
  void DownloadProgress(const QString& AJSON);
  void DownloadFinished(const QString& AJSON);
  void DownloadFailed(const QString& AJSON);

private:
  // Shared with the calls queued for the UI thread, which may outlive us.
  struct TShared {
    TScriptRunner runScript;
    std::atomic<bool> ownerDestroying{false};
    std::atomic<bool> detached{false};
  };

  void Post(const QString& AScript, bool ADropWhileClosing);

  UiThread& FUi;
  const std::shared_ptr<TShared> FShared;
};

}  // namespace orv
