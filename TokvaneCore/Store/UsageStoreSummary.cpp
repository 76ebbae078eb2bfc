// The usage summary: the ledger's rows of the last N local days, priced and
// summed by provider, model and day.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "TokvaneCore/Foundation/Saturating.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"

namespace tokvane {

namespace {

namespace sql {

constexpr std::string_view summaryDaily =
    "SELECT provider, model, day, uncached, cache_read, w5m, w1h, output, reasoning, reported_usd\n"
    "FROM daily WHERE day >= ?1 AND day <= ?2";

constexpr std::string_view summarySessions =
    "SELECT provider, day, COUNT(*) FROM sessions WHERE day >= ?1 AND day <= ?2 GROUP BY provider, day";

}  // namespace sql

constexpr std::size_t providerCount = allProviders.size();

std::size_t slotOf(ProviderID provider) { return static_cast<std::size_t>(provider); }

// One `daily` row as read.
struct DailyRow {
  ProviderID provider;
  std::string model;
  std::string day;
  TokenCounts tokens;
  std::optional<double> reported;
};

// One group of `sessions`: the sessions of a provider that started on a day.
struct SessionGroup {
  ProviderID provider;
  std::string day;
  int64_t count;
};

// The window's local days, oldest first, each with its day key. A day key
// may repeat only in a calendar that forms two dates of one local day; both
// dates then share that key's sums, as a lookup by key gives.
struct Window {
  Date start;  // the start of today
  std::vector<Date> dates;
  std::vector<std::size_t> slots;  // dates[i]'s index into the per-day sums
  std::unordered_map<std::string, std::size_t> slotOfKey;
  std::string firstKey;
  std::string lastKey;
};

Window makeWindow(int n, Date now, const Calendar& calendar) {
  Window window;
  // A date the calendar cannot place in a day (beyond its range) stands as
  // its own start; the days around it are then not formed either.
  window.start = calendar.startOfDay(now).value_or(now);
  window.dates.reserve(static_cast<std::size_t>(std::min(n, 1 << 12)));
  window.slots.reserve(window.dates.capacity());
  for (int k = 1 - n; k <= 0; ++k) {
    const std::optional<Date> date = calendar.addingDays(window.start, k);
    if (!date) continue;
    const auto [it, inserted] = window.slotOfKey.try_emplace(dayKey(*date, calendar), window.slotOfKey.size());
    window.dates.push_back(*date);
    window.slots.push_back(it->second);
  }
  window.lastKey = dayKey(window.start, calendar);
  window.firstKey = window.dates.empty() ? window.lastKey : dayKey(window.dates.front(), calendar);
  return window;
}

// Sums of one window day: over all providers, and per provider.
struct DaySums {
  bool present = false;  // some row or session group carries the day's key
  int64_t tokens = 0;
  double costUSD = 0;
  int64_t sessions = 0;
  std::array<int64_t, providerCount> providerTokens{};
  std::array<double, providerCount> providerCostUSD{};
};

struct ProviderSums {
  bool present = false;  // some row or session group in the window
  int64_t tokens = 0;
  double costUSD = 0;
  bool approximate = false;
  int64_t sessions = 0;
};

struct ModelKey {
  ProviderID provider;
  std::string model;

  friend bool operator==(const ModelKey&, const ModelKey&) = default;
};

struct ModelKeyHash {
  std::size_t operator()(const ModelKey& key) const noexcept {
    const std::size_t h = std::hash<std::string_view>{}(key.model);
    return h ^ (static_cast<std::size_t>(key.provider) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2));
  }
};

struct ModelSums {
  TokenCounts tokens;
  std::optional<double> costUSD;  // absent while none of the pair's rows had a cost
  bool approximate = false;
};

// A cost as the orderings compare it. Sums of extreme reported costs in a
// damaged ledger could reach NaN, which compares with nothing; ranking it
// lowest keeps every ordering total.
double costRank(double cost) { return std::isnan(cost) ? -std::numeric_limits<double>::infinity() : cost; }

// Models: priced first, then the larger cost, the larger processed count,
// the provider's raw text, the model name.
bool modelBefore(const UsageSummary::ModelRow& a, const UsageSummary::ModelRow& b) {
  if (a.costUSD.has_value() != b.costUSD.has_value()) return a.costUSD.has_value();
  if (a.costUSD) {
    const double costA = costRank(*a.costUSD);
    const double costB = costRank(*b.costUSD);
    if (costA != costB) return costA > costB;
  }
  const int64_t tokensA = a.tokens.processed();
  const int64_t tokensB = b.tokens.processed();
  if (tokensA != tokensB) return tokensA > tokensB;
  const std::string_view providerA = rawValue(a.provider);
  const std::string_view providerB = rawValue(b.provider);
  if (providerA != providerB) return providerA < providerB;
  return a.model < b.model;
}

double share(double part, double whole) { return whole > 0 ? part / whole : 0; }

double tokenShare(int64_t part, int64_t processedTotal) {
  return processedTotal >= 1 ? static_cast<double>(part) / static_cast<double>(processedTotal) : 0;
}

}  // namespace

