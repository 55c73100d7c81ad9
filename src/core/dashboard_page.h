#pragma once

#include <QString>

#include <functional>
#include <vector>

namespace orv {

class UiPipeline;

// The dashboard page as the application's features see it: every call into
// the page goes through here. A call may be requested from any thread; it
// travels through the pipeline and runs later on the UI thread, never
// inside the caller, in the order of the requests. Calls requested while
// the pipeline's work runs join what that work sends. Calls still queued
// when the pipeline closes are dropped.
class TORVDashboardPage {
public:
  // Runs a script in the page (on the UI thread) without waiting for it.
  using TScriptRunner = std::function<void(const QString& AScript)>;

  TORVDashboardPage(UiPipeline& APipeline, TScriptRunner ARunScript);
  TORVDashboardPage(const TORVDashboardPage&) = delete;
  TORVDashboardPage& operator=(const TORVDashboardPage&) = delete;

  // A script for the page; dropped once the main window is being destroyed.
  void ExecuteScript(const QString& AScript);
  // Shows a text in the page's log element; also while the window closes.
  void Log(const QString& AMessage);
  // The main window is being destroyed: page calls are dropped from now on.
  // On the UI thread.
  void OwnerDestroying() { FOwnerDestroying = true; }

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
  // them reach the page as one script, each call guarded on its own so that
  // a page function that throws takes no other call with it, and a run of
  // calls of one function travels as one array of arguments.
  void KitwrightOutput(const QString& AText);
  void KitwrightActionProgress(int APercent, const QString& AProductName, int AProductPercent, const QString& AKind);
  void KitwrightActionFinished();

private:
  struct TCall {
    QString Function;   // empty: Script is a whole script of its own
    QString Arguments;  // the argument list as script text
    QString Script;
    bool DropWhileClosing = true;
  };

  void Add(TCall ACall);
  void Joinable(const QString& AFunction, const QString& AArguments);
  // Hands the calls that came during a drain to the page.
  void Flush();
  void RunJoined(std::vector<TCall>::const_iterator AFirst, std::vector<TCall>::const_iterator ALast);

  UiPipeline& FPipeline;
  TScriptRunner FRunScript;
  // UI thread only.
  std::vector<TCall> FCalls;
  bool FOwnerDestroying = false;
};

}  // namespace orv
