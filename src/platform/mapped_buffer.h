#pragma once

#include <cstddef>

namespace orv {

// Bytes in memory mapped for them alone, for a text that grows large:
// within its reservation it never moves, so growing copies nothing and
// touches no more memory than the bytes written (the heap's realloc may
// copy a block and hold both copies for a moment). Past its first two MiB
// the memory comes in the system's large pages, which cost a fraction of
// the page faults. Memory goes back to the system when the buffer is
// cleared or destroyed.
class MappedBuffer {
public:
  // Address space only, a GiB by default: pages exist once written, so a
  // small text costs no more than its bytes. A text that outgrows it moves
  // once to a mapping twice its size.
  explicit MappedBuffer(std::size_t firstReservation = std::size_t{1} << 30) : firstReservation_(firstReservation) {}
  MappedBuffer(MappedBuffer&& other) noexcept;
  MappedBuffer& operator=(MappedBuffer&& other) noexcept;
  MappedBuffer(const MappedBuffer&) = delete;
  MappedBuffer& operator=(const MappedBuffer&) = delete;
  ~MappedBuffer();

  const char* data() const { return data_; }
  std::size_t size() const { return size_; }

  // Room for at least `more` bytes after the end: where they go. The bytes
  // count once Commit() says how many were written. Throws std::bad_alloc
  // when the system has no memory to give.
  char* Reserve(std::size_t more);
  void Commit(std::size_t written) { size_ += written; }
  // Appends bytes.
  void Append(const char* bytes, std::size_t count);
  // Drops the bytes from `size` on.
  void Truncate(std::size_t size) {
    if (size < size_) size_ = size;
  }
  // Empty again, its memory handed back.
  void Clear();

private:
  std::size_t firstReservation_;
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace orv
