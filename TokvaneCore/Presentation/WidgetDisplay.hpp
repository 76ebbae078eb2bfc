#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Limits/LimitWindow.hpp"
#include "TokvaneCore/Limits/ProviderStatus.hpp"
#include "TokvaneCore/Snapshot/Snapshot.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// The widget's rules over a snapshot: when it reads as stale, when a
// timeline must be rebuilt, which windows to show and what to say when there
// are none. Pure functions of their arguments.
namespace WidgetDisplay {

// A snapshot older than this many seconds reads as stale.
inline constexpr double staleAfter = 1800;
// A widget timeline is rebuilt at least this often, in seconds.
inline constexpr double reloadInterval = 900;

// More than staleAfter seconds between generatedAt and now (strictly).
bool isStale(Date generatedAt, Date now);

// "Updated 31 min. ago" when stale, none otherwise. The age is the largest
// unit that fits, truncated, in abbreviated English:
//   under a minute        "<n> sec. ago"
//   under an hour         "<n> min. ago"
//   under a day           "<n> hr. ago"
//   under a week          "1 day ago", "<n> days ago"
//   under a month         "<n> wk. ago"
//   under a year          "<n> mo. ago"
//   otherwise             "<n> yr. ago"
// Days and weeks are 86,400 and 604,800 seconds; months and years are whole
// calendar months between the two UTC civil times.
std::optional<std::string> staleText(Date generatedAt, Date now);

// When the widget timeline must be rebuilt: the earliest reset after `now`
// among the windows of the snapshot's providers (only the one given by
// `only`, when given), but no later than now + reloadInterval.
Date nextReload(const std::optional<Snapshot>& snapshot, Date now, std::optional<ProviderID> only);

// The timeline's entries: now, and, with a snapshot that is still fresh,
// the moment one second past staleAfter at which it turns stale.
std::vector<Date> entryDates(const std::optional<Snapshot>& snapshot, Date now);

// Whether a reset `remaining` seconds ahead may be shown as a running timer
// (less than a day ahead and still to come).
bool usesLiveTimer(double remaining);

// The note shown for a provider without windows.
std::string_view noLimitsNote(ProviderStatus status);

// The `count` windows closest to running out (not reset before reset, then
// higher effective used fraction, then earlier position), returned in the
// order of the input list. A negative count takes none.
std::vector<LimitWindow> tightestWindows(const std::vector<LimitWindow>& windows, Date now, int count);

// The small widget's two windows: "session" and "weekly" first (the first of
// each id), then the others in list order; at most two.
std::vector<LimitWindow> sessionAndWeekly(const std::vector<LimitWindow>& windows);

}  // namespace WidgetDisplay

}  // namespace tokvane
