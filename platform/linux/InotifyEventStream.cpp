#include "platform/linux/InotifyEventStream.hpp"

#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <exception>
#include <filesystem>

namespace tokvane {

namespace {

// IN_ATTRIB: a folder that could not be watched (no permission) is tried
// again when its permissions change.
constexpr uint32_t watchMask = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                               IN_DELETE_SELF | IN_MOVE_SELF | IN_ATTRIB | IN_ONLYDIR | IN_EXCL_UNLINK;

std::string canonical(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved)) return resolved;
  return path;
}

// The folder no longer exists as a folder at that path.
bool isGone(int error) { return error == ENOENT || error == ENOTDIR; }

bool startsWithFolder(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         (folder == "/" || path[folder.size()] == '/');
}

// The folder that holds `path`; empty for "/" and for a relative name.
std::string parentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || path == "/") return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The entry of `folder` on the way down to `path`, which lies below it.
std::string childToward(const std::string& folder, const std::string& path) {
  const size_t start = folder == "/" ? 1 : folder.size() + 1;
  const size_t end = path.find('/', start);
  return end == std::string::npos ? path : path.substr(0, end);
}

bool isFolder(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

uint32_t flagsFor(uint32_t mask) {
  uint32_t flags = (mask & IN_ISDIR) ? FileEventFlags::itemIsDir : FileEventFlags::itemIsFile;
  if (mask & IN_CREATE) flags |= FileEventFlags::itemCreated;
  if (mask & (IN_DELETE | IN_DELETE_SELF)) flags |= FileEventFlags::itemRemoved;
  if (mask & (IN_MOVED_FROM | IN_MOVED_TO | IN_MOVE_SELF)) flags |= FileEventFlags::itemRenamed;
  if (mask & (IN_MODIFY | IN_CLOSE_WRITE)) flags |= FileEventFlags::itemModified;
  return flags;
}

}  // namespace

std::unique_ptr<InotifyEventStream> InotifyEventStream::start(const std::vector<std::string>& roots,
                                                              double latencySeconds, FileEventCallback onBatch) {
  const int inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotifyFd < 0) return nullptr;
  const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd < 0) {
    close(inotifyFd);
    return nullptr;
  }
  std::vector<std::string> canonicalRoots;
  for (const auto& root : roots) canonicalRoots.push_back(canonical(root));
  try {
    return std::unique_ptr<InotifyEventStream>(
        new InotifyEventStream(inotifyFd, wakeFd, std::move(canonicalRoots), latencySeconds, std::move(onBatch)));
  } catch (const std::exception&) {
    // No thread could be started (or memory ran out): no stream, no leak.
    close(inotifyFd);
    close(wakeFd);
    return nullptr;
  }
}

InotifyEventStream::InotifyEventStream(int inotifyFd, int wakeFd, std::vector<std::string> roots,
                                       double latencySeconds, FileEventCallback onBatch)
    : inotifyFd_(inotifyFd), wakeFd_(wakeFd), roots_(std::move(roots)), onBatch_(std::move(onBatch)) {
  if (!(latencySeconds >= 0) || !std::isfinite(latencySeconds)) latencySeconds = 0;
  latency_ = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(std::min(latencySeconds, 3600.0)));
  // Watches are added before the thread starts so that nothing written after
  // start() returns is missed.
  rootStates_.resize(roots_.size());
  for (size_t i = 0; i < roots_.size(); ++i) settleRoot(i, false);
  thread_ = std::thread([this] {
    pthread_setname_np(pthread_self(), threadName);
    run();
  });
}

InotifyEventStream::~InotifyEventStream() {
  const uint64_t one = 1;
  [[maybe_unused]] auto written = write(wakeFd_, &one, sizeof one);
  if (thread_.joinable()) thread_.join();
  close(inotifyFd_);
  close(wakeFd_);
}

int InotifyEventStream::addWatch(const std::string& directory) {
  const int wd = inotify_add_watch(inotifyFd_, directory.c_str(), watchMask);
  if (wd < 0) return errno;
  // Watching a folder again (it was renamed) gives back its watch, now
  // under the new path.
  watches_[wd] = directory;
  return 0;
}

