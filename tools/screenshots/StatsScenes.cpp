// The Stats and Models tabs over a realistic month of three tools (Grok's
// models without a published price), in both units, plus the indexing and
// empty states, laid out at the popover's width.

#include <QVBoxLayout>
#include <QWidget>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "Tokvane/Popover/PopoverRoot.hpp"
#include "Tokvane/Stats/ModelsTabContent.hpp"
#include "Tokvane/Stats/SummarySection.hpp"
#include "Tokvane/Stats/SummaryTable.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Pricing/PriceTable.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/interface/support/SummaryModelHarness.hpp"
#include "tools/screenshots/Scene.hpp"

#include <QCoreApplication>

namespace tokvane::screenshots {
namespace {

// Thursday 2026-12-10 15:00 UTC: the pictures' "now".
const Date sceneNow = Date::fromUnix(1796914800);

std::shared_ptr<const Calendar> utc() {
  static const auto calendar = std::make_shared<const FixedOffsetCalendar>(0);
  return calendar;
}

// A month of work: weekdays busier than weekends, each tool on its own
// rhythm, a few models each. Grok's models have no published price.
void addMonth(UsageStore& store, Date now, const Calendar& calendar) {
  struct Model {
    ProviderID provider;
    const char* name;
    double share;  // of the tool's daily tokens
  };
  struct Tool {
    ProviderID provider;
    double tokensPerDay;
    double phase;
    std::vector<Model> models;
  };
  const std::vector<Tool> tools = {
      {ProviderID::claude, 9.0e6, 0.0,
       {{ProviderID::claude, "claude-sonnet-4-5", 0.72}, {ProviderID::claude, "claude-opus-4-1", 0.2},
        {ProviderID::claude, "claude-haiku-4-5", 0.08}}},
      {ProviderID::codex, 5.5e6, 2.1, {{ProviderID::codex, "gpt-5-codex", 0.8}, {ProviderID::codex, "gpt-5", 0.2}}},
      {ProviderID::grok, 2.2e6, 4.0,
       {{ProviderID::grok, "grok-build-experimental", 0.7}, {ProviderID::grok, "grok-code-preview", 0.3}}},
  };
  const Date today = *calendar.startOfDay(now);
  std::vector<UsageEvent> events;
  int key = 0;
  for (const Tool& tool : tools) {
    for (int day = 0; day < 30; ++day) {
      const Date start = *calendar.addingDays(today, day - 29);
      const auto weekday = static_cast<int64_t>(std::floor(start.unixSeconds() / 86400.0)) % 7;  // 0 = Thursday
      const bool weekend = weekday == 2 || weekday == 3;
      const double wave = 1.0 + 0.45 * std::sin(day / 3.1 + tool.phase) + 0.2 * std::sin(day * 1.7 + tool.phase * 2);
      if (tool.provider == ProviderID::grok && day < 9) continue;  // started using it later
      const double volume = tool.tokensPerDay * std::max(0.05, wave) * (weekend ? 0.25 : 1.0);
      for (const Model& model : tool.models) {
        const auto total = static_cast<int64_t>(volume * model.share);
        UsageEvent event;
        event.provider = model.provider;
        event.model = model.name;
        event.sessionID = std::string(model.name) + "-" + std::to_string(day / 2);
        event.dedupKey = "scene-" + std::to_string(key++);
        event.timestamp = start + 36000;
        event.tokens.uncachedInput = total / 12;
        event.tokens.cacheRead = total * 7 / 10;
        event.tokens.cacheWrite5m = total / 14;
        event.tokens.cacheWrite1h = total / 40;
        event.tokens.output = total - event.tokens.uncachedInput - event.tokens.cacheRead -
                              event.tokens.cacheWrite5m - event.tokens.cacheWrite1h;
        events.push_back(event);
      }
    }
  }
  store.ingest(events, calendar);
}

UsageSummary monthOfUsage() {
  UsageStore store(":memory:");
  addMonth(store, sceneNow, *utc());
  return store.summary(30, sceneNow, *utc(), PriceTable::bundled());
}

const UsageSummary& sceneSummary() {
  static const UsageSummary summary = monthOfUsage();
  return summary;
}

// An empty month ending today.
UsageSummary emptyMonth() {
  UsageSummary summary = UsageSummary::empty();
  summary.windowEnd = *utc()->startOfDay(sceneNow);
  return summary;
}

// The popover's middle band: 420 wide, 16 of padding, the window's colour.
QImage inPopover(QWidget* content, Appearance appearance) {
  QWidget frame;
  frame.setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(&frame);
  layout->setContentsMargins(16, 16, 16, 16);
  content->setParent(&frame);
  layout->addWidget(content);
  frame.setPalette(paletteFor(appearance));
  frame.ensurePolished();
  layout->activate();
  const int height = frame.hasHeightForWidth() ? frame.heightForWidth(420) : frame.sizeHint().height();
  frame.resize(420, height);
  return grabWidget(frame, appearance);
}

QImage statsScene(Appearance appearance, const UsageSummary& summary, std::optional<IndexingProgress> indexing,
                  SummaryUnit unit) {
  auto* section = new SummarySection(utc());
  section->setContent(summary, indexing, unit);
  return inPopover(section, appearance);
}

QImage modelsScene(Appearance appearance, const UsageSummary& summary, std::optional<IndexingProgress> indexing,
                   SummaryUnit unit, BreakdownMode mode, bool showAll) {
  auto* content = new ModelsTabContent(utc());
  content->setContent(summary, indexing, unit);
  content->table()->setMode(mode);
  content->table()->setShowAll(showAll);
  return inPopover(content, appearance);
}

// The whole popover on the Stats or Models tab, over a real model whose ledger holds
// the month up to today (its days and its footer follow the clock).
QImage popoverScene(Appearance appearance, PopoverTab tab) {
  testing::SummaryModelHarness h;
  addMonth(*h.store, Date::now(), *h.calendar);
  h.publish();
  // Opened on that tab (no fade from another one).
  h.preferences.setPopoverTab(tab);
  PopoverRoot root(*h.model, h.preferences, {}, h.locations);
  root.setPalette(paletteFor(appearance));
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  root.measure();
  root.resize(PopoverRoot::width, static_cast<int>(std::ceil(root.heights().total())));
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  return grabWidget(root, appearance);
}

SceneRegistration popoverStats("popover-stats", [](Appearance a) { return popoverScene(a, PopoverTab::stats); });
SceneRegistration popoverModels("popover-models", [](Appearance a) { return popoverScene(a, PopoverTab::models); });

const IndexingProgress reading{ProviderID::codex, 1'300'000, 4'800'000};

SceneRegistration statsCost("stats-tab-cost", [](Appearance a) {
  return statsScene(a, sceneSummary(), std::nullopt, SummaryUnit::cost);
});
SceneRegistration statsTokens("stats-tab-tokens", [](Appearance a) {
  return statsScene(a, sceneSummary(), std::nullopt, SummaryUnit::tokens);
});
SceneRegistration statsIndexing("stats-tab-indexing", [](Appearance a) {
  return statsScene(a, emptyMonth(), reading, SummaryUnit::cost);
});
SceneRegistration statsEmpty("stats-tab-empty", [](Appearance a) {
  return statsScene(a, emptyMonth(), std::nullopt, SummaryUnit::cost);
});
SceneRegistration modelsCost("models-tab-cost", [](Appearance a) {
  return modelsScene(a, sceneSummary(), std::nullopt, SummaryUnit::cost, BreakdownMode::model, false);
});
SceneRegistration modelsTokensAll("models-tab-tokens-all", [](Appearance a) {
  return modelsScene(a, sceneSummary(), std::nullopt, SummaryUnit::tokens, BreakdownMode::model, true);
});
SceneRegistration modelsDays("models-tab-days", [](Appearance a) {
  return modelsScene(a, sceneSummary(), std::nullopt, SummaryUnit::cost, BreakdownMode::day, false);
});
SceneRegistration modelsIndexing("models-tab-indexing", [](Appearance a) {
  return modelsScene(a, emptyMonth(), reading, SummaryUnit::cost, BreakdownMode::model, false);
});
SceneRegistration modelsEmpty("models-tab-empty", [](Appearance a) {
  return modelsScene(a, emptyMonth(), std::nullopt, SummaryUnit::cost, BreakdownMode::model, false);
});

}  // namespace
}  // namespace tokvane::screenshots
