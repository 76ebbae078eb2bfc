#pragma once

#include <optional>
#include <vector>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Snapshot/Snapshot.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"
#include "TokvaneWidgets/Timeline/SnapshotEntry.hpp"
#include "TokvaneWidgets/Timeline/WidgetKind.hpp"

namespace tokvane::widgets {

// A widget's entries (in date order) and the moment to build the next ones.
struct Timeline {
  std::vector<SnapshotEntry> entries;
  Date reloadAt;

  friend bool operator==(const Timeline&, const Timeline&) = default;
};

// The entries of the three widgets, computed from what the snapshot store
// returned (`stored`, none when nothing could be read) and the current time.
// Pure: the caller reads the store once and hands the result in.
namespace Timelines {

// The sample at its own generation time: never stale, fixed countdowns.
SnapshotEntry placeholderEntry();

// The gallery's preview: the stored snapshot dated now, or the sample when
// nothing is stored.
SnapshotEntry sampleEntry(const std::optional<Snapshot>& stored, ProviderID provider, Date now);

// What a widget shows at once, outside the gallery: whatever was read (the
// empty state when nothing), never the sample.
SnapshotEntry currentEntry(const std::optional<Snapshot>& stored, ProviderID provider, Date now);

// The timeline: one entry at now and, while the snapshot is fresh, one at
// the moment it turns stale; reloaded at the earliest future reset, at most
// 900 s ahead. The small widget shows `provider` and only its resets count;
// the medium and large widgets show every provider (entries say claude).
Timeline timeline(const std::optional<Snapshot>& stored, Date now, WidgetKind kind, ProviderID provider);

}  // namespace Timelines

// How a host walks a timeline.
namespace TimelineSchedule {

// The entry shown at `now`: the latest whose date is not after `now`; the
// first when all of them lie ahead (the clock went back). Needs entries.
const SnapshotEntry& entryAt(const Timeline& timeline, Date now);

// Whether the timeline must be rebuilt: `now` is at or past its reload date.
bool reloadDue(const Timeline& timeline, Date now);

// The next moment something changes: the first entry date after `now`, or
// the reload date, whichever is earlier.
Date nextChange(const Timeline& timeline, Date now);

}  // namespace TimelineSchedule

}  // namespace tokvane::widgets