// Watches `directory` and every folder below it. A folder that cannot be
// watched is reported as a must-scan event on its root; one that is already
// gone (a missing root, or a folder removed or moved away before its watch
// was added) has nothing to watch or scan, and its disappearance is reported
// by its own events.
int InotifyEventStream::addTree(const std::string& directory, bool isRoot) {
  if (const int error = addWatch(directory); error != 0) {
    // A root that is not a folder cannot be watched, and is reported.
    const bool gone = isRoot ? error == ENOENT : isGone(error);
    if (!gone) {
      noteMustScan(isRoot ? directory : rootOf(directory), FileEventFlags::userDropped);
      if (error != ENOTDIR) unwatchable_.insert(directory);
    }
    return error;
  }
  std::error_code error;
  auto it = std::filesystem::recursive_directory_iterator(
      directory, std::filesystem::directory_options::skip_permission_denied, error);
  for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    std::error_code typeError;
    if (it->is_directory(typeError) && !it->is_symlink(typeError)) {
      const std::string folder = it->path().string();
      if (const int failure = addWatch(folder); failure != 0 && !isGone(failure)) {
        noteMustScan(rootOf(folder), FileEventFlags::userDropped);
        unwatchable_.insert(folder);
      }
    }
  }
  return 0;
}

void InotifyEventStream::settleRoot(size_t index, bool report) {
  const std::string& root = roots_[index];
  RootState& state = rootStates_[index];
  // Each round goes at least one folder further down, so this ends; the
  // bound only guards against a tree that is made and removed endlessly.
  for (int round = 0; round < 4096; ++round) {
    const int error = addTree(root, true);
    if (error == 0) {
      releaseWait(index);
      state.watched = true;
      if (report) note(root, FileEventFlags::itemCreated | FileEventFlags::itemIsDir);
      return;
    }
    state.watched = false;
    // The root was made between the failed watch and now: its parent may
    // already have sent the event of its making, so try it again at once
    // instead of waiting for a change that has happened. (Looked at once: a
    // root made just after this look must not count as one that cannot be
    // watched; the wait below finds it.)
    const bool rootIsFolder = isFolder(root);
    if (error == ENOENT && rootIsFolder) continue;
    // A root that is there but cannot be watched (no permission) was
    // reported for a rescan; its parent is watched for the change of its
    // permissions. A root that is not a folder waits for one in its place.
    const bool unwatchable = !isGone(error) || rootIsFolder;
    // Wait in the nearest folder above the root that can be watched.
    std::string folder = parentOf(root);
    int wd = -1;
    while (!folder.empty()) {
      wd = inotify_add_watch(inotifyFd_, folder.c_str(), watchMask);
      if (wd >= 0) break;
      folder = parentOf(folder);
    }
    if (wd < 0) {
      releaseWait(index);
      return;
    }
    if (state.waitWd != wd) {
      releaseWait(index);
      state.waitWd = wd;
    }
    state.waitFolder = folder;
    if (unwatchable) return;
    // A folder made on the way down before the watch existed sent no event:
    // go on from it now.
    if (!isFolder(childToward(folder, root))) return;
  }
}

void InotifyEventStream::releaseWait(size_t index) {
  RootState& state = rootStates_[index];
  if (state.waitWd < 0) return;
  const int wd = state.waitWd;
  state.waitWd = -1;
  state.waitFolder.clear();
  for (const RootState& other : rootStates_) {
    if (other.waitWd == wd) return;
  }
  if (!watches_.count(wd)) inotify_rm_watch(inotifyFd_, wd);
}

bool InotifyEventStream::handleWaitEvent(int wd, uint32_t mask, const std::string& name) {
  bool waited = false;
  for (size_t i = 0; i < roots_.size(); ++i) {
    RootState& state = rootStates_[i];
    if (state.waitWd != wd) continue;
    waited = true;
    if (mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
      // The folder waited in went: wait further up.
      if (mask & IN_IGNORED) {
        state.waitWd = -1;  // the kernel dropped the watch itself
        state.waitFolder.clear();
      }
      settleRoot(i, true);
      continue;
    }
    if (name.empty() || !(mask & (IN_CREATE | IN_MOVED_TO | IN_ATTRIB)) || !(mask & IN_ISDIR)) continue;
    const std::string child = state.waitFolder == "/" ? "/" + name : state.waitFolder + "/" + name;
    if (child == roots_[i] || startsWithFolder(roots_[i], child)) settleRoot(i, true);
  }
  return waited;
}

// Stops watching `directory` and every folder below it (it was moved away;
// if it was moved within the roots, the arrival adds it again).
void InotifyEventStream::dropTree(const std::string& directory) {
  for (auto it = watches_.begin(); it != watches_.end();) {
    const std::string& path = it->second;
    if (path == directory || (path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 &&
                              path[directory.size()] == '/')) {
      inotify_rm_watch(inotifyFd_, it->first);
      it = watches_.erase(it);
    } else {
      ++it;
    }
  }
}

std::string InotifyEventStream::rootOf(const std::string& path) const {
  for (const auto& root : roots_) {
    if (path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                         path[root.size()] == '/')) {
      return root;
    }
  }
  return path;
}

