#include "TokvaneWidgets/Display/WidgetModel.hpp"

#include "TokvaneCore/Foundation/TextCase.hpp"
#include "TokvaneCore/Format/MeterFormat.hpp"
#include "TokvaneCore/Presentation/LimitBarModel.hpp"
#include "TokvaneCore/Presentation/WidgetDisplay.hpp"

namespace tokvane::widgets {

namespace {

constexpr const char* middleDot = " \u00B7 ";

std::vector<WindowCell> cellsOf(const std::vector<LimitWindow>& windows, Date now, bool live) {
  std::vector<WindowCell> cells;
  cells.reserve(windows.size());
  for (const auto& window : windows) cells.push_back(WindowCell::make(window, now, live));
  return cells;
}

}  // namespace

WindowCell WindowCell::make(const LimitWindow& window, Date now, bool live) {
  const LimitBarModel bar(window, now);
  WindowCell cell;
  cell.id = window.id;
  cell.label = window.label;
  cell.percentLeftText = bar.percentLeftText;
  if (window.resetsAt) cell.countdown = Countdown::make(*window.resetsAt, now, live);
  cell.leftFraction = bar.leftFraction;
  cell.timeLeftFraction = bar.timeLeftFraction;
  cell.dimmed = window.source.isStale();
  return cell;
}

bool WidgetModel::hasRunningCountdown() const {
  auto running = [](const std::vector<WindowCell>& cells) {
    for (const auto& cell : cells) {
      if (cell.countdown && cell.countdown->running) return true;
    }
    return false;
  };
  if (running(windows)) return true;
  for (const auto& row : rows) {
    if (running(row.cells)) return true;
  }
  return false;
}

std::string noLimitsRowText(ProviderID provider, ProviderStatus status) {
  return std::string(displayName(provider)) + middleDot + std::string(WidgetDisplay::noLimitsNote(status));
}

std::string smallWidgetNote(ProviderStatus status) {
  return capitalizingFirstLetter(WidgetDisplay::noLimitsNote(status));
}

std::string smallWidgetCostLine(double cost30dUSD) { return "30 days " + MeterFormat::usd(cost30dUSD); }

std::string largeWidgetCostLine(double costTodayUSD, double cost30dUSD) {
  return "Today " + MeterFormat::usd(costTodayUSD) + middleDot + "30 days " + MeterFormat::usd(cost30dUSD) +
         " (API estimate)";
}

WidgetModel makeWidgetModel(WidgetKind kind, const SnapshotEntry& entry) {
  WidgetModel model;
  model.kind = kind;
  model.provider = entry.provider;
  if (!entry.snapshot) return model;
  const Snapshot& snapshot = *entry.snapshot;
  const Date now = entry.date;
  const bool live = !entry.isSample;

  if (kind == WidgetKind::small) {
    const Snapshot::Provider* shown = nullptr;
    for (const auto& provider : snapshot.providers) {
      if (provider.id == entry.provider) {
        shown = &provider;
        break;
      }
    }
    if (shown == nullptr) return model;
    model.empty = false;
    model.windows = cellsOf(WidgetDisplay::sessionAndWeekly(shown->windows), now, live);
    if (model.windows.empty()) {
      model.note = smallWidgetNote(shown->status);
      model.costLine = smallWidgetCostLine(shown->cost30dUSD);
    }
    model.staleText = WidgetDisplay::staleText(snapshot.generatedAt, now);
    return model;
  }

  if (snapshot.providers.empty()) return model;
  model.empty = false;
  model.staleText = WidgetDisplay::staleText(snapshot.generatedAt, now);
  for (const auto& provider : snapshot.providers) {
    ProviderRow row;
    row.provider = provider.id;
    if (provider.windows.empty()) {
      row.noLimitsText = noLimitsRowText(provider.id, provider.status);
    } else {
      row.cells = cellsOf(WidgetDisplay::tightestWindows(provider.windows, now, 2), now, live);
    }
    model.rows.push_back(std::move(row));
  }
  if (kind == WidgetKind::large) {
    model.costLine = largeWidgetCostLine(snapshot.costTodayUSD, snapshot.cost30dUSD);
    model.dailyCost = snapshot.dailyCost30;
  }
  return model;
}

}  // namespace tokvane::widgets
