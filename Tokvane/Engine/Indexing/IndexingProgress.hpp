#pragma once

#include <cstdint>

#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// How far an index run has read one provider's logs: the bytes consumed of
// what the provider's files held unread when its pass began.
struct IndexingProgress {
  ProviderID provider = ProviderID::claude;
  // Never above bytesTotal.
  int64_t bytesRead = 0;
  int64_t bytesTotal = 0;

  friend bool operator==(const IndexingProgress&, const IndexingProgress&) = default;
};

}  // namespace tokvane