UsageSummary UsageStore::summary(int days, Date now, const Calendar& calendar, const PriceTable& prices) {
  const int n = std::max(days, 1);
  const Window window = makeWindow(n, now, calendar);

  std::vector<DailyRow> rows;
  std::vector<SessionGroup> sessionGroups;
  {
    // Both reads in one block, so no write lands between them.
    std::lock_guard lock(mutex_);
    const auto range = {Bind::textValue(window.firstKey), Bind::textValue(window.lastKey)};
    statement(sql::summaryDaily).forEachRow(range, [&](SQLiteStatement& row) {
      const auto provider = providerFromRawValue(row.columnText(0));
      if (!provider) return;
      std::optional<double> reported = row.columnDouble(9);
      // An infinite cost comes only from a damaged ledger or from adding up
      // absurd reported costs (SQLite keeps no NaN). Counted, it would make
      // every total it reaches meaningless, so such a row counts as one
      // without a reported cost.
      if (reported && !std::isfinite(*reported)) reported.reset();
      rows.push_back(DailyRow{*provider, row.columnText(1), row.columnText(2),
                              TokenCounts{row.columnInt64(3), row.columnInt64(4), row.columnInt64(5),
                                          row.columnInt64(6), row.columnInt64(7), row.columnInt64(8)},
                              reported});
    });
    statement(sql::summarySessions).forEachRow(range, [&](SQLiteStatement& row) {
      const auto provider = providerFromRawValue(row.columnText(0));
      if (!provider) return;
      sessionGroups.push_back(SessionGroup{*provider, row.columnText(1), row.columnInt64(2)});
    });
  }

  // Pricing and sums, outside the lock.
  std::vector<DaySums> byDay(window.slotOfKey.size());
  const auto daySums = [&](const std::string& key) -> DaySums* {
    const auto it = window.slotOfKey.find(key);
    return it == window.slotOfKey.end() ? nullptr : &byDay[it->second];
  };
  std::array<ProviderSums, providerCount> byProvider{};
  std::unordered_map<ModelKey, ModelSums, ModelKeyHash> byModel;

  UsageSummary summary;
  summary.days = n;
  summary.windowEnd = window.start;

  for (DailyRow& row : rows) {
    const PricedCost priced = prices.cost(row.model, row.tokens, row.reported);
    const int64_t processed = row.tokens.processed();
    const std::size_t p = slotOf(row.provider);

    summary.tokens += row.tokens;
    ProviderSums& provider = byProvider[p];
    provider.present = true;
    provider.tokens = saturating::add(provider.tokens, processed);
    provider.approximate = provider.approximate || priced.approximate;
    DaySums* day = daySums(row.day);
    if (day) {
      day->present = true;
      day->tokens = saturating::add(day->tokens, processed);
      day->providerTokens[p] = saturating::add(day->providerTokens[p], processed);
    }
    ModelSums& model = byModel[ModelKey{row.provider, std::move(row.model)}];
    model.tokens += row.tokens;
    model.approximate = model.approximate || priced.approximate;

    if (priced.usd) {
      const double usd = *priced.usd;
      summary.totalCostUSD += usd;
      provider.costUSD += usd;
      if (day) {
        day->costUSD += usd;
        day->providerCostUSD[p] += usd;
      }
      model.costUSD = model.costUSD.value_or(0) + usd;
      if (priced.breakdown) {
        summary.costByType.input += priced.breakdown->input;
        summary.costByType.cacheRead += priced.breakdown->cacheRead;
        summary.costByType.cacheWrite += priced.breakdown->cacheWrite;
        summary.costByType.output += priced.breakdown->output;
        summary.costByType.other += priced.breakdown->other;
      }
    } else {
      summary.hasUnknownPrices = true;
    }
    summary.cacheSavingsUSD += priced.cacheSavingsUSD;
  }

  for (const SessionGroup& group : sessionGroups) {
    ProviderSums& provider = byProvider[slotOf(group.provider)];
    provider.present = true;
    provider.sessions = saturating::add(provider.sessions, group.count);
    if (DaySums* day = daySums(group.day)) {
      day->present = true;
      day->sessions = saturating::add(day->sessions, group.count);
    }
  }

  const int64_t processedTotal = summary.tokens.processed();

  for (const ProviderID id : allProviders) {
    const ProviderSums& provider = byProvider[slotOf(id)];
    if (!provider.present) continue;
    summary.sessions = saturating::add(summary.sessions, provider.sessions);
    summary.tools.push_back(UsageSummary::Tool{id, provider.sessions, provider.tokens, provider.costUSD,
                                               share(provider.costUSD, summary.totalCostUSD),
                                               tokenShare(provider.tokens, processedTotal), provider.approximate});
    for (std::size_t i = 0; i < window.dates.size(); ++i) {
      const DaySums& day = byDay[window.slots[i]];
      summary.daily.push_back(
          UsageSummary::DayPoint{window.dates[i], id, day.providerTokens[slotOf(id)], day.providerCostUSD[slotOf(id)]});
    }
  }
  // Equal costs keep the declared provider order.
  std::stable_sort(summary.tools.begin(), summary.tools.end(), [](const auto& a, const auto& b) {
    return costRank(a.costUSD) > costRank(b.costUSD);
  });

  summary.models.reserve(byModel.size());
  for (auto& [key, model] : byModel) {
    summary.models.push_back(UsageSummary::ModelRow{key.provider, key.model, model.costUSD,
                                                    share(model.costUSD.value_or(0), summary.totalCostUSD),
                                                    tokenShare(model.tokens.processed(), processedTotal),
                                                    model.tokens, model.approximate});
  }
  std::sort(summary.models.begin(), summary.models.end(), modelBefore);

  for (std::size_t i = window.dates.size(); i-- > 0;) {
    const DaySums& day = byDay[window.slots[i]];
    if (!day.present) continue;
    summary.perDay.push_back(UsageSummary::DayRow{window.dates[i], day.costUSD, day.tokens, day.sessions});
  }

  return summary;
}

}  // namespace tokvane
