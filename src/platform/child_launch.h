#pragma once

// The fork-and-exec step of the child-process facility (child_process.h);
// nothing else uses it.

#include <sys/types.h>

namespace orv::child_launch {

enum class Grouping {
  NewGroup,    // a process group of its own, in our session
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
  Grouping grouping = Grouping::NewGroup;
  // Killed with SIGKILL when this process ends.
  bool dieWithUs = false;
  pid_t parent = 0;  // our process id
};

// Forks and starts the program. The pid of the child (for Detached, of the
// middle process, which has ended or is about to), or minus errno when no
// process could be made. Whether the program itself runs, the report says.
pid_t Start(const Launch& launch);

}  // namespace orv::child_launch
