#include "platform/child_launch.h"

#include "platform/child_keeper.h"

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace orv::child_launch {

namespace {

// From here to the exec the child borrows our memory (vfork) in a process
// whose other threads may hold any lock: system calls only, nothing that
// allocates or locks.

// Every signal is still blocked here (ForkingThread), so a handler of ours
// cannot run on our memory; dispositions go back to the default before the
// mask is emptied. Handlers would be reset by the exec anyway, ignored
// signals would not (the engine ignores SIGPIPE, which a handler's own
// pipelines need). SIGKILL, SIGSTOP and the C library's own refuse quietly.
void ResetSignals() {
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  for (int number = 1; number < NSIG; ++number) ::sigaction(number, &defaults, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// A fork without the C library's wrapper or a sanitizer's: vfork must not
// nest (a sanitizer keeps one saved return address per thread, and the
// parent would come back into the middle process's code), and the copy
// makes system calls only.
pid_t RawFork() { return static_cast<pid_t>(::syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0)); }

// The keeper makes no exec: it lives on beside us in memory of its own.
pid_t ForkKeeper(const Launch& launch) {
  const pid_t pid = RawFork();
  if (pid == 0) Keep(launch);
  return pid;
}

// The middle process of a detached start: leads a new session, starts the
// program in it (not as the leader, so it never gets a controlling
// terminal by opening one) and ends, which hands the program to init.
[[noreturn]] void Detach(const Launch& launch) noexcept {
  if (::setsid() < 0) FailStart(launch.report);
  const pid_t pid = RawFork();
  if (pid == 0) Exec(launch);
  if (pid < 0) FailStart(launch.report);
  ::_exit(0);
}

// vfork rather than fork: the child borrows our memory until its exec
// instead of copying the page tables, which costs tens of milliseconds per
// start beside the browser engine's memory. The caller stays suspended
// meanwhile. posix_spawn cannot ask for the parent-death signal.
pid_t VforkChild(const Launch& launch) {
  const pid_t pid = ::vfork();
  if (pid == 0) {
    if (launch.grouping == Grouping::Detached) Detach(launch);
    Exec(launch);
  }
  return pid;
}

// Forks children on one thread that lives as long as the process. The
// parent-death signal comes when the *thread* that forked a child ends,
// and callers run on threads that come and go; forked here, the signal
// means that the application has ended. The thread blocks every signal, so
// the child starts with no handler able to run.
class ForkingThread {
public:
  static pid_t Fork(const Launch& launch) {
    static const std::shared_ptr<Queue> queue = Start();
    std::packaged_task<pid_t()> task([&launch] {
      const pid_t pid = launch.grouping == Grouping::Kept ? ForkKeeper(launch) : VforkChild(launch);
      return pid < 0 ? -errno : pid;
    });
    std::future<pid_t> forked = task.get_future();
    {
      const std::lock_guard lock(queue->mutex);
      queue->tasks.push_back(std::move(task));
    }
    queue->added.notify_one();
    return forked.get();
  }

private:
  struct Queue {
    std::mutex mutex;
    std::condition_variable added;
    std::deque<std::packaged_task<pid_t()>> tasks;
  };

  static std::shared_ptr<Queue> Start() {
    auto queue = std::make_shared<Queue>();
    // Never joined, and sharing the queue, so neither goes before the
    // process does: destroying a condition variable that a thread waits on
    // would hang the exit.
    std::thread([queue] {
      sigset_t all;
      sigfillset(&all);
      ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
      for (;;) {
        std::unique_lock lock(queue->mutex);
        queue->added.wait(lock, [&] { return !queue->tasks.empty(); });
        std::packaged_task<pid_t()> task = std::move(queue->tasks.front());
        queue->tasks.pop_front();
        lock.unlock();
        task();
      }
    }).detach();
    return queue;
  }
};

}  // namespace

pid_t Start(const Launch& launch) { return ForkingThread::Fork(launch); }

[[noreturn]] void Exec(const Launch& launch) noexcept {
  int report = launch.report;
  if (launch.dieWithUs) {
    // If we ended before the prctl, the child has another parent already.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) FailStart(report);
    if (::getppid() != launch.parent) ExitNow(127);
  }
  if (launch.grouping == Grouping::NewSession && ::setsid() < 0) FailStart(report);
  for (int target = 0; target < 3; ++target)
    if (launch.stdio[target] >= 0 && ::dup2(launch.stdio[target], target) < 0) FailStart(report);
  // Only the report stays, at 3: descriptors that other code of this
  // process opened without close-on-exec are ours, not the child's.
  constexpr int kReport = 3;
  if (report != kReport) {
    if (::dup3(report, kReport, O_CLOEXEC) < 0) FailStart(report);
    report = kReport;
  }
  ::closefrom(kReport + 1);
  if (launch.workingFolder && ::chdir(launch.workingFolder) != 0) FailStart(report);
  ResetSignals();
  ::execve(launch.path, launch.argv, launch.envp);
  FailStart(report);
}

void FailStart(int report) noexcept {
  const int error = errno;
  [[maybe_unused]] const ssize_t written = ::write(report, &error, sizeof error);
  ExitNow(127);
}

void ExitNow(int code) noexcept {
  ::syscall(SYS_exit_group, code);
  __builtin_unreachable();
}

}  // namespace orv::child_launch
