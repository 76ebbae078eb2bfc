#include "Tokvane/Engine/Indexing/LogFileTree.hpp"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>

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

// `top`: the folder the walk starts at, which may be reached through a
// symbolic link; below it links are never followed.
void walk(const std::string& folder, ProviderID provider, std::vector<LogFile>& out, bool top,
          std::vector<LogFileTree::UnreadableFolder>* unreadable) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (top ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    // Missing, gone meanwhile, or no longer a folder: nothing to read. Any
    // other failure (no permission) leaves logs unread.
    if (unreadable && errno != ENOENT && errno != ENOTDIR && errno != ELOOP) {
      unreadable->push_back({folder, errno});
    }
    return;
  }
  std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
  if (!dir) {
    ::close(fd);
    return;
  }
  const std::string prefix = folder == "/" ? folder : folder + "/";

  // Read the whole folder, stat its candidates while it is open, then close
  // it before descending, so a deep tree holds one descriptor at a time.
  std::vector<Entry> entries;
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
          if (auto file = LogFile::from(prefix + item->d_name, status)) {
            entries.push_back({std::string(name), false, std::move(file)});
          }
        }
        continue;
      }
    }
    if (type == DT_DIR) entries.push_back({std::string(name), true, std::nullopt});
  }
  dir.reset();

  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  for (auto& entry : entries) {
    if (entry.directory) {
      walk(prefix + entry.name, provider, out, false, unreadable);
    } else {
      out.push_back(std::move(*entry.file));
    }
  }
}

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
                                             std::vector<UnreadableFolder>* unreadable) {
  std::vector<LogFile> files;
  if (provider == ProviderID::cursor) return files;
  walk(folder, provider, files, true, unreadable);
  return files;
}

}  // namespace tokvane
