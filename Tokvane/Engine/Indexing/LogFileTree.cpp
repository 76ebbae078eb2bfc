#include "Tokvane/Engine/Indexing/LogFileTree.hpp"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace tokvane {

namespace {

struct Entry {
  std::string name;
  bool directory = false;
  std::optional<LogFile> file;
};

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// One folder's entries that matter, in byte order of their names: its
// candidate files and its subfolders.
struct Listing {
  std::string prefix;  // the folder's path and "/"
  std::vector<Entry> entries;
  std::optional<LogFileTree::UnreadableFolder> unreadable;
};

// `top`: the folder the walk starts at, which may be reached through a
// symbolic link; below it links are never followed.
Listing list(const std::string& folder, ProviderID provider, bool top) {
  Listing listing;
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (top ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    // Missing, gone meanwhile, or no longer a folder: nothing to read. Any
    // other failure (no permission) leaves logs unread.
    if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) listing.unreadable = {folder, errno};
    return listing;
  }
  std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
  if (!dir) {
    ::close(fd);
    return listing;
  }
  listing.prefix = folder == "/" ? folder : folder + "/";

  // Read the whole folder and stat its candidates while it is open; it is
  // closed before any subfolder is opened, so a deep tree holds one
  // descriptor at a time for each thread that walks it.
  while (const dirent* item = ::readdir(dir.get())) {
    const std::string_view name = item->d_name;
    if (name.empty() || name.front() == '.') continue;  // hidden, "." and ".."
    unsigned char type = item->d_type;
    const bool candidate = LogFileTree::isCandidateName(provider, name);
    if (type == DT_UNKNOWN || (type == DT_REG && candidate)) {
      struct stat status;
      if (::fstatat(fd, item->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISDIR(status.st_mode)) {
        type = DT_DIR;
      } else {
        if (candidate) {
          if (auto file = LogFile::from(listing.prefix + item->d_name, status)) {
            listing.entries.push_back({std::string(name), false, std::move(file)});
          }
        }
        continue;
      }
    }
    if (type == DT_DIR) listing.entries.push_back({std::string(name), true, std::nullopt});
  }
  std::sort(listing.entries.begin(), listing.entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return listing;
}

// A deep walk whose folders are listed by one thread or several at once (a
// tree's time goes into the kernel's reading of folders and files' status,
// which runs side by side), put together afterwards in walk order: each
// folder's entries in byte order of their names, a subfolder's files where
// its name falls.
class TreeWalk {
 public:
  TreeWalk(const std::string& folder, ProviderID provider) : provider_(provider) {
    nodes_.push_back(Node{folder, true, {}, {}});
    queue_.push_back(0);
    pending_ = 1;
  }

  void run(int threads) {
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads; ++i) {
      try {
        helpers.emplace_back([this] { work(); });
      } catch (const std::system_error&) {
        break;  // fewer threads: the walk is the same
      }
    }
    work();
    for (auto& helper : helpers) helper.join();
  }

  void collect(std::vector<LogFile>& out, std::vector<LogFileTree::UnreadableFolder>* unreadable) {
    collect(0, out, unreadable);
  }

 private:
  struct Node {
    std::string path;
    bool top = false;
    Listing listing;
    std::vector<size_t> children;  // one node for each subfolder entry, in entry order
  };

  void work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return !queue_.empty() || pending_ == 0; });
      if (queue_.empty()) return;  // and nothing is being listed: done
      Node* node = &nodes_[queue_.front()];
      queue_.pop_front();
      const std::string path = node->path;
      const bool top = node->top;
      lock.unlock();
      Listing listing = list(path, provider_, top);
      lock.lock();
      // A deque keeps its elements where they are as it grows.
      for (const Entry& entry : listing.entries) {
        if (!entry.directory) continue;
        node->children.push_back(nodes_.size());
        queue_.push_back(nodes_.size());
        nodes_.push_back(Node{listing.prefix + entry.name, false, {}, {}});
        ++pending_;
      }
      node->listing = std::move(listing);
      --pending_;
      wake_.notify_all();
    }
  }

  void collect(size_t index, std::vector<LogFile>& out, std::vector<LogFileTree::UnreadableFolder>* unreadable) {
    Node& node = nodes_[index];
    if (node.listing.unreadable && unreadable) unreadable->push_back(std::move(*node.listing.unreadable));
    size_t child = 0;
    for (auto& entry : node.listing.entries) {
      if (entry.directory) {
        collect(node.children[child++], out, unreadable);
      } else {
        out.push_back(std::move(*entry.file));
      }
    }
  }

  const ProviderID provider_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Node> nodes_;
  std::deque<size_t> queue_;
  size_t pending_ = 0;  // folders queued or being listed
};

}  // namespace

std::string LogFileTree::resolved(const std::string& path) {
  if (path.empty()) return path;
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    std::string result(real);
    ::free(real);
    return result;
  }
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) absolute = path;
  std::string result = absolute.lexically_normal().string();
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

bool LogFileTree::isCandidateName(ProviderID provider, std::string_view name) {
  switch (provider) {
    case ProviderID::claude:
    case ProviderID::codex: {
      const size_t dot = name.rfind('.');
      return dot != std::string_view::npos && dot > 0 && name.substr(dot + 1) == "jsonl";
    }
    case ProviderID::grok:
      return name == "usage.json";
    case ProviderID::cursor:
      return false;
  }
  return false;
}

std::vector<LogFile> LogFileTree::candidates(const std::string& folder, ProviderID provider,
                                             std::vector<UnreadableFolder>* unreadable, int threads) {
  std::vector<LogFile> files;
  if (provider == ProviderID::cursor) return files;
  TreeWalk walk(folder, provider);
  walk.run(std::max(1, threads));
  walk.collect(files, unreadable);
  return files;
}

}  // namespace tokvane
