#include "Tokvane/StatusItem/StatusTitle.hpp"

#include <algorithm>

namespace tokvane {
namespace {

std::optional<ProviderLimits> limitsOf(const StatusTitle::Limits& limits, ProviderID id) {
  const auto found = limits.find(id);
  if (found == limits.end()) return std::nullopt;
  return found->second;
}

}  // namespace

std::optional<StatusTitle::Tightest> StatusTitle::tightest(const std::optional<ProviderLimits>& limits, Date now) {
  if (!limits || limits->windows.empty()) return std::nullopt;
  std::vector<const LimitWindow*> candidates;
  for (const LimitWindow& window : limits->windows) {
    if (!window.isReset(now)) candidates.push_back(&window);
  }
  if (candidates.empty()) {
    for (const LimitWindow& window : limits->windows) candidates.push_back(&window);
  }
  std::optional<Tightest> best;
  for (const LimitWindow* window : candidates) {
    Tightest candidate{window->label, LimitBarModel(*window, now)};
    if (!best || candidate.bar.leftFraction < best->bar.leftFraction) best = std::move(candidate);
  }
  return best;
}

std::optional<StatusTitle::Tightest> StatusTitle::chosen(const std::optional<ProviderLimits>& limits,
                                                         const std::optional<std::string>& id, Date now) {
  if (!id || !limits) return std::nullopt;
  for (const LimitWindow& window : limits->windows) {
    if (window.id == *id) return Tightest{window.label, LimitBarModel(window, now)};
  }
  return std::nullopt;
}

std::string StatusTitle::tooltipFor(const std::vector<ProviderID>& providers, const Limits& limits, Date now) {
  std::string text;
  for (ProviderID id : providers) {
    const std::optional<Tightest> window = tightest(limitsOf(limits, id), now);
    if (!window) continue;
    std::string line = std::string(displayName(id)) + " · " + window->label + " " + window->bar.percentLeftText + " left";
    if (window->bar.resetText) {
      if (*window->bar.resetText == "now")
        line += " · resets now";
      else
        line += " · resets in " + *window->bar.resetText;
    }
    if (!text.empty()) text += "\n";
    text += line;
  }
  return text;
}

StatusTitle StatusTitle::make(const Preferences& preferences, const Limits& limits,
                              const std::vector<ProviderID>& present, Date now) {
  std::string tip = tooltipFor(preferences.enabledProviders(), limits, now);
  if (tip.empty()) tip = "Tokvane";

  if (present.empty()) return StatusTitle{std::nullopt, std::nullopt, Severity::normal, tip};

  Severity severity = Severity::normal;
  if (preferences.tintEnabled()) {
    std::optional<double> lowest;
    for (ProviderID id : present) {
      if (const auto window = tightest(limitsOf(limits, id), now)) {
        if (!lowest || window->bar.leftFraction < *lowest) lowest = window->bar.leftFraction;
      }
    }
    if (lowest) {
      if (*lowest <= preferences.criticalThreshold())
        severity = Severity::critical;
      else if (*lowest <= preferences.warningThreshold())
        severity = Severity::warning;
    }
  }

  const ProviderID pinned = preferences.pinnedProvider();
  const ProviderID shown =
      std::find(present.begin(), present.end(), pinned) != present.end() ? pinned : present.front();

  if (preferences.menuBarStyle() == MenuBarStyle::icon)
    return StatusTitle{std::nullopt, std::nullopt, severity, tip};

  const std::optional<ProviderLimits> shownLimits = limitsOf(limits, shown);
  std::optional<Tightest> window = chosen(shownLimits, preferences.menuBarWindow(shown), now);
  if (!window) window = tightest(shownLimits, now);

  std::string text;
  if (!window) {
    text = "—";
  } else {
    text = window->bar.percentLeftText;
    if (preferences.showResetTime() && window->bar.resetText) text += " · " + *window->bar.resetText;
  }
  return StatusTitle{text, shown, severity, tip};
}

}  // namespace tokvane
