#pragma once

#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Limits/LimitWindow.hpp"
#include "TokvaneCore/Limits/ProviderStatus.hpp"
#include "TokvaneCore/Snapshot/Snapshot.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"
#include "TokvaneWidgets/Display/Countdown.hpp"
#include "TokvaneWidgets/Timeline/SnapshotEntry.hpp"
#include "TokvaneWidgets/Timeline/WidgetKind.hpp"

namespace tokvane::widgets {

// One limit window as a widget cell: label, share left, reset countdown and
// the thin bar (dimmed when the numbers were carried over after a failure).
struct WindowCell {
  std::string id;
  std::string label;
  std::string percentLeftText;
  std::optional<Countdown> countdown;  // none without a reset time
  double leftFraction = 1;
  std::optional<double> timeLeftFraction;
  bool dimmed = false;

  static WindowCell make(const LimitWindow& window, Date now, bool live);

  friend bool operator==(const WindowCell&, const WindowCell&) = default;
};

// One provider in the medium and large widgets: its two tightest windows, or
// the one-line note when it has none.
struct ProviderRow {
  ProviderID provider = ProviderID::claude;
  std::vector<WindowCell> cells;           // at most two
  std::optional<std::string> noLimitsText; // "Grok · no live limits" when it has no windows

  friend bool operator==(const ProviderRow&, const ProviderRow&) = default;
};

// Everything one widget paints for one entry. Views paint it and nothing
// else; equal models look the same (a running countdown's text also
// depends on the clock, see Countdown).
struct WidgetModel {
  WidgetKind kind = WidgetKind::small;
  bool empty = true;                    // "Open Tokvane to start"
  std::optional<std::string> staleText; // the orange "Updated … ago"

  // The small widget.
  ProviderID provider = ProviderID::claude;
  std::vector<WindowCell> windows;  // session and weekly, at most two
  std::string note;                 // without windows: "Unreachable", ...
  std::string costLine;             // small without windows: "30 days $71.20"; large: the cost line

  // The medium and large widgets.
  std::vector<ProviderRow> rows;
  std::vector<double> dailyCost;  // large: 30 daily costs, oldest first

  bool hasRunningCountdown() const;

  friend bool operator==(const WidgetModel&, const WidgetModel&) = default;
};

WidgetModel makeWidgetModel(WidgetKind kind, const SnapshotEntry& entry);

// "Grok · no live limits": the display name and the status's note.
std::string noLimitsRowText(ProviderID provider, ProviderStatus status);
// The small widget's note: the status's note with its first letter upper-cased.
std::string smallWidgetNote(ProviderStatus status);
// "30 days $71.20".
std::string smallWidgetCostLine(double cost30dUSD);
// "Today $6.50 · 30 days $292.60 (API estimate)".
std::string largeWidgetCostLine(double costTodayUSD, double cost30dUSD);

}  // namespace tokvane::widgets
