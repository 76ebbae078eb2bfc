#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Tokvane/Engine/Indexing/IndexingProgress.hpp"
#include "Tokvane/Engine/Settings/PreferenceValues.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Summary/UsageSummary.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// How the breakdown table groups the window: by model or by day.
enum class BreakdownMode { model, day };
inline constexpr std::array<BreakdownMode, 2> allBreakdownModes = {BreakdownMode::model, BreakdownMode::day};

// "model", "day".
std::string_view rawValue(BreakdownMode mode);
// Exactly the two raw values; anything else is none.
std::optional<BreakdownMode> breakdownModeFromRawValue(std::string_view raw);
// The segment label: "Model", "Day".
std::string_view breakdownModeLabel(BreakdownMode mode);

// The ready-made texts and numbers of the Stats and Models tabs, computed
// from a UsageSummary by pure functions. Numbers are always written with the
// POSIX conventions (a point for decimals, "," for grouping), never through
// the process locale.
namespace SummaryDisplay {

// One entry of the totals grid.
struct Stat {
  std::string label;
  std::string value;
  friend bool operator==(const Stat&, const Stat&) = default;
};

// One part of the by-type bar and its legend.
struct Segment {
  std::string label;
  double amount = 0;  // in the unit's own measure (USD, or tokens); > 0
  std::string text;   // the amount as shown
  friend bool operator==(const Segment&, const Segment&) = default;
};

// One row of the breakdown table.
struct BreakdownRow {
  std::string id;  // "<provider>/<model>" or "day/<seconds since 1970>"
  int rank = 0;    // 1-based
  std::optional<ProviderID> provider;  // absent for day rows
  std::string title;
  std::string cost;
  std::string share;
  std::string tokens;
  double fraction = 0;  // the share within 0...1, for the row's bar
  friend bool operator==(const BreakdownRow&, const BreakdownRow&) = default;
};

// One provider line of the summary section.
struct ToolLine {
  ProviderID provider = ProviderID::claude;
  std::string sessions;  // "1 session", "1,234 sessions"
  std::string value;     // the figure in the chosen unit
  std::string detail;    // the share and the other unit's figure
  friend bool operator==(const ToolLine&, const ToolLine&) = default;
};

// "1,234,567"; negative numbers keep their sign ("-1,234").
std::string groupedInteger(int64_t n);

// The compact figure of a chart axis value: "$2.5", "$13", "$1,234" for
// cost; "1.5K", "2M", "999" for tokens. A value that is not finite, or one
// that does not fit a 64-bit integer once rounded, gives "—".
std::string headlineValue(double value, SummaryUnit unit);

// A day (any instant of it) in `calendar`'s zone, written with one of the
// two patterns the views use: "MMM d" ("Dec 9") or "EEE, MMM d"
// ("Mon, Dec 9"), English names. Empty when the calendar cannot place it.
enum class DatePattern { monthDay, weekdayMonthDay };
std::string formatDate(Date date, DatePattern pattern, const Calendar& calendar);

// "1 session" for exactly one, else "<grouped n> sessions".
std::string sessionsText(int64_t sessions);

ToolLine toolLineDetail(const UsageSummary::Tool& tool, SummaryUnit unit);
std::vector<Stat> totalsStats(const UsageSummary& summary);
std::vector<Segment> typeSegments(const UsageSummary& summary, SummaryUnit unit);
std::vector<BreakdownRow> breakdownRows(const UsageSummary& summary, BreakdownMode mode, SummaryUnit unit,
                                        const Calendar& calendar);
// "Reading Codex history… 0.5 / 2.0 MB".
std::string indexingText(const IndexingProgress& progress);

// The summary section's big figure: "—" while an empty summary is still
// being indexed, else the window's cost or processed tokens.
std::string sectionHeadline(const UsageSummary& summary, bool indexing, SummaryUnit unit);
// The line under it: the sessions, plus " · API estimate" in the cost unit.
std::string sublineText(int64_t sessions, SummaryUnit unit);
// "No usage in the last 30 days".
std::string emptyText(const UsageSummary& summary);

}  // namespace SummaryDisplay

}  // namespace tokvane