void InotifyEventStream::note(const std::string& path, uint32_t flags) {
  if (pending_.empty()) batchDue_ = std::chrono::steady_clock::now() + latency_;
  if (overflowed_) return;
  if (auto it = pendingIndex_.find(path); it != pendingIndex_.end()) {
    pending_[it->second].flags |= flags;
    return;
  }
  if (pending_.size() >= maxPathsPerBatch) {
    // Too much at once: hand over whole roots instead of a huge list.
    pending_.clear();
    pendingIndex_.clear();
    for (const auto& root : roots_) {
      pending_.push_back({root, FileEventFlags::mustScanSubDirs | FileEventFlags::userDropped});
    }
    overflowed_ = true;
    return;
  }
  pendingIndex_.emplace(path, pending_.size());
  pending_.push_back({path, flags});
}

void InotifyEventStream::noteMustScan(const std::string& path, uint32_t dropFlag) {
  note(path, FileEventFlags::mustScanSubDirs | dropFlag | FileEventFlags::itemIsDir);
}

void InotifyEventStream::handleBuffer(const char* buffer, size_t length) {
  size_t offset = 0;
  while (offset + sizeof(inotify_event) <= length) {
    const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
    offset += sizeof(inotify_event) + event->len;
    if (event->mask & IN_Q_OVERFLOW) {
      for (const auto& root : roots_) noteMustScan(root, FileEventFlags::kernelDropped);
      // The creation of a root waited for may be among the lost events.
      for (size_t i = 0; i < roots_.size(); ++i) {
        if (!rootStates_[i].watched) settleRoot(i, true);
      }
      continue;
    }
    const std::string name = event->len > 0 ? std::string(event->name) : std::string();
    const bool waited = handleWaitEvent(event->wd, event->mask, name);
    const auto watch = watches_.find(event->wd);
    if (watch == watches_.end()) continue;
    if (event->mask & IN_IGNORED) {
      watches_.erase(watch);
      continue;
    }
    std::string path = watch->second;
    if (!name.empty()) {
      path += '/';
      path += name;
    }
    if (event->mask & IN_ATTRIB) {
      // Only a folder that could not be watched cares: once it can be, it
      // is watched and reported, so that the receiver reads it.
      if ((event->mask & IN_ISDIR) && unwatchable_.count(path) &&
          std::find(roots_.begin(), roots_.end(), path) == roots_.end()) {
        unwatchable_.erase(path);
        if (addTree(path, false) == 0) note(path, FileEventFlags::itemModified | FileEventFlags::itemIsDir);
      }
      continue;
    }
    // A folder that is both watched and waited in (one root inside another)
    // has had its new root handled above.
    if (!(waited && (event->mask & IN_ISDIR) && std::find(roots_.begin(), roots_.end(), path) != roots_.end())) {
      if ((event->mask & IN_ISDIR) && (event->mask & IN_MOVED_FROM)) dropTree(path);
      if ((event->mask & IN_ISDIR) && (event->mask & (IN_CREATE | IN_MOVED_TO))) addTree(path, false);
    }
    note(path, flagsFor(event->mask));
    if (name.empty() && (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF))) {
      // A root deleted or moved away: stop watching what was under it and
      // wait for it to be made again.
      if (const auto root = std::find(roots_.begin(), roots_.end(), path); root != roots_.end()) {
        dropTree(path);
        settleRoot(static_cast<size_t>(root - roots_.begin()), true);
      }
    }
  }
}

void InotifyEventStream::deliver() {
  std::vector<FileEvent> batch;
  batch.swap(pending_);
  pendingIndex_.clear();
  overflowed_ = false;
  if (!batch.empty() && onBatch_) onBatch_(batch);
}

void InotifyEventStream::run() {
  alignas(inotify_event) char buffer[64 * 1024];
  while (true) {
    int timeout = -1;
    if (!pending_.empty()) {
      const auto left = batchDue_ - std::chrono::steady_clock::now();
      timeout = static_cast<int>(std::max<int64_t>(
          0, std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1));
    }
    pollfd fds[2] = {{inotifyFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = poll(fds, 2, timeout);
    if (ready < 0 && errno != EINTR) return;
    if (fds[1].revents & POLLIN) return;
    if (fds[0].revents & POLLIN) {
      while (true) {
        const ssize_t n = read(inotifyFd_, buffer, sizeof buffer);
        if (n <= 0) break;
        handleBuffer(buffer, static_cast<size_t>(n));
      }
    }
    if (!pending_.empty() && std::chrono::steady_clock::now() >= batchDue_) deliver();
  }
}

}  // namespace tokvane
