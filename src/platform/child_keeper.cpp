#include "platform/child_keeper.h"

#include <cerrno>
#include <csignal>
#include <cstddef>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orv::child_launch {

namespace {

// Everything here runs in the keeper, a fork of a multi-threaded process:
// system calls only, and made directly where the C library's wrapper is a
// sanitizer's hook (those may take locks that another thread held at the
// fork).

// What the parent-death signal brings: the program has ended.
constexpr int kProgramEnded = SIGHUP;
// The kernel's signal set is one word; glibc's sigset_t is larger.
constexpr long kKernelSigsetSize = _NSIG / 8;

long Kill(pid_t pid, int signal) { return ::syscall(SYS_kill, pid, signal); }

pid_t WaitAny(int& status, int options) {
  return static_cast<pid_t>(::syscall(SYS_wait4, -1, &status, options, nullptr));
}

void CloseAll() { ::syscall(SYS_close_range, 0U, ~0U, 0U); }

// Starts the program as our child, in our group.
pid_t StartProgram(const Launch& launch) {
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer's vfork is a fork that first takes the sanitizer's own
  // locks, which another thread may have held at our fork: copy instead.
  const pid_t pid = static_cast<pid_t>(::syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0));
#else
  const pid_t pid = ::vfork();
#endif
  if (pid == 0) Exec(launch);
  return pid;
}

// A decimal number at text, moving text past it; -1 when there is none.
long long Number(const char*& text, const char* end) {
  if (text == end || *text < '0' || *text > '9') return -1;
  long long number = 0;
  for (; text != end && *text >= '0' && *text <= '9'; ++text) number = number * 10 + (*text - '0');
  return number;
}

// Whether the process is our child or in our group, from /proc/<pid>/stat:
// "pid (name) state ppid pgrp ...", the name holding any byte.
bool Ours(int procFolder, const char* pid, pid_t self) {
  char path[64] = {};
  std::size_t length = 0;
  for (const char* c = pid; *c && length < 50; ++c) path[length++] = *c;
  for (const char* c = "/stat"; *c; ++c) path[length++] = *c;
  const int fd = static_cast<int>(::syscall(SYS_openat, procFolder, path, O_RDONLY | O_CLOEXEC, 0));
  if (fd < 0) return false;
  char stat[512];
  const long got = ::syscall(SYS_read, fd, stat, sizeof stat);
  ::syscall(SYS_close, fd);
  if (got <= 0) return false;
  const char* end = stat + got;
  const char* text = end;
  while (text != stat && text[-1] != ')') --text;
  // ") S ppid pgrp"
  if (text == stat || end - text < 4 || text[0] != ' ' || text[2] != ' ') return false;
  text += 3;
  const long long parent = Number(text, end);
  if (text == end || *text++ != ' ') return false;
  const long long group = Number(text, end);
  return parent == self || group == self;
}

// Kills every process that is our child or in our group, except us; false
// when /proc cannot be read.
bool KillOurs(pid_t self) {
  const int proc = static_cast<int>(::syscall(SYS_openat, AT_FDCWD, "/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (proc < 0) return false;
  alignas(dirent64) char entries[4096];
  for (;;) {
    const long got = ::syscall(SYS_getdents64, proc, entries, sizeof entries);
    if (got <= 0) break;
    for (long offset = 0; offset < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(entries + offset);
      offset += entry->d_reclen;
      const char* name = entry->d_name;
      const char* nameEnd = name;
      while (*nameEnd) ++nameEnd;
      const long long pid = Number(name, nameEnd);
      if (pid > 0 && name == nameEnd && pid != self && Ours(proc, entry->d_name, self))
        Kill(static_cast<pid_t>(pid), SIGKILL);
    }
  }
  ::syscall(SYS_close, proc);
  return true;
}

// The program has ended or is about to: kills it and everything it left,
// reaping each. A killed process hands its children to us before it can be
// reaped, so once no child is left there is nothing else.
[[noreturn]] void EndEverything(pid_t self) {
  int status = 0;
  do {
    if (!KillOurs(self)) {
      // Without /proc only the group can be reached; the kernel spares
      // no member, us included.
      Kill(-self, SIGKILL);
    }
  } while (WaitAny(status, 0) > 0);
  ExitNow(0);
}

// Ends the way the program ended: with its exit code, or by its signal
// (without a core file: this is not the process that failed).
[[noreturn]] void EndLike(int status) {
  if (!WIFSIGNALED(status)) ExitNow(WEXITSTATUS(status));
  const int signal = WTERMSIG(status);
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  ::sigaction(signal, &defaults, nullptr);
  Kill(::getpid(), signal);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::syscall(SYS_rt_sigprocmask, SIG_UNBLOCK, &only, nullptr, kKernelSigsetSize);
  // A signal whose default is to be ignored ends nobody: as a shell tells it.
  ExitNow(128 + signal);
}

}  // namespace

void Keep(const Launch& launch) noexcept {
  const pid_t self = ::getpid();
  // An ignored signal is dropped even while blocked: these must arrive.
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  if (::sigaction(SIGCHLD, &defaults, nullptr) != 0 || ::sigaction(kProgramEnded, &defaults, nullptr) != 0 ||
      ::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0 || ::prctl(PR_SET_PDEATHSIG, kProgramEnded) != 0 || ::setpgid(0, 0) != 0)
    FailStart(launch.report);
  // If we ended before the prctl, the keeper has another parent already.
  if (::getppid() != launch.parent) ExitNow(127);

  Launch program = launch;
  program.grouping = Grouping::Ours;
  program.dieWithUs = true;  // should the keeper be killed on its own
  program.parent = self;
  const pid_t child = StartProgram(program);
  if (child < 0) FailStart(launch.report);
  // Our copies of the report and of the output pipe would keep them open
  // after the program's end, and of the rest of this process's descriptors
  // (sockets, locks) too.
  CloseAll();

  sigset_t awaited;
  sigemptyset(&awaited);
  sigaddset(&awaited, SIGCHLD);
  sigaddset(&awaited, kProgramEnded);
  for (;;) {
    siginfo_t info{};
    ::syscall(SYS_rt_sigtimedwait, &awaited, &info, nullptr, kKernelSigsetSize);
    // The parent-death signal is told by our new parent, not by the signal,
    // which anybody may send.
    if (::getppid() != launch.parent) EndEverything(self);
    int status = 0;
    for (pid_t ended; (ended = WaitAny(status, WNOHANG)) > 0;)
      if (ended == child) EndLike(status);
  }
}

}  // namespace orv::child_launch
