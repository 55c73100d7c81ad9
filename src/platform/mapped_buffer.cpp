#include "platform/mapped_buffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include <sys/mman.h>

namespace orv {

namespace {

constexpr std::size_t kLargePage = std::size_t{2} << 20;

char* Map(std::size_t capacity) {
  void* at = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (at == MAP_FAILED) throw std::bad_alloc();
  // The first large page's worth stays in small pages: most outputs are a
  // few lines.
  const auto begin = reinterpret_cast<std::uintptr_t>(at);
  const std::uintptr_t large = (begin + 2 * kLargePage - 1) & ~(kLargePage - 1);
  if (large < begin + capacity) ::madvise(reinterpret_cast<void*>(large), begin + capacity - large, MADV_HUGEPAGE);
  return static_cast<char*>(at);
}

}  // namespace

MappedBuffer::MappedBuffer(MappedBuffer&& other) noexcept
    : firstReservation_(other.firstReservation_),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

MappedBuffer& MappedBuffer::operator=(MappedBuffer&& other) noexcept {
  if (this != &other) {
    Clear();
    firstReservation_ = other.firstReservation_;
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

MappedBuffer::~MappedBuffer() { Clear(); }

char* MappedBuffer::Reserve(std::size_t more) {
  if (capacity_ - size_ >= more) return data_ + size_;
  const std::size_t capacity = std::max(firstReservation_, 2 * (size_ + more));
  char* grown = Map(capacity);
  if (data_) {
    std::memcpy(grown, data_, size_);
    ::munmap(data_, capacity_);
  }
  data_ = grown;
  capacity_ = capacity;
  return data_ + size_;
}

void MappedBuffer::Append(const char* bytes, std::size_t count) {
  if (count == 0) return;
  std::memcpy(Reserve(count), bytes, count);
  Commit(count);
}

void MappedBuffer::Clear() {
  if (data_) ::munmap(data_, capacity_);
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
}

}  // namespace orv
