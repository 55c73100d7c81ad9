#pragma once

#include <QString>

namespace orv {

// An exclusive lock between processes: flock() on a lock file that is
// created once and stays. The kernel drops the lock with its holder, so a
// holder killed at any moment leaves nothing that holds up the next one
// (QLockFile's lock files, and those of its own stale-lock clean-up, are
// left empty by a holder killed while creating one, and then only their
// age tells they are stale). Separate opens exclude each other, so threads
// of one process do too. Held until destroyed.
class FileLock {
public:
  enum class Outcome { Held, Busy, Failed };

  // Waits up to timeoutMs for the lock; lockFile is made (private to the
  // user) when missing, its folder must exist.
  FileLock(const QString& lockFile, int timeoutMs);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Held, Busy when another holder kept it past the time-out, or Failed
  // when the lock file cannot be opened or locked.
  Outcome Result() const { return outcome_; }

private:
  int fd_ = -1;
  Outcome outcome_ = Outcome::Failed;
};

}  // namespace orv
