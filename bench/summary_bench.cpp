// Speed of the usage summary over a file-backed ledger shaped like months of
// heavy use: 90 local days, 3 providers with 40 models each used every day
// (10,800 daily rows) and 25 new sessions per provider a day. The models mix
// names the bundled price list holds, the same names with a date stamp, and
// unlisted names (for Grok with a cost the log reported). Prices come from
// the bundled table and days from the process's calendar, as in the
// application.
//
// The argument is the window in days: 30 is what the application asks for.
// Figures are wall time per summary.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Pricing/PriceTable.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

constexpr int kDays = 90;
constexpr int kModelsPerProvider = 40;
constexpr int kSessionsPerDay = 25;
constexpr ProviderID kProviders[] = {ProviderID::claude, ProviderID::codex, ProviderID::grok};

struct Ledger {
  testing::TempDir dir;
  LocalCalendar calendar;
  PriceTable prices = PriceTable::bundled();
  Date now = Date::now();
  std::optional<UsageStore> store;
  size_t dailyRows = 0;

  Ledger() {
    store.emplace(dir / "usage.sqlite");

    std::vector<std::string> listed;
    for (const auto& entry : prices.models()) listed.push_back(entry.first);
    std::sort(listed.begin(), listed.end());

    const Date today = calendar.startOfDay(now).value_or(now);
    uint64_t key = 0;
    for (int d = 1 - kDays; d <= 0; ++d) {
      const Date day = calendar.addingDays(today, d).value_or(today);
      std::vector<UsageEvent> events;
      for (const ProviderID provider : kProviders) {
        const auto p = static_cast<size_t>(provider);
        for (int m = 0; m < kModelsPerProvider; ++m) {
          std::string model;
          if (m % 4 == 3 || listed.empty()) {
            model = std::string(rawValue(provider)) + "-unlisted-" + std::to_string(m);
          } else {
            model = listed[(p * kModelsPerProvider + static_cast<size_t>(m)) % listed.size()];
            if (m % 4 == 1) model += "-20250929";
          }
          for (int j = 0; j < 2; ++j) {
            UsageEvent event;
            event.provider = provider;
            event.model = model;
            event.sessionID = std::string(rawValue(provider)) + "-" + std::to_string(d) + "-" +
                              std::to_string((m * 2 + j) % kSessionsPerDay);
            event.dedupKey = "bench-" + std::to_string(key++);
            event.timestamp = day + 3600.0 + static_cast<double>(m * 2 + j) * 600.0;
            event.tokens = TokenCounts{1200 + m, 85000 + 37 * m, 3100, m % 2 ? 900 : 0, 2400 + 11 * m, 300};
            if (provider == ProviderID::grok) event.reportedCostUSD = 0.0125 * (m + 1);
            events.push_back(std::move(event));
          }
        }
      }
      store->ingest(events, calendar);
    }
    dailyRows = static_cast<size_t>(kDays) * std::size(kProviders) * kModelsPerProvider;
  }
};

Ledger& sharedLedger() {
  static Ledger ledger;
  return ledger;
}

void BM_Summary(benchmark::State& state) {
  Ledger& ledger = sharedLedger();
  const int days = static_cast<int>(state.range(0));
  size_t models = 0;
  for (auto _ : state) {
    UsageSummary summary = ledger.store->summary(days, ledger.now, ledger.calendar, ledger.prices);
    models = summary.models.size();
    benchmark::DoNotOptimize(summary);
  }
  state.counters["models"] = static_cast<double>(models);
  state.counters["ledgerRows"] = static_cast<double>(ledger.dailyRows);
}

BENCHMARK(BM_Summary)->Arg(30)->Arg(90)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tokvane
