#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "TokvaneCore/Foundation/KeyedJSON.hpp"

namespace tokvane {

// Where reading of one log file stopped.
struct FileCursor {
  std::string path;
  // The file system's file number when the cursor was made; 0 when none was reported.
  uint64_t inode = 0;
  // Just past the last complete line consumed; never negative.
  int64_t offset = 0;
  // State that must survive between reads of the file (parser and indexer keys).
  std::map<std::string, std::string> context;

  friend bool operator==(const FileCursor&, const FileCursor&) = default;

  JSON toJSON() const;
  // All four keys are required; context values must be strings.
  static FileCursor fromJSON(const JSON& json);
  static FileCursor fromJSONText(std::string_view text);
};

}  // namespace tokvane
