#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "TokvaneCore/Foundation/Date.hpp"

namespace tokvane {

// A pending piece of work that can be called off before it runs.
class Cancellable {
 public:
  virtual ~Cancellable() = default;
  virtual void cancel() = 0;
  virtual bool isCancelled() const = 0;
};

// Flags of one file-change event, as the watcher reads them.
struct FileEventFlags {
  static constexpr uint32_t mustScanSubDirs = 0x1;  // the folder must be scanned again
  static constexpr uint32_t userDropped = 0x2;      // events were lost on our side
  static constexpr uint32_t kernelDropped = 0x4;    // events were lost in the kernel
  static constexpr uint32_t itemCreated = 0x100;
  static constexpr uint32_t itemRemoved = 0x200;
  static constexpr uint32_t itemRenamed = 0x800;
  static constexpr uint32_t itemModified = 0x1000;
  static constexpr uint32_t itemIsFile = 0x10000;
  static constexpr uint32_t itemIsDir = 0x20000;
};

struct FileEvent {
  std::string path;
  uint32_t flags = 0;
};

// A running stream of file-change events over a set of folder trees. Batches
// arrive on the stream's own thread; destroying the stream stops it first.
class FileEventStream {
 public:
  virtual ~FileEventStream() = default;
};

using FileEventCallback = std::function<void(const std::vector<FileEvent>& batch)>;

// Everything the engine needs from its surroundings, behind one interface and
// passed in explicitly: the application binds it to its event loop, the
// headless build to a plain loop, tests to a manual queue and a virtual clock.
class Env {
 public:
  virtual ~Env() = default;

  // Runs `work` on the main thread, after everything posted before it.
  virtual void postToMain(std::function<void()> work) = 0;
  // Whether the caller is on the main thread.
  virtual bool isMainThread() const = 0;

  // The current time.
  virtual Date now() = 0;

  // Runs `work` on the main thread once `delaySeconds` have passed, unless
  // the returned handle was cancelled first.
  virtual std::shared_ptr<Cancellable> scheduleOnMain(double delaySeconds, std::function<void()> work) = 0;

  // Runs `work` detached, off the main thread, at utility priority.
  virtual void runInBackground(std::function<void()> work) = 0;

  // Writes one line to the system log.
  virtual void log(std::string_view line) = 0;

  // Starts watching the folder trees under `roots`. Batches gather events for
  // `latencySeconds` from the first one and are delivered on the stream's own
  // thread. A root that does not exist is waited for, and one that goes is
  // waited for again; when it appears it is watched and reported by its own
  // path. Returns none when no stream could be made.
  virtual std::unique_ptr<FileEventStream> watchFiles(const std::vector<std::string>& roots,
                                                      double latencySeconds, FileEventCallback onBatch) = 0;
};

}  // namespace tokvane
