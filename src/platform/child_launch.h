#pragma once

// The fork-and-exec step of the child-process facility (child_process.h);
// nothing else uses it.

#include <sys/types.h>

namespace orv::child_launch {

enum class Grouping {
  Kept,        // under a keeper (child_keeper.h) that leads a process group for it, in our session
  Ours,        // our process group (the keeper's, for the program it starts)
  NewSession,  // a session (and group) of its own
  Detached,    // a session of its own, under a middle process that ends at once
};

// Everything the child needs, made beforehand: until its exec the child
// shares our memory and may make system calls only.
struct Launch {
  const char* path = nullptr;  // the file to execute
  char* const* argv = nullptr;
  char* const* envp = nullptr;
  const char* workingFolder = nullptr;  // nullptr keeps ours
  // Placed at 0, 1 and 2; -1 leaves ours. Each is above 2.
  int stdio[3] = {-1, -1, -1};
  // Close-on-exec and above 2: gets errno when the start fails, and
  // closes without a word when the program runs.
  int report = -1;
  Grouping grouping = Grouping::Ours;
  // Killed with SIGKILL when the process that started it ends.
  bool dieWithUs = false;
  pid_t parent = 0;  // the id of the process that starts it
};

// Forks and starts the program. The pid of the child (for Detached, of the
// middle process, which has ended or is about to), or minus errno when no
// process could be made. Whether the program itself runs, the report says.
pid_t Start(const Launch& launch);

// The child's side of a start, from the fork on: arranges the child and
// executes the program, or reports why it cannot and exits. System calls
// only.
[[noreturn]] void Exec(const Launch& launch) noexcept;

// The child's side of a failed start: writes errno to the report and
// exits.
[[noreturn]] void FailStart(int report) noexcept;

// Ends the calling process at once, with nothing of the C library's or a
// sanitizer's run on the way out: in a forked copy of a multi-threaded
// process those may wait for a lock that another thread held at the fork.
[[noreturn]] void ExitNow(int code) noexcept;

}  // namespace orv::child_launch
