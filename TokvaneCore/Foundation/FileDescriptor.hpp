#pragma once

#include <filesystem>
#include <utility>

namespace tokvane {

// Owns one file descriptor and closes it when it goes (a failing close is
// ignored: nothing is written through a descriptor it owns for reading).
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) reset(std::exchange(other.fd_, -1));
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  // Opens `path` read-only with O_CLOEXEC, O_NONBLOCK (a named pipe under the
  // name must not hang the reader; it changes nothing for regular files) and
  // `extraFlags`, retrying on EINTR. Invalid on failure, with errno set.
  static FileDescriptor openForReading(const std::filesystem::path& path, int extraFlags = 0);

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }
  // Closes the descriptor held and takes `fd` in its place.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

}  // namespace tokvane
