// The Stats tab's cost per redraw: building its display values from a
// 90-day summary of three tools and 40 models, and painting the whole tab
// (headline, tool lines, daily chart, totals, by-type bar) offscreen at
// twice the pixel density. A frame at 60 Hz is 16.7 ms.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "Tokvane/Stats/DailyChart.hpp"
#include "Tokvane/Stats/SummaryDisplay.hpp"
#include "Tokvane/Stats/SummarySection.hpp"
#include "Tokvane/Stats/SummaryTabs.hpp"
#include "Tokvane/Theme/Appearance.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Pricing/PriceTable.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"

namespace {

using namespace tokvane;

constexpr int days = 90;

std::shared_ptr<const Calendar> utc() {
  static const auto calendar = std::make_shared<const FixedOffsetCalendar>(0);
  return calendar;
}

// 40 models: 18 Claude, 14 Codex, 8 Grok (half of Grok's without a price),
// each used on most days of the window.
UsageSummary ninetyDays() {
  const Date now = Date::fromUnix(1796914800);
  UsageStore store(":memory:");
  const char* claude[] = {"claude-sonnet-4-5", "claude-opus-4-1", "claude-haiku-4-5", "claude-opus-4-5",
                          "claude-sonnet-4", "claude-opus-4", "claude-3-7-sonnet", "claude-3-5-haiku"};
  const char* codex[] = {"gpt-5-codex", "gpt-5", "gpt-5-mini", "gpt-5-nano", "gpt-5.1-codex", "gpt-5.1"};
  struct Model {
    ProviderID provider;
    std::string name;
  };
  std::vector<Model> models;
  for (int i = 0; i < 18; ++i) models.push_back({ProviderID::claude, std::string(claude[i % 8]) + (i < 8 ? "" : "-v" + std::to_string(i))});
  for (int i = 0; i < 14; ++i) models.push_back({ProviderID::codex, std::string(codex[i % 6]) + (i < 6 ? "" : "-v" + std::to_string(i))});
  for (int i = 0; i < 8; ++i) models.push_back({ProviderID::grok, i % 2 ? "grok-code-fast-1" + std::string(i > 1 ? "-v" + std::to_string(i) : "") : "grok-private-" + std::to_string(i)});

  const Date today = *utc()->startOfDay(now);
  std::vector<UsageEvent> events;
  int key = 0;
  for (std::size_t m = 0; m < models.size(); ++m) {
    for (int day = 0; day < days; ++day) {
      if ((day + static_cast<int>(m)) % 5 == 0) continue;
      UsageEvent event;
      event.provider = models[m].provider;
      event.model = models[m].name;
      event.sessionID = models[m].name + std::to_string(day / 3);
      event.dedupKey = "bench-" + std::to_string(key++);
      event.timestamp = *utc()->addingDays(today, day - (days - 1)) + 40000;
      const auto volume = static_cast<int64_t>(200'000 * (1.5 + std::sin(day / 4.0 + static_cast<double>(m))));
      event.tokens = TokenCounts{volume / 10, volume / 2, volume / 10, volume / 20, volume / 4, volume / 50};
      events.push_back(event);
    }
  }
  store.ingest(events, *utc());
  return store.summary(days, now, *utc(), PriceTable::bundled());
}

const UsageSummary& summary() {
  static const UsageSummary value = ninetyDays();
  return value;
}

void DisplayModel(benchmark::State& state) {
  const UsageSummary& s = summary();
  int i = 0;
  for (auto _ : state) {
    const SummaryUnit unit = (i++ % 2) ? SummaryUnit::tokens : SummaryUnit::cost;
    auto content = SummarySection::makeContent(s, std::nullopt, unit, *utc());
    auto models = SummaryDisplay::breakdownRows(s, BreakdownMode::model, unit, *utc());
    auto perDay = SummaryDisplay::breakdownRows(s, BreakdownMode::day, unit, *utc());
    benchmark::DoNotOptimize(content);
    benchmark::DoNotOptimize(models);
    benchmark::DoNotOptimize(perDay);
  }
  state.counters["models"] = static_cast<double>(s.models.size());
  state.counters["days"] = static_cast<double>(s.days);
}
BENCHMARK(DisplayModel)->Unit(benchmark::kMicrosecond);

// The whole tab: a unit switch (new content), then a full paint.
void PaintStatsTab(benchmark::State& state) {
  SummarySection section(utc());
  section.setPalette(paletteFor(Appearance::light));
  section.setContent(summary(), std::nullopt, SummaryUnit::cost);
  section.resize(statsContentWidth, section.heightForWidth(statsContentWidth));
  QImage image(section.size() * 2, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(2);
  int i = 0;
  for (auto _ : state) {
    section.setContent(summary(), std::nullopt, (i++ % 2) ? SummaryUnit::tokens : SummaryUnit::cost);
    image.fill(Qt::transparent);
    section.render(&image);
  }
  state.counters["height"] = section.height();
}
BENCHMARK(PaintStatsTab)->Unit(benchmark::kMillisecond);

void PaintChartOnly(benchmark::State& state) {
  const DailyChartModel model = makeDailyChartModel(summary(), SummaryUnit::cost, *utc());
  QImage image(QSize(statsContentWidth, 140) * 2, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(2);
  for (auto _ : state) {
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintDailyChart(painter, QRectF(0, 0, statsContentWidth, 140), model, Appearance::light);
  }
}
BENCHMARK(PaintChartOnly)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
