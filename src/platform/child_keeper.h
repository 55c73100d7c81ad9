#pragma once

// The keeper of a captured child (child_process.h); only child_launch uses
// it.
//
// The parent-death signal reaches one process only: a program killed with
// it leaves its own children to init, and they run on. So the program is
// not our child but the keeper's, a forked copy of this process that never
// executes anything else:
// - it leads a process group, and the program runs in that group, so that
//   cancelling (SIGKILL to the group) ends the keeper, the program and the
//   program's children as before;
// - it is a child subreaper: whatever the program leaves behind becomes
//   the keeper's child instead of init's;
// - when this process ends, however it ends, the keeper kills the program
//   and every process it left (its group, then the children handed to the
//   keeper, until none is left) and exits;
// - when the program ends, the keeper ends the same way (the exit code, or
//   the signal), so whoever waits for the keeper learns the program's end.

#include "platform/child_launch.h"

namespace orv::child_launch {

// Runs in a fresh fork of this process made on the forking thread (every
// signal blocked). System calls only: other threads may have held any lock
// at the fork. Never returns.
[[noreturn]] void Keep(const Launch& launch) noexcept;

}  // namespace orv::child_launch
