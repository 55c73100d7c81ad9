#pragma once

#include <functional>

namespace orv {

// The UI thread as seen from any thread.
class UiThread {
public:
  virtual ~UiThread() = default;
  // Runs task later on the UI thread, in request order, never inside the
  // caller (even when called on the UI thread). What the task throws is
  // logged and goes no further.
  virtual void post(std::function<void()> task) = 0;
  // Runs task on the UI thread and waits for it; runs it directly when the
  // caller is already on the UI thread.
  virtual void invokeAndWait(const std::function<void()>& task) = 0;
  // Runs what is pending in the UI thread's queue (used while waiting for a
  // child process in the UI thread).
  virtual void processPendingEvents() = 0;
  virtual bool isCurrent() const = 0;
  // Runs work and returns once it has ended, rethrowing what it threw. On
  // the UI thread, work runs on a thread of its own while the UI thread goes
  // on with its own events (repaints, timers, posted work, a window's close
  // request); user input waits until the end. When the program is told to
  // quit meanwhile, cancel is called (work is to end soon after), and the
  // result is false. This default, for a UI thread without events of its
  // own, runs work on the calling thread.
  virtual bool runOnWorkerAndWait(const std::function<void()>& work, const std::function<void()>& /*cancel*/) {
    work();
    return true;
  }
};

}  // namespace orv
