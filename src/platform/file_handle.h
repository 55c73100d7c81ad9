#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

namespace orv {

// One open file descriptor, owned, with the few direct calls that code
// outside platform needs (archive reading and extraction). Results are
// errno values: 0 on success.
class FileHandle {
public:
  FileHandle() = default;
  // Takes over descriptor (closed by the destructor unless Close()d).
  explicit FileHandle(int descriptor) : descriptor_(descriptor) {}
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle();

  // Opens an existing file for reading; error gets errno when it cannot.
  static FileHandle OpenForReading(const QString& path, int& error);

  bool IsOpen() const { return descriptor_ >= 0; }
  // The file's size, or errno in error.
  std::uint64_t Size(int& error) const;
  // Reads up to size bytes at offset, leaving the file position alone,
  // retrying when interrupted: the count (0 at the end), or minus errno.
  std::int64_t ReadAt(char* data, std::uint64_t size, std::uint64_t offset) const;
  // Writes all of data.
  int WriteAll(const char* data, std::size_t size);
  // Adds the executable bits to the permissions the file has.
  int AddExecutableBits();
  int Close();

private:
  int descriptor_ = -1;
};

}  // namespace orv
