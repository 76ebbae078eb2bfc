#include "TokvaneCore/Presentation/WidgetDisplay.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Foundation/Saturating.hpp"

namespace tokvane::WidgetDisplay {

namespace {

constexpr double minute = 60;
constexpr double hour = 3'600;
constexpr double day = 86'400;
constexpr double week = 7 * day;
// The mean Gregorian year, for ages too large for civil arithmetic.
constexpr double meanYear = 31'556'952;
// Beyond this age, or for moments this far from 1970, months and years are
// mean ones rather than counted on the calendar; far beyond any real snapshot.
constexpr double civilAgeLimit = 1'000 * meanYear;
constexpr double civilDateLimit = 1e15;

// Whole calendar months from `from` to `to` (from <= to), in UTC: the
// difference of their months, less one when `to` lies earlier in its month
// than `from` does in its own.
int64_t wholeMonths(Date from, Date to) {
  struct MonthPosition {
    int64_t monthIndex;  // year * 12 + month
    double offset;       // seconds since the month began
  };
  auto position = [](Date date) {
    const double unix = date.unixSeconds();
    const auto days = static_cast<int64_t>(std::floor(unix / day));
    const double secondOfDay = unix - static_cast<double>(days) * day;
    int64_t year = 0;
    unsigned month = 0, dayOfMonth = 0;
    ISO8601::civilFromDays(days, year, month, dayOfMonth);
    return MonthPosition{year * 12 + static_cast<int64_t>(month), static_cast<double>(dayOfMonth - 1) * day + secondOfDay};
  };
  const MonthPosition a = position(from);
  const MonthPosition b = position(to);
  int64_t months = b.monthIndex - a.monthIndex;
  if (b.offset < a.offset) --months;
  return months;
}

std::string agoPhrase(int64_t amount, std::string_view unit) {
  return std::to_string(amount) + " " + std::string(unit) + " ago";
}

// The abbreviated English age of `generatedAt` as seen from `now` (which is later).
std::string relativeAge(Date generatedAt, Date now) {
  const double age = now - generatedAt;
  if (age < minute) return agoPhrase(saturating::fromDouble(age), "sec.");
  if (age < hour) return agoPhrase(saturating::fromDouble(age / minute), "min.");
  if (age < day) return agoPhrase(saturating::fromDouble(age / hour), "hr.");
  if (age < week) {
    const int64_t days = saturating::fromDouble(age / day);
    return agoPhrase(days, days == 1 ? "day" : "days");
  }
  const bool civil = age < civilAgeLimit && std::abs(generatedAt.unixSeconds()) < civilDateLimit &&
                     std::abs(now.unixSeconds()) < civilDateLimit;
  const int64_t months = civil ? wholeMonths(generatedAt, now) : saturating::fromDouble(age / (meanYear / 12));
  if (months < 1) return agoPhrase(saturating::fromDouble(age / week), "wk.");
  if (months < 12) return agoPhrase(months, "mo.");
  return agoPhrase(civil ? months / 12 : saturating::fromDouble(age / meanYear), "yr.");
}

}  // namespace

bool isStale(Date generatedAt, Date now) { return now - generatedAt > staleAfter; }

std::optional<std::string> staleText(Date generatedAt, Date now) {
  if (!isStale(generatedAt, now)) return std::nullopt;
  return "Updated " + relativeAge(generatedAt, now);
}

Date nextReload(const std::optional<Snapshot>& snapshot, Date now, std::optional<ProviderID> only) {
  Date result = now + reloadInterval;
  if (!snapshot) return result;
  for (const auto& provider : snapshot->providers) {
    if (only && provider.id != *only) continue;
    for (const auto& window : provider.windows) {
      if (window.resetsAt && *window.resetsAt > now && *window.resetsAt < result) result = *window.resetsAt;
    }
  }
  return result;
}

std::vector<Date> entryDates(const std::optional<Snapshot>& snapshot, Date now) {
  if (!snapshot) return {now};
  const Date staleAt = snapshot->generatedAt + (staleAfter + 1);
  if (staleAt > now) return {now, staleAt};
  return {now};
}

bool usesLiveTimer(double remaining) { return remaining > 0 && remaining < day; }

std::string_view noLimitsNote(ProviderStatus status) {
  switch (status) {
    case ProviderStatus::ok: return "no live limits";
    case ProviderStatus::signInNeeded: return "sign in needed";
    case ProviderStatus::unreachable: return "unreachable";
    case ProviderStatus::rateLimited: return "unreachable";
    case ProviderStatus::accessDenied: return "access needed";
    case ProviderStatus::unavailable: return "no live limits";
  }
  return "no live limits";
}

std::vector<LimitWindow> tightestWindows(const std::vector<LimitWindow>& windows, Date now, int count) {
  if (count <= 0 || windows.empty()) return {};
  std::vector<std::size_t> positions(windows.size());
  std::iota(positions.begin(), positions.end(), std::size_t{0});
  // A NaN used fraction (no decoder yields one; only code can) ranks as 0,
  // so the comparison stays a strict weak order.
  auto used = [&](std::size_t i) {
    const double value = windows[i].effectiveUsedFraction(now);
    return std::isnan(value) ? 0.0 : value;
  };
  std::sort(positions.begin(), positions.end(), [&](std::size_t a, std::size_t b) {
    const bool resetA = windows[a].isReset(now);
    const bool resetB = windows[b].isReset(now);
    if (resetA != resetB) return !resetA;
    const double usedA = used(a);
    const double usedB = used(b);
    if (usedA != usedB) return usedA > usedB;
    return a < b;
  });
  positions.resize(std::min(positions.size(), static_cast<std::size_t>(count)));
  std::sort(positions.begin(), positions.end());
  std::vector<LimitWindow> result;
  result.reserve(positions.size());
  for (std::size_t i : positions) result.push_back(windows[i]);
  return result;
}

std::vector<LimitWindow> sessionAndWeekly(const std::vector<LimitWindow>& windows) {
  std::vector<LimitWindow> result;
  const auto session = std::find_if(windows.begin(), windows.end(), [](const auto& w) { return w.id == "session"; });
  const auto weekly = std::find_if(windows.begin(), windows.end(), [](const auto& w) { return w.id == "weekly"; });
  if (session != windows.end()) result.push_back(*session);
  if (weekly != windows.end()) result.push_back(*weekly);
  for (const auto& window : windows) {
    if (result.size() >= 2) break;
    // Step one took the first window of each of these ids, if any.
    if (window.id != "session" && window.id != "weekly") result.push_back(window);
  }
  if (result.size() > 2) result.resize(2);
  return result;
}

}  // namespace tokvane::WidgetDisplay
