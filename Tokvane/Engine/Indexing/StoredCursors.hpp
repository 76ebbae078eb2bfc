#pragma once

#include <exception>
#include <optional>
#include <string>
#include <unordered_map>

#include "TokvaneCore/Logs/FileCursor.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"

namespace tokvane {

// The stored cursors an index run works from: loaded in one scan when the
// run looks at many files, or looked up path by path when it looks at a
// few. Either way a path finds the same cursor.
//
// A stored cursor whose JSON no longer decodes counts as no cursor: its
// file is read from the start (the ledger's seen keys absorb what was
// counted before) and the row is overwritten, instead of the file failing
// on every run.
class StoredCursors {
 public:
  struct Lookup {
    std::optional<FileCursor> cursor;
    // Set when the ledger could not be read; the file fails with it.
    std::exception_ptr error;
  };

  // All cursors in one scan; when the scan fails, lookups go path by path.
  static StoredCursors scanned(UsageStore& store);
  static StoredCursors perPath(UsageStore& store);

  Lookup find(const std::string& path) const;

 private:
  explicit StoredCursors(UsageStore& store) : store_(&store) {}

  UsageStore* store_;
  std::optional<std::unordered_map<std::string, std::string>> texts_;
};

}  // namespace tokvane
