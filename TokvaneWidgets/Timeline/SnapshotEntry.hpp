#pragma once

#include <optional>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Snapshot/Snapshot.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane::widgets {

// What one widget shows from one moment on: the views take `date` as their
// "now" for countdowns, reset tests and the stale badge.
struct SnapshotEntry {
  Date date;
  std::optional<Snapshot> snapshot;        // none when nothing could be read
  ProviderID provider = ProviderID::claude; // the small widget's provider; claude for the others
  bool isSample = false;                   // the built-in sample: no running timers

  friend bool operator==(const SnapshotEntry&, const SnapshotEntry&) = default;
};

}  // namespace tokvane::widgets
