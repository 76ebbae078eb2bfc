#include "TokvaneWidgets/Timeline/Timelines.hpp"

#include "TokvaneCore/Presentation/WidgetDisplay.hpp"

namespace tokvane::widgets {

namespace Timelines {

SnapshotEntry placeholderEntry() {
  const Snapshot& sample = Snapshot::placeholder();
  return SnapshotEntry{sample.generatedAt, sample, ProviderID::claude, true};
}

SnapshotEntry sampleEntry(const std::optional<Snapshot>& stored, ProviderID provider, Date now) {
  if (stored) return SnapshotEntry{now, stored, provider, false};
  const Snapshot& sample = Snapshot::placeholder();
  return SnapshotEntry{sample.generatedAt, sample, provider, true};
}

SnapshotEntry currentEntry(const std::optional<Snapshot>& stored, ProviderID provider, Date now) {
  return SnapshotEntry{now, stored, provider, false};
}

Timeline timeline(const std::optional<Snapshot>& stored, Date now, WidgetKind kind, ProviderID provider) {
  const bool small = kind == WidgetKind::small;
  const ProviderID shown = small ? provider : ProviderID::claude;
  Timeline result;
  for (Date date : WidgetDisplay::entryDates(stored, now)) {
    result.entries.push_back(SnapshotEntry{date, stored, shown, false});
  }
  result.reloadAt =
      WidgetDisplay::nextReload(stored, now, small ? std::optional<ProviderID>(provider) : std::nullopt);
  return result;
}

}  // namespace Timelines

namespace TimelineSchedule {

const SnapshotEntry& entryAt(const Timeline& timeline, Date now) {
  const SnapshotEntry* shown = &timeline.entries.front();
  for (const auto& entry : timeline.entries) {
    if (entry.date <= now) shown = &entry;
  }
  return *shown;
}

bool reloadDue(const Timeline& timeline, Date now) { return now >= timeline.reloadAt; }

Date nextChange(const Timeline& timeline, Date now) {
  Date next = timeline.reloadAt;
  for (const auto& entry : timeline.entries) {
    if (entry.date > now && entry.date < next) next = entry.date;
  }
  return next;
}

}  // namespace TimelineSchedule

}  // namespace tokvane::widgets
