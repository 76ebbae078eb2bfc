#pragma once

#include <cstdint>
#include <exception>
#include <optional>

#include "Tokvane/Engine/Indexing/LogFile.hpp"
#include "TokvaneCore/Logs/FileCursor.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// One file an index run reads: the file as the run's stat saw it, its
// stored cursor and the bytes it still holds unread.
struct IndexJob {
  ProviderID provider = ProviderID::claude;
  LogFile file;
  std::optional<FileCursor> cursor;
  // Set when the cursor could not be looked up: the file fails with it.
  std::exception_ptr cursorError;
  int64_t pendingBytes = 0;
};

}  // namespace tokvane
