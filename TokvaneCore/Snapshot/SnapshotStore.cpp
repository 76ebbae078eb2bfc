#include "TokvaneCore/Snapshot/SnapshotStore.hpp"

#include <fcntl.h>
#include <stdlib.h>

#include <string>

#include "TokvaneCore/Foundation/AtomicFile.hpp"
#include "TokvaneCore/Foundation/CappedFileRead.hpp"
#include "TokvaneCore/Foundation/FileDescriptor.hpp"

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
  const FileDescriptor file = FileDescriptor::openForReading(path, O_NOCTTY);
  if (!file) return std::nullopt;
  CappedFileRead whole = CappedFileRead::from(file, static_cast<int64_t>(limit));
  if (!whole.ok()) return std::nullopt;
  return std::move(whole.bytes);
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
