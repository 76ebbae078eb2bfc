#include "TokvaneCore/Snapshot/SnapshotStore.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "TokvaneCore/Foundation/AtomicFile.hpp"

namespace tokvane {

const char* SnapshotStore::StoreError::what() const noexcept {
  switch (code_) {
    case Code::noContainer: return "no app-group container";
  }
  return "snapshot store error";
}

SnapshotStore::SnapshotStore() : SnapshotStore(appGroupContainer()) {}

SnapshotStore::SnapshotStore(std::optional<std::filesystem::path> directory) : directory_(std::move(directory)) {}

std::optional<std::filesystem::path> SnapshotStore::appGroupContainer() {
  std::filesystem::path dataHome;
  if (const char* xdg = getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
    dataHome = xdg;
  } else if (const char* home = getenv("HOME"); home && home[0] == '/') {
    dataHome = std::filesystem::path(home) / ".local" / "share";
  } else {
    return std::nullopt;
  }
  return dataHome / appGroup;
}

void SnapshotStore::write(const Snapshot& snapshot) const {
  if (!directory_) throw StoreError(StoreError::Code::noContainer);
  const std::string bytes = snapshot.encoded();
  // Throws std::filesystem::filesystem_error, a std::system_error.
  std::filesystem::create_directories(*directory_);
  AtomicFile::write(*directory_ / fileName, bytes);
}

namespace {

// The whole file when it is a regular file of at most `limit` bytes.
std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::uintmax_t limit) {
  // O_NONBLOCK keeps a FIFO planted under the name from blocking the open.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> result;
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::uintmax_t>(info.st_size) <= limit) {
    // Stops once past the limit, so a file that grew meanwhile is refused too.
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[65536];
    bool failed = false;
    while (bytes.size() <= limit) {
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n < 0) {
        if (errno == EINTR) continue;
        failed = true;
        break;
      }
      if (n == 0) break;
      bytes.append(chunk, static_cast<std::size_t>(n));
    }
    if (!failed && bytes.size() <= limit) result = std::move(bytes);
  }
  close(fd);
  return result;
}

}  // namespace

std::optional<Snapshot> SnapshotStore::read() const {
  if (!directory_) return std::nullopt;
  try {
    const auto bytes = readSmallFile(*directory_ / fileName, maxFileSize);
    if (!bytes) return std::nullopt;
    return Snapshot::decode(*bytes);
  } catch (...) {
    // A damaged file is the same as none: the widget shows its empty state.
    return std::nullopt;
  }
}

}  // namespace tokvane
