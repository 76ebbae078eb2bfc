#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Foundation/KeyedJSON.hpp"
#include "TokvaneCore/Pricing/CostBreakdown.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"
#include "TokvaneCore/Usage/TokenCounts.hpp"

namespace tokvane {

// Token use and cost over the last `days` local calendar days: what the
// popover and the widget show of the ledger. An immutable value, rebuilt from
// the ledger at every publish and kept only in memory; the application swaps
// in a new one only when it differs (==) from the current one.
struct UsageSummary {
  // One provider's share of the window.
  struct Tool {
    ProviderID provider = ProviderID::claude;
    int64_t sessions = 0;     // sessions that started in the window
    int64_t tokens = 0;       // processed tokens (every counter but reasoning)
    double costUSD = 0;       // rows without a cost add nothing
    double costShare = 0;     // part of totalCostUSD, 0 when that is 0
    double tokenShare = 0;    // part of all processed tokens, 0 when there are none
    bool approximate = false; // some row priced from a borrowed price or a cost the log reported

    friend bool operator==(const Tool&, const Tool&) = default;

    JSON toJSON() const;
    static Tool fromJSON(const JSON& json);
  };

  // One provider on one day.
  struct DayPoint {
    Date day;  // the start of that local day
    ProviderID provider = ProviderID::claude;
    int64_t tokens = 0;  // processed tokens
    double costUSD = 0;

    friend bool operator==(const DayPoint&, const DayPoint&) = default;

    JSON toJSON(DateCoding coding) const;
    static DayPoint fromJSON(const JSON& json, DateCoding coding);
  };

  // One model of one provider.
  struct ModelRow {
    ProviderID provider = ProviderID::claude;
    std::string model;
    std::optional<double> costUSD;  // absent when none of its rows had a cost
    double costShare = 0;           // an absent cost counts as 0
    double tokenShare = 0;
    TokenCounts tokens;
    bool approximate = false;

    friend bool operator==(const ModelRow&, const ModelRow&) = default;

    // costUSD is left out when absent.
    JSON toJSON() const;
    static ModelRow fromJSON(const JSON& json);
  };

  // One day over all providers.
  struct DayRow {
    Date day;  // the start of that local day
    double costUSD = 0;
    int64_t tokens = 0;    // processed tokens
    int64_t sessions = 0;  // sessions that started that day

    friend bool operator==(const DayRow&, const DayRow&) = default;

    JSON toJSON(DateCoding coding) const;
    static DayRow fromJSON(const JSON& json, DateCoding coding);
  };

  int days = 30;               // local calendar days in the window, at least 1
  Date windowEnd;              // the start (local midnight) of the window's last day, today
  double totalCostUSD = 0;     // every row of the window that has a cost
  int64_t sessions = 0;        // sessions whose first day lies in the window
  std::vector<Tool> tools;     // most expensive first
  std::vector<DayPoint> daily; // per provider of tools (fixed provider order), one per day, oldest first
  std::vector<ModelRow> models;  // priced first, then by cost and tokens
  std::vector<DayRow> perDay;    // days with usage or sessions, newest first
  TokenCounts tokens;            // all six counters over the window
  CostBreakdown costByType;
  double cacheSavingsUSD = 0;
  bool hasUnknownPrices = false;  // some row had neither a price nor a reported cost

  friend bool operator==(const UsageSummary&, const UsageSummary&) = default;

  // What is shown before the first publish: 30 days ending at the Unix epoch
  // instant, everything zero or empty. Built once, on first use.
  static const UsageSummary& empty();
  // A fixed, plausible 30-day sample (UTC days) for previewing the views.
  static const UsageSummary& preview();

  // The provider's series for the last n days ending at windowEnd, oldest
  // first: its points where daily has one for that exact day (the first of
  // duplicates wins), zero points elsewhere; empty when n < 1. Days are
  // counted with `calendar`, which must be the one the summary was built with
  // (the application passes LocalCalendar); a day it cannot form is left out.
  std::vector<DayPoint> lastDays(int n, ProviderID provider, const Calendar& calendar) const;

  JSON toJSON(DateCoding coding) const;
  // Every key is required except a model row's costUSD.
  static UsageSummary fromJSON(const JSON& json, DateCoding coding);
};

}  // namespace tokvane
