#include "qt_ui_thread.h"

#include <QCoreApplication>
#include <QThread>

namespace orv {

QtUiThread::QtUiThread() : context_(std::make_unique<QObject>()) {}

QtUiThread::~QtUiThread() = default;

void QtUiThread::post(std::function<void()> task) {
  QMetaObject::invokeMethod(context_.get(), std::move(task), Qt::QueuedConnection);
}

void QtUiThread::invokeAndWait(const std::function<void()>& task) {
  if (isCurrent()) {
    task();
    return;
  }
  QMetaObject::invokeMethod(context_.get(), task, Qt::BlockingQueuedConnection);
}

void QtUiThread::processPendingEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool QtUiThread::isCurrent() const { return QThread::currentThread() == context_->thread(); }

}  // namespace orv
