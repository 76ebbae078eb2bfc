#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Tokvane/Engine/Runtime/Env.hpp"

namespace tokvane {

// Tells its owner which files changed under a fixed list of root folders.
// It runs one file-event stream over the roots; each batch the stream
// delivers becomes a list of changed paths, each once, in first-seen order:
// the changed paths themselves or, when the system asks for a rescan or lost
// events, the watched roots concerned. Nothing is filtered: deciding which
// paths matter is the receiver's business.
//
// The change handler runs on the stream's thread (the serial queue
// `queueLabel`), one batch at a time, and only with a non-empty list; the
// receiver decides where to take the work. The owner keeps the watcher alive
// while it watches; destroying it stops the stream first.
class DirectoryWatcher {
 public:
  using ChangeHandler = std::function<void(const std::vector<std::string>& paths)>;

  static constexpr const char* queueLabel = "app.tokvane.directory-watcher";
  // The event flags that ask for the affected roots instead of the path.
  static constexpr uint32_t rescanFlags =
      FileEventFlags::mustScanSubDirs | FileEventFlags::userDropped | FileEventFlags::kernelDropped;

  // Not yet watching; start() begins.
  DirectoryWatcher(std::vector<std::filesystem::path> paths, double latency, ChangeHandler onChange, Env& env);
  ~DirectoryWatcher();
  DirectoryWatcher(const DirectoryWatcher&) = delete;
  DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

  // Starts the stream. Does nothing while a stream runs or when there is
  // nothing to watch. When no stream can be made it stays quiet, and a later
  // call tries again.
  void start();
  bool isWatching() const { return stream_ != nullptr; }

  const std::vector<std::filesystem::path>& paths() const { return paths_; }
  double latency() const { return latency_; }

  // The changed list of one batch against the canonical roots: each event's
  // path with trailing "/" removed ("/" alone stays), or, for an event with
  // any of `rescanFlags`, the roots it touches (equal to the path, under it,
  // above it, or every root when the path is "/"), all roots when it touches
  // none. Each path once, in the order it first appears.
  static std::vector<std::string> changedPaths(const std::vector<FileEvent>& events,
                                               const std::vector<std::string>& roots);

 private:
  void handleBatch(const std::vector<FileEvent>& batch);
  // The canonical roots, computed at the first batch and then kept; only
  // touched on the stream's thread.
  const std::vector<std::string>& roots();

  std::vector<std::filesystem::path> paths_;
  double latency_;
  ChangeHandler onChange_;
  Env& env_;
  std::optional<std::vector<std::string>> roots_;
  // Last, so that it stops before anything the stream's callback uses goes.
  std::unique_ptr<FileEventStream> stream_;
};

}  // namespace tokvane
