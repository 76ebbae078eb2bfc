#include "TokvaneCore/Foundation/FileDescriptor.hpp"

#include <fcntl.h>
#include <unistd.h>

#include "TokvaneCore/Foundation/RetryOnEINTR.hpp"

namespace tokvane {

FileDescriptor FileDescriptor::openForReading(const std::filesystem::path& path, int extraFlags) {
  return FileDescriptor(retryOnEINTR([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | extraFlags); }));
}

void FileDescriptor::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

}  // namespace tokvane
