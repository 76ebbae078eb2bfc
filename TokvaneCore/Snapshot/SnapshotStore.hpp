#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string_view>

#include "TokvaneCore/Snapshot/Snapshot.hpp"

namespace tokvane {

// Writes and reads "snapshot.json", the one file through which the
// application hands the widget program what to show. Both programs find it
// in the app-group container, the folder the application writes and the
// widget reads. Holds no state beyond its directory.
class SnapshotStore {
 public:
  // The app group whose container holds the snapshot.
  static constexpr std::string_view appGroup = "K7QX4TLM2B.app.tokvane";
  static constexpr std::string_view fileName = "snapshot.json";
  // A snapshot is a few kilobytes; a larger file is not one of ours.
  static constexpr std::uintmax_t maxFileSize = 1 << 20;

  class StoreError : public std::exception {
   public:
    enum class Code { noContainer };

    explicit StoreError(Code code) : code_(code) {}
    Code code() const { return code_; }
    const char* what() const noexcept override;

    friend bool operator==(const StoreError& a, const StoreError& b) { return a.code_ == b.code_; }

   private:
    Code code_;
  };

  // The store in the app-group container (see appGroupContainer).
  SnapshotStore();
  // A given directory is used unchanged; none means there is no container.
  explicit SnapshotStore(std::optional<std::filesystem::path> directory);

  // The app-group container: ${XDG_DATA_HOME:-$HOME/.local/share}/<appGroup>.
  // None when neither $XDG_DATA_HOME (absolute) nor $HOME gives an absolute
  // folder. The folder need not exist yet.
  static std::optional<std::filesystem::path> appGroupContainer();

  const std::optional<std::filesystem::path>& directory() const { return directory_; }

  // Replaces the file atomically (a reader sees the old snapshot or the new
  // one, never a part), creating the directory first. Throws StoreError
  // (noContainer) when there is no directory, EncodingError when a number
  // is not finite, std::system_error for the file system; on any failure
  // the file on disk stays as it was.
  void write(const Snapshot& snapshot) const;

  // The stored snapshot; none when there is no directory or the file is
  // missing, unreadable, not a regular file, larger than maxFileSize or not
  // a valid snapshot. Never throws.
  std::optional<Snapshot> read() const;

 private:
  std::optional<std::filesystem::path> directory_;
};

}  // namespace tokvane
