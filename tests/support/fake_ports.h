#pragma once

// Test doubles of the desktop ports: they record what they were asked and
// answer as the test scripted.
#include "platform/dialogs.h"
#include "platform/elevated.h"
#include "platform/known_folders.h"
#include "platform/notifications.h"
#include "platform/processes.h"
#include "platform/shell.h"
#include "platform/ui_thread.h"

#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace orv::test {

// Known folders under one root folder.
class FixedFolders final : public KnownFolders {
public:
  explicit FixedFolders(QString root) : root_(std::move(root)) {}
  QString Downloads() const override { return root_ + "/Downloads"; }
  QString Documents() const override { return root_ + "/Documents"; }
  QString LocalAppData() const override { return root_ + "/data"; }
  QString Temp() const override { return root_ + "/tmp"; }

private:
  QString root_;
};

// The UI thread is the test's thread; posted work waits until Pump().
// Any thread may post.
class ManualUiThread final : public UiThread {
public:
  void post(std::function<void()> task) override {
    {
      const std::lock_guard lock(mutex_);
      queue_.push_back(std::move(task));
    }
    posted_.notify_all();
  }
  void invokeAndWait(const std::function<void()>& task) override { task(); }
  void processPendingEvents() override { Pump(); }
  bool isCurrent() const override { return true; }

  // Runs what is queued, including work queued meanwhile.
  void Pump() {
    while (auto task = Take()) task();
  }
  // Pumps, waiting for work that other threads post, until done() holds;
  // false when it still does not after the timeout.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      Pump();
      if (done()) return true;
      if (!WaitForWork(deadline)) return done();
    }
  }
  // Waits until work is queued; false at the deadline.
  bool WaitForWork(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return posted_.wait_until(lock, deadline, [this] { return !queue_.empty(); });
  }
  bool Idle() const {
    const std::lock_guard lock(mutex_);
    return queue_.empty();
  }

private:
  std::function<void()> Take() {
    const std::lock_guard lock(mutex_);
    if (queue_.empty()) return {};
    auto task = std::move(queue_.front());
    queue_.pop_front();
    return task;
  }

  mutable std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> queue_;
};

class ScriptedDialogs final : public Dialogs {
public:
  int Message(const QString& text, TMsgDlgType, TMsgDlgButtons, int) override {
    asked << text;
    return answer;
  }
  int answer = mrYes;
  QStringList asked;
};

class RecordingShell final : public Shell {
public:
  void OpenURL(const QString& url) override { opened << url; }
  void OpenFile(const QString& path) override { opened << path; }
  bool OpenTerminal(const QString& folder) override {
    opened << folder;
    return hasTerminal;
  }
  QStringList opened;
  bool hasTerminal = true;
};

class RecordingNotifications final : public Notifications {
public:
  void Show(const QString& name, const QString& title, const QString& body) override {
    shown << (name + QLatin1Char('|') + title + QLatin1Char('|') + body);
  }
  QStringList shown;
};

class FixedProcesses final : public Processes {
public:
  bool IsRunning(const QString& exeName) const override { return running.contains(exeName, Qt::CaseInsensitive); }
  QStringList running;
};

class RecordingElevated final : public Elevated {
public:
  int Run(const QString& folder, const QString& program, const QString& parameters) override {
    runs << (folder + QLatin1Char('|') + program + QLatin1Char('|') + parameters);
    if (whileRunning) whileRunning();
    return exitCode;
  }
  QStringList runs;
  int exitCode = 0;
  // What happens while the program runs: the UI keeps processing events.
  std::function<void()> whileRunning;
};

}  // namespace orv::test
