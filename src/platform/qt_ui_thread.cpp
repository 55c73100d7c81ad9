#include "platform/qt_ui_thread.h"

#include <QCoreApplication>
#include <QThread>

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

}  // namespace orv
