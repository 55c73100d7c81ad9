#include "platform/file_lock.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace orv {

FileLock::FileLock(const QString& lockFile, int timeoutMs) {
  fd_ = ::open(QFile::encodeName(lockFile).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return;
  // A blocking flock() cannot time out; holders are brief, so poll.
  const QDeadlineTimer deadline(timeoutMs);
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK || deadline.hasExpired()) {
      outcome_ = errno == EWOULDBLOCK ? Outcome::Busy : Outcome::Failed;
      ::close(fd_);
      fd_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(QRandomGenerator::global()->bounded(500, 3000)));
  }
  outcome_ = Outcome::Held;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace orv
