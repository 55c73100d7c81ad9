#include "platform/file_handle.h"

#include <QFile>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orv {

FileHandle::FileHandle(FileHandle&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    descriptor_ = std::exchange(other.descriptor_, -1);
  }
  return *this;
}

FileHandle::~FileHandle() { Close(); }

FileHandle FileHandle::OpenForReading(const QString& path, int& error) {
  const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  error = descriptor < 0 ? errno : 0;
  return FileHandle(descriptor);
}

std::uint64_t FileHandle::Size(int& error) const {
  struct stat info {};
  error = ::fstat(descriptor_, &info) == 0 ? 0 : errno;
  return error ? 0 : static_cast<std::uint64_t>(info.st_size);
}

std::int64_t FileHandle::ReadAt(char* data, std::uint64_t size, std::uint64_t offset) const {
  ssize_t read;
  do read = ::pread(descriptor_, data, size, static_cast<off_t>(offset));
  while (read < 0 && errno == EINTR);
  return read < 0 ? -errno : read;
}

int FileHandle::WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(descriptor_, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

int FileHandle::AddExecutableBits() {
  struct stat info {};
  if (::fstat(descriptor_, &info) != 0 || ::fchmod(descriptor_, (info.st_mode & 07777) | 0111) != 0) return errno;
  return 0;
}

int FileHandle::Close() {
  if (descriptor_ < 0) return 0;
  const int result = ::close(std::exchange(descriptor_, -1));
  return result == 0 ? 0 : errno;
}

}  // namespace orv
