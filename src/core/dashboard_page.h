#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

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
  // The package manager's output lines (as text) and progress reports.
  // Such calls that follow each other without another page call between
  // them reach the page as one script, the same calls in the same order, so
  // that the page keeps up with a package manager printing at full speed.
  void KitwrightOutput(const QString& AText);
  void KitwrightActionProgress(int APercent, const QString& AProductName, int AProductPercent, const QString& AKind);
  void KitwrightActionFinished();

private:
  // Shared with the calls queued for the UI thread, which may outlive us.
  struct TShared {
    TScriptRunner runScript;
    std::atomic<bool> ownerDestroying{false};
    std::atomic<bool> detached{false};
    // The joined calls queued for the UI thread that a next such call may
    // join; none once another call was queued after them.
    std::mutex joinLock;
    std::shared_ptr<QString> openScript;
  };

  void Post(const QString& AScript, bool ADropWhileClosing);
  // Joins the call to the script queued last when that one may grow.
  void PostJoinable(const QString& ACall);

  UiThread& FUi;
  const std::shared_ptr<TShared> FShared;
};

}  // namespace orv
