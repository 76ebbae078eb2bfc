#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Tokvane/Engine/Runtime/Env.hpp"

namespace tokvane {

// File-change events over Linux inotify, shaped the way the directory
// watcher expects them:
// - every folder under each root is watched, and folders created (or moved
//   in) later are watched as they appear; such a new folder is reported by
//   its own path, so files written into it before its watch existed are not
//   missed by whoever scans the folder; a folder moved away from under the
//   roots is no longer watched;
// - events are gathered for `latency` seconds from the first one and
//   delivered as one batch on the stream's own thread, one event per changed
//   path with its flags merged;
// - a kernel queue overflow, a batch grown too large, or a folder that could
//   not be watched is reported as a must-scan event on the affected roots, so
//   the receiver reads whole roots instead; a folder that could not be
//   watched for want of permission is tried again when its permissions
//   change, and reported by its own path once it is watched;
// - a root that does not exist is waited for: its nearest existing parent
//   folder is watched for the next folder on the way down, and once the root
//   is there it is watched and reported by its own path (so the receiver
//   scans it). A root that is deleted or moved away is waited for again.
class InotifyEventStream final : public FileEventStream {
 public:
  // The thread carries the watcher queue's label, cut to the 15 bytes a
  // Linux thread name holds.
  static constexpr const char* threadName = "app.tokvane.dir";
  // Past this many distinct paths in one batch, the batch becomes must-scan
  // events on the roots.
  static constexpr size_t maxPathsPerBatch = 50000;

  // Returns none when inotify is unavailable.
  static std::unique_ptr<InotifyEventStream> start(const std::vector<std::string>& roots, double latencySeconds,
                                                   FileEventCallback onBatch);
  ~InotifyEventStream() override;

 private:
  InotifyEventStream(int inotifyFd, int wakeFd, std::vector<std::string> roots, double latencySeconds,
                     FileEventCallback onBatch);
  void run();
  // Watches the tree; 0, or the errno of the failed watch of `directory`
  // itself.
  int addTree(const std::string& directory, bool reportFailureAsRoot);
  // Watches root `index` when it is there, else waits for it; `report`: a
  // root that is watched anew is reported by its path.
  void settleRoot(size_t index, bool report);
  // Stops waiting for root `index` (its wait watch goes unless another root
  // or a watched folder shares it).
  void releaseWait(size_t index);
  // Handles an event of a folder that roots wait on; false when no root
  // waits on `wd`.
  bool handleWaitEvent(int wd, uint32_t mask, const std::string& name);
  void dropTree(const std::string& directory);
  // 0, or the errno of the failed inotify_add_watch.
  int addWatch(const std::string& directory);
  void handleBuffer(const char* buffer, size_t length);
  void note(const std::string& path, uint32_t flags);
  void noteMustScan(const std::string& path, uint32_t dropFlag);
  std::string rootOf(const std::string& path) const;
  void deliver();

  int inotifyFd_;
  int wakeFd_;
  std::vector<std::string> roots_;
  std::chrono::steady_clock::duration latency_;
  FileEventCallback onBatch_;
  std::unordered_map<int, std::string> watches_;
  // Per root: whether its tree is watched, else the folder (and its watch)
  // through which it is waited for; -1 when there is nothing to wait on.
  struct RootState {
    bool watched = false;
    int waitWd = -1;
    std::string waitFolder;
  };
  std::vector<RootState> rootStates_;
  // Folders whose watch was refused (no permission): tried again when their
  // permissions change.
  std::unordered_set<std::string> unwatchable_;
  std::vector<FileEvent> pending_;
  std::unordered_map<std::string, size_t> pendingIndex_;
  std::chrono::steady_clock::time_point batchDue_;
  bool overflowed_ = false;
  std::thread thread_;
};

}  // namespace tokvane
