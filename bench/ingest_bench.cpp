// Ingest speed of the usage ledger, file-backed as in the application.
//
// Batches are the size of the events one 8 MiB chunk of logs yields (about
// 2,000), with random message ids, a few models and providers, sessions that
// change every few hundred events and timestamps that cross midnight now and
// then. The argument is how many such batches the ledger held before the
// measured ones: 0 (a first index run) or 100 (200,000 events, weeks of heavy
// use). Each run measures 50 batches, 100,000 events.
//
// Figures are events per second (items_per_second).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

constexpr size_t kBatchSize = 2000;
constexpr int kMeasuredBatches = 50;

class EventSource {
 public:
  explicit EventSource(uint64_t seed) : state_(seed) {}

  std::vector<UsageEvent> batch() {
    std::vector<UsageEvent> events;
    events.reserve(kBatchSize);
    for (size_t i = 0; i < kBatchSize; ++i) events.push_back(next());
    return events;
  }

 private:
  uint64_t random() {
    // splitmix64
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  std::string messageID() {
    static constexpr char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::string id = "msg_01";
    for (int i = 0; i < 22; ++i) id += alphabet[random() % 62];
    return id;
  }

  UsageEvent next() {
    if (sessionLeft_ == 0) {
      sessionLeft_ = 100 + random() % 400;
      session_ = "5f0c" + std::to_string(random() % 1000000) + "-aa41-4c1e-9d62-" + std::to_string(random());
      const uint64_t pick = random() % 10;
      provider_ = pick < 7 ? ProviderID::claude : pick < 9 ? ProviderID::codex : ProviderID::grok;
    }
    --sessionLeft_;
    now_ = now_ + 5.0 + static_cast<double>(random() % 40000) / 1000.0;

    static const char* const claudeModels[] = {"claude-sonnet-4-5-20250929", "claude-opus-4-1-20250805",
                                               "claude-haiku-4-5-20251001"};
    static const char* const codexModels[] = {"gpt-5-codex", "gpt-5"};
    UsageEvent event;
    event.provider = provider_;
    event.sessionID = session_;
    event.timestamp = now_;
    event.tokens = TokenCounts{static_cast<int64_t>(random() % 50), static_cast<int64_t>(random() % 120000),
                               static_cast<int64_t>(random() % 3000), 0, static_cast<int64_t>(random() % 2000), 0};
    switch (provider_) {
      case ProviderID::claude:
        event.model = claudeModels[random() % 10 < 7 ? 0 : 1 + random() % 2];
        event.dedupKey = messageID();
        break;
      case ProviderID::codex:
        event.model = codexModels[random() % 2];
        event.dedupKey = "resp_" + std::to_string(random()) + std::to_string(random());
        event.tokens.reasoning = static_cast<int64_t>(random() % 800);
        break;
      default:
        event.model = "grok-code-fast-1";
        event.dedupKey = session_ + "#" + std::to_string(++turn_) + "#grok-code-fast-1";
        event.reportedCostUSD = static_cast<double>(random() % 5000) / 100000.0;
        break;
    }
    return event;
  }

  uint64_t state_;
  Date now_ = Date::fromUnix(1759312800.0);  // 2025-10-01
  size_t sessionLeft_ = 0;
  std::string session_;
  ProviderID provider_ = ProviderID::claude;
  uint64_t turn_ = 0;
};

struct Ledger {
  testing::TempDir dir;
  std::optional<UsageStore> store;
  const LocalCalendar calendar;
  EventSource source{42};

  explicit Ledger(int64_t prefilledBatches) {
    store.emplace(dir / "usage.sqlite");
    for (int64_t i = 0; i < prefilledBatches; ++i) store->ingest(source.batch(), calendar);
  }
};

void BM_IngestNewEvents(benchmark::State& state) {
  Ledger ledger(state.range(0));
  std::vector<std::vector<UsageEvent>> batches;
  for (int i = 0; i < kMeasuredBatches; ++i) batches.push_back(ledger.source.batch());
  size_t next = 0;
  int64_t counted = 0;
  for (auto _ : state) counted += ledger.store->ingest(batches[next++ % batches.size()], ledger.calendar);
  if (next > batches.size() || counted != static_cast<int64_t>(next * kBatchSize)) {
    state.SkipWithError("some events were not new");
  }
  state.SetItemsProcessed(static_cast<int64_t>(next * kBatchSize));
}
BENCHMARK(BM_IngestNewEvents)
    ->ArgName("prefilled_batches")
    ->Arg(0)
    ->Arg(100)
    ->Iterations(kMeasuredBatches)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_IngestSeenEvents(benchmark::State& state) {
  Ledger ledger(state.range(0));
  std::vector<std::vector<UsageEvent>> batches;
  for (int i = 0; i < kMeasuredBatches; ++i) {
    batches.push_back(ledger.source.batch());
    ledger.store->ingest(batches.back(), ledger.calendar);
  }
  size_t next = 0;
  int64_t counted = 0;
  for (auto _ : state) counted += ledger.store->ingest(batches[next++ % batches.size()], ledger.calendar);
  if (counted != 0) state.SkipWithError("events were counted twice");
  state.SetItemsProcessed(static_cast<int64_t>(next * kBatchSize));
}
BENCHMARK(BM_IngestSeenEvents)
    ->ArgName("prefilled_batches")
    ->Arg(0)
    ->Arg(100)
    ->Iterations(kMeasuredBatches)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace tokvane
