#include "core/zip_file_source.h"

#include "platform/file_handle.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace orv {

namespace {

// The smallest read: a local header with its name, and the data of a small
// entry behind it.
constexpr zip_uint64_t kFirstRead = 8 * 1024;
constexpr zip_uint64_t kLargestRead = 1024 * 1024;

class ZipFileSource {
public:
  ZipFileSource(FileHandle file, zip_uint64_t size) : file_(std::move(file)), size_(size) { zip_error_init(&error_); }
  ~ZipFileSource() { zip_error_fini(&error_); }
  ZipFileSource(const ZipFileSource&) = delete;
  ZipFileSource& operator=(const ZipFileSource&) = delete;

  static zip_int64_t Call(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    return static_cast<ZipFileSource*>(self)->call(data, length, command);
  }

private:
  zip_int64_t call(void* data, zip_uint64_t length, zip_source_cmd_t command) {
    switch (command) {
      case ZIP_SOURCE_OPEN: position_ = 0; return 0;
      case ZIP_SOURCE_READ: return read(static_cast<char*>(data), length);
      case ZIP_SOURCE_CLOSE: return 0;
      case ZIP_SOURCE_STAT: {
        auto* stat = static_cast<zip_stat_t*>(data);
        zip_stat_init(stat);
        stat->size = size_;
        stat->valid |= ZIP_STAT_SIZE;
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_ERROR: return zip_error_to_data(&error_, data, length);
      case ZIP_SOURCE_FREE: delete this; return 0;
      case ZIP_SOURCE_SEEK: {
        const zip_int64_t target = zip_source_seek_compute_offset(position_, size_, data, length, &error_);
        if (target < 0) return -1;
        position_ = static_cast<zip_uint64_t>(target);
        return 0;
      }
      case ZIP_SOURCE_TELL: return static_cast<zip_int64_t>(position_);
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                              ZIP_SOURCE_SUPPORTS, -1);
      default: zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0); return -1;
    }
  }

  // Serves from the buffer; past it, reads on with twice the last read's
  // size, or the first size after a jump. A request at least that large
  // goes straight into the caller's memory.
  zip_int64_t read(char* data, zip_uint64_t length) {
    length = std::min(length, size_ - std::min(size_, position_));
    if (length == 0) return 0;
    if (position_ < bufferStart_ || position_ >= bufferStart_ + buffered_) {
      nextRead_ = position_ == readEnd_ ? std::min(nextRead_ * 2, kLargestRead) : kFirstRead;
      if (length >= nextRead_) {
        const zip_int64_t read = readFile(data, length);
        if (read > 0) position_ += static_cast<zip_uint64_t>(read);
        return read;
      }
      if (buffer_.empty()) buffer_.resize(kLargestRead);
      const zip_int64_t read = readFile(buffer_.data(), nextRead_);
      if (read <= 0) return read;
      bufferStart_ = position_;
      buffered_ = static_cast<zip_uint64_t>(read);
    }
    const zip_uint64_t served = std::min(length, bufferStart_ + buffered_ - position_);
    std::memcpy(data, buffer_.data() + (position_ - bufferStart_), served);
    position_ += served;
    return static_cast<zip_int64_t>(served);
  }

  // Reads from the file at the position, which stays where it is.
  zip_int64_t readFile(char* data, zip_uint64_t length) {
    const zip_int64_t read = file_.ReadAt(data, length, position_);
    if (read < 0) {
      zip_error_set(&error_, ZIP_ER_READ, static_cast<int>(-read));
      return -1;
    }
    readEnd_ = position_ + static_cast<zip_uint64_t>(read);
    return read;
  }

  const FileHandle file_;
  const zip_uint64_t size_;
  zip_error_t error_;
  zip_uint64_t position_ = 0;
  zip_uint64_t readEnd_ = 0;  // where the last read from the file ended
  zip_uint64_t nextRead_ = kFirstRead;
  std::vector<char> buffer_;
  zip_uint64_t bufferStart_ = 0;
  zip_uint64_t buffered_ = 0;
};

}  // namespace

zip_t* OpenZipFile(const QString& path, int flags, zip_error_t* error) {
  int failure = 0;
  FileHandle file = FileHandle::OpenForReading(path, failure);
  const zip_uint64_t size = failure ? 0 : file.Size(failure);
  if (failure) {
    zip_error_set(error, ZIP_ER_OPEN, failure);
    return nullptr;
  }
  auto* state = new ZipFileSource(std::move(file), size);
  zip_source_t* source = zip_source_function_create(&ZipFileSource::Call, state, error);
  if (source == nullptr) {
    delete state;
    return nullptr;
  }
  zip_t* archive = zip_open_from_source(source, flags, error);
  if (archive == nullptr) zip_source_free(source);  // frees the state too
  return archive;
}

}  // namespace orv
