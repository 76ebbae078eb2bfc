#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Tokvane/Engine/Indexing/LogFile.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// Finding the tools' log files on disk.
struct LogFileTree {
  // The path as the file system resolves it (symbolic links and dot
  // components resolved) when it exists; otherwise made absolute and
  // lexically normal. Never ends in "/" (except "/" itself).
  static std::string resolved(const std::string& path);

  // Whether a file of that name can be one of the provider's logs: a name
  // whose extension is exactly "jsonl" for Claude and Codex, exactly
  // "usage.json" for Grok; never for Cursor.
  static bool isCandidateName(ProviderID provider, std::string_view name);

  // A folder of the tree that exists but could not be opened, and why (errno).
  struct UnreadableFolder {
    std::string path;
    int error = 0;
    friend bool operator==(const UnreadableFolder&, const UnreadableFolder&) = default;
  };

  // The provider's candidate files in the tree under `folder`: a deep walk
  // that skips hidden entries (names starting with ".") and does not follow
  // symbolic links, keeping regular files with a candidate name. Entries of
  // a folder are visited in byte order of their names, each subfolder where
  // its name falls. A folder that cannot be read adds nothing; with
  // `unreadable`, each such folder that is there (not one that is missing or
  // gone) is added to it, in the order of the walk. With `threads` above
  // one, that many threads list the tree's folders side by side; the result
  // is the same.
  static std::vector<LogFile> candidates(const std::string& folder, ProviderID provider,
                                         std::vector<UnreadableFolder>* unreadable = nullptr, int threads = 1);
};

}  // namespace tokvane
