#pragma once

#include "platform/ui_thread.h"

#include <QObject>

#include <memory>

namespace orv {

// The UI thread is the thread that constructs this object (Qt's main
// thread in the application). Tasks travel as queued calls to a private
// QObject living there, so they keep their request order.
class QtUiThread final : public UiThread {
public:
  QtUiThread();
  ~QtUiThread() override;

  void post(std::function<void()> task) override;
  void invokeAndWait(const std::function<void()>& task) override;
  void processPendingEvents() override;
  bool isCurrent() const override;
  bool runOnWorkerAndWait(const std::function<void()>& work, const std::function<void()>& cancel) override;

private:
  std::unique_ptr<QObject> context_;
};

}  // namespace orv
