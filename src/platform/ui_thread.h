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
};

}  // namespace orv
