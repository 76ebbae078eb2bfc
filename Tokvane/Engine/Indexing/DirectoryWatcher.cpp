#include "Tokvane/Engine/Indexing/DirectoryWatcher.hpp"

#include <stdlib.h>

#include <climits>
#include <exception>
#include <unordered_set>

namespace tokvane {

namespace {

// Symbolic links and relative components resolved; the path unchanged when
// that fails (for example when the folder is gone).
std::string canonicalPath(const std::filesystem::path& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved)) return resolved;
  return path.string();
}

bool startsWithFolder(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

}  // namespace

DirectoryWatcher::DirectoryWatcher(std::vector<std::filesystem::path> paths, double latency, ChangeHandler onChange,
                                   Env& env)
    : paths_(std::move(paths)), latency_(latency), onChange_(std::move(onChange)), env_(env) {}

DirectoryWatcher::~DirectoryWatcher() {
  // Stops the stream's thread before the members its callback reads go.
  stream_.reset();
}

void DirectoryWatcher::start() {
  if (stream_ || paths_.empty()) return;
  std::vector<std::string> texts;
  texts.reserve(paths_.size());
  for (const auto& path : paths_) texts.push_back(path.string());
  try {
    stream_ = env_.watchFiles(texts, latency_, [this](const std::vector<FileEvent>& batch) { handleBatch(batch); });
  } catch (const std::exception&) {
    // Like a stream that could not be made: nothing is watched yet, and a
    // later start() tries again.
    stream_.reset();
  }
}

const std::vector<std::string>& DirectoryWatcher::roots() {
  if (!roots_) {
    std::vector<std::string> roots;
    roots.reserve(paths_.size());
    for (const auto& path : paths_) roots.push_back(canonicalPath(path));
    roots_ = std::move(roots);
  }
  return *roots_;
}

void DirectoryWatcher::handleBatch(const std::vector<FileEvent>& batch) {
  if (batch.empty()) return;
  auto changed = changedPaths(batch, roots());
  if (changed.empty() || !onChange_) return;
  try {
    onChange_(changed);
  } catch (const std::exception& error) {
    // The stream's thread must survive its receiver; the next batch goes on.
    env_.log(std::string("Tokvane: handling changed log files failed: ") + error.what());
  }
}

std::vector<std::string> DirectoryWatcher::changedPaths(const std::vector<FileEvent>& events,
                                                        const std::vector<std::string>& roots) {
  std::vector<std::string> result;
  std::unordered_set<std::string> taken;
  auto take = [&](const std::string& path) {
    if (taken.insert(path).second) result.push_back(path);
  };
  for (const auto& event : events) {
    std::string p = event.path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if ((event.flags & rescanFlags) == 0) {
      take(p);
      continue;
    }
    bool anyRoot = false;
    for (const auto& root : roots) {
      if (root == p || startsWithFolder(root, p) || startsWithFolder(p, root) || p == "/") {
        take(root);
        anyRoot = true;
      }
    }
    if (!anyRoot) {
      for (const auto& root : roots) take(root);
    }
  }
  return result;
}

}  // namespace tokvane
