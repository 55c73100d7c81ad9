#include "platform/qt_ui_thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <atomic>
#include <exception>
#include <thread>

namespace orv {

namespace {

// Nothing thrown by posted work may reach Qt's event loop, which cannot
// handle exceptions and would end the program. Work with a channel of its
// own to the user reports there first; this is the last line.
void runGuarded(const std::function<void()>& task) {
  try {
    task();
  } catch (const std::exception& e) {
    qWarning("Work on the UI thread failed: %s", e.what());
  } catch (...) {
    qWarning("Work on the UI thread failed with an unknown error");
  }
}

}  // namespace

QtUiThread::QtUiThread() : context_(std::make_unique<QObject>()) {}

QtUiThread::~QtUiThread() = default;

void QtUiThread::post(std::function<void()> task) {
  QMetaObject::invokeMethod(
      context_.get(), [task = std::move(task)] { runGuarded(task); }, Qt::QueuedConnection);
}

void QtUiThread::invokeAndWait(const std::function<void()>& task) {
  if (isCurrent()) {
    task();
    return;
  }
  QMetaObject::invokeMethod(context_.get(), task, Qt::BlockingQueuedConnection);
}

void QtUiThread::processPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

bool QtUiThread::isCurrent() const { return QThread::currentThread() == context_->thread(); }

// A local event loop without user input: the window repaints and closes,
// timers and posted work run, and nothing the user clicks or types can
// start more work meanwhile. Quitting the application ends every event
// loop of the thread, this one included (and one started after it at
// once), so a close during the wait ends the program without waiting for
// the work's own end.
bool QtUiThread::runOnWorkerAndWait(const std::function<void()>& work, const std::function<void()>& cancel) {
  if (!isCurrent()) {
    work();
    return true;
  }
  QEventLoop loop;
  std::atomic<bool> finished{false};
  std::exception_ptr error;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
    finished = true;
    // Queued behind whatever the work posted before it ended.
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  const bool completed = finished;
  if (!completed) cancel();
  worker.join();
  if (error) std::rethrow_exception(error);
  return completed;
}

}  // namespace orv
