#include "Tokvane/Stats/SummaryDisplay.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numeric>

#include "TokvaneCore/Format/MeterFormat.hpp"

namespace tokvane {

std::string_view rawValue(BreakdownMode mode) { return mode == BreakdownMode::model ? "model" : "day"; }

std::optional<BreakdownMode> breakdownModeFromRawValue(std::string_view raw) {
  if (raw == "model") return BreakdownMode::model;
  if (raw == "day") return BreakdownMode::day;
  return std::nullopt;
}

std::string_view breakdownModeLabel(BreakdownMode mode) { return mode == BreakdownMode::model ? "Model" : "Day"; }

namespace SummaryDisplay {

namespace {

constexpr std::string_view emDash = "\xE2\x80\x94";         // —
constexpr std::string_view almostEqual = "\xE2\x89\x88";    // ≈
constexpr std::string_view middleDot = " \xC2\xB7 ";        // " · "
constexpr std::string_view ellipsis = "\xE2\x80\xA6";       // …

// 2^63: the first double beyond the 64-bit integer range (and -2^63 the last
// one inside it).
constexpr double int64Bound = 9223372036854775808.0;

bool fitsInt64(double rounded) { return rounded >= -int64Bound && rounded < int64Bound; }

std::string fixedText(double value, int decimals) {
  char buffer[512];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return std::string(emDash);
  return std::string(buffer, result.ptr);
}

// printf("%g") in the POSIX locale: six significant digits, trailing zeros
// dropped, exponent form for very small or large values.
std::string generalText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
  if (result.ec != std::errc()) return std::string(emDash);
  return std::string(buffer, result.ptr);
}

// The shortest text that reads back as `value`, whole numbers written with
// ".0" ("1733702400.0").
std::string shortestDoubleText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

double finiteOrZero(double value) { return std::isfinite(value) ? value : 0; }

double clampedFraction(double value) { return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0; }

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::string costWithApproximation(std::optional<double> cost, bool approximate) {
  std::string text = MeterFormat::usd(cost);
  if (approximate && text != emDash) text = std::string(almostEqual) + text;
  return text;
}

}  // namespace

std::string groupedInteger(int64_t n) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
  std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  std::string out;
  if (!text.empty() && text.front() == '-') {
    out.push_back('-');
    text.remove_prefix(1);
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i != 0 && (text.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(text[i]);
  }
  return out;
}

std::string headlineValue(double value, SummaryUnit unit) {
  if (!std::isfinite(value)) return std::string(emDash);
  const double rounded = std::round(value);  // halves away from zero
  if (!fitsInt64(rounded)) return std::string(emDash);

  if (unit == SummaryUnit::tokens) {
    std::string text = MeterFormat::tokens(static_cast<int64_t>(rounded));
    const bool endsInLetter = !text.empty() && std::isalpha(static_cast<unsigned char>(text.back()));
    if (text.find('.') != std::string::npos && endsInLetter) {
      const char suffix = text.back();
      text.pop_back();
      while (!text.empty() && text.back() == '0') text.pop_back();
      if (!text.empty() && text.back() == '.') text.pop_back();
      text.push_back(suffix);
    }
    return text;
  }
  // The cents branch looks at the value itself: 2.5 is not whole, so it
  // reads "$2.5" although it rounds to 3.
  if (value < 10 && value != rounded) return "$" + generalText(std::round(value * 100) / 100);
  return "$" + groupedInteger(static_cast<int64_t>(rounded));
}

std::string formatDate(Date date, DatePattern pattern, const Calendar& calendar) {
  static constexpr std::string_view months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // 1970-01-01 was a Thursday.
  static constexpr std::string_view weekdays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
  const std::optional<DateComponents> parts = calendar.components(date);
  if (!parts || parts->month < 1 || parts->month > 12) return {};
  std::string text;
  if (pattern == DatePattern::weekdayMonthDay) {
    const int64_t days = daysFromCivil(parts->year, parts->month, parts->day);
    const auto index = static_cast<std::size_t>(((days % 7) + 7) % 7);
    text += weekdays[index];
    text += ", ";
  }
  text += months[parts->month - 1];
  text += ' ';
  text += std::to_string(parts->day);
  return text;
}

std::string sessionsText(int64_t sessions) {
  return groupedInteger(sessions) + (sessions == 1 ? " session" : " sessions");
}

ToolLine toolLineDetail(const UsageSummary::Tool& tool, SummaryUnit unit) {
  const std::string costText = costWithApproximation(tool.costUSD, tool.approximate);
  const std::string tokensText = MeterFormat::tokens(tool.tokens);
  ToolLine line;
  line.provider = tool.provider;
  line.sessions = sessionsText(tool.sessions);
  if (unit == SummaryUnit::tokens) {
    line.value = tokensText;
    line.detail = MeterFormat::share(finiteOrZero(tool.tokenShare)) + " of tokens" + std::string(middleDot) + costText;
  } else {
    line.value = costText;
    line.detail = MeterFormat::share(finiteOrZero(tool.costShare)) + " of cost" + std::string(middleDot) + tokensText +
                  " tokens";
  }
  return line;
}

std::vector<Stat> totalsStats(const UsageSummary& summary) {
  const TokenCounts& t = summary.tokens;
  return {
      {"Processed tokens", MeterFormat::tokens(t.processed())},
      {"Cached input", MeterFormat::tokens(TokenCounts{0, t.cacheRead, t.cacheWrite5m, t.cacheWrite1h, 0, 0}.processed())},
      {"Uncached input", MeterFormat::tokens(t.uncachedInput)},
      {"Output", MeterFormat::tokens(t.output)},
      {"Cache savings", MeterFormat::usd(summary.cacheSavingsUSD)},
  };
}

std::vector<Segment> typeSegments(const UsageSummary& summary, SummaryUnit unit) {
  struct Candidate {
    const char* label;
    double amount;
  };
  std::vector<Candidate> candidates;
  if (unit == SummaryUnit::tokens) {
    const TokenCounts& t = summary.tokens;
    candidates = {{"Input", static_cast<double>(t.uncachedInput)},
                  {"Cache read", static_cast<double>(t.cacheRead)},
                  {"Cache write", static_cast<double>(t.cacheWrite())},
                  {"Output", static_cast<double>(t.output)}};
  } else {
    const CostBreakdown& c = summary.costByType;
    candidates = {{"Input", c.input}, {"Cache read", c.cacheRead}, {"Cache write", c.cacheWrite},
                  {"Output", c.output}, {"Other", c.other}};
  }
  std::vector<Segment> segments;
  for (const Candidate& candidate : candidates) {
    // NaN is not above zero either.
    if (!(candidate.amount > 0)) continue;
    std::string text;
    if (unit == SummaryUnit::cost) {
      text = MeterFormat::usd(candidate.amount);
    } else {
      // Token amounts come from 64-bit counters; the bound keeps the
      // conversion defined for the one value (2^63) a double rounds up to.
      const double bounded = std::min(candidate.amount, 9223372036854774784.0);
      text = MeterFormat::tokens(static_cast<int64_t>(bounded));
    }
    segments.push_back({candidate.label, candidate.amount, std::move(text)});
  }
  return segments;
}

std::vector<BreakdownRow> breakdownRows(const UsageSummary& summary, BreakdownMode mode, SummaryUnit unit,
                                        const Calendar& calendar) {
  std::vector<BreakdownRow> rows;
  if (mode == BreakdownMode::day) {
    const double total =
        unit == SummaryUnit::cost ? summary.totalCostUSD : static_cast<double>(summary.tokens.processed());
    rows.reserve(summary.perDay.size());
    int rank = 1;
    for (const UsageSummary::DayRow& day : summary.perDay) {
      const double amount = unit == SummaryUnit::cost ? day.costUSD : static_cast<double>(day.tokens);
      const double x = total > 0 ? amount / total : 0;
      BreakdownRow row;
      row.id = "day/" + shortestDoubleText(day.day.unixSeconds());
      row.rank = rank++;
      row.title = formatDate(day.day, DatePattern::weekdayMonthDay, calendar);
      row.cost = MeterFormat::usd(day.costUSD);
      row.share = MeterFormat::share(finiteOrZero(x));
      row.tokens = MeterFormat::tokens(day.tokens);
      row.fraction = clampedFraction(x);
      rows.push_back(std::move(row));
    }
    return rows;
  }

  // Model mode: higher shares first, unpriced models after every priced one
  // in the cost unit, the summary's own order among equal keys. A key that
  // is not finite counts as 0, so the ordering stays a strict weak one.
  auto key = [unit](const UsageSummary::ModelRow& row) {
    double k;
    if (unit == SummaryUnit::tokens) {
      k = row.tokenShare;
    } else {
      if (!row.costUSD) return -1.0;
      k = row.costShare;
    }
    return finiteOrZero(k);
  };
  std::vector<std::size_t> order(summary.models.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::vector<double> keys;
  keys.reserve(summary.models.size());
  for (const auto& model : summary.models) keys.push_back(key(model));
  std::stable_sort(order.begin(), order.end(), [&keys](std::size_t a, std::size_t b) {
    if (keys[a] != keys[b]) return keys[a] > keys[b];
    return a < b;
  });

  rows.reserve(order.size());
  int rank = 1;
  for (std::size_t index : order) {
    const UsageSummary::ModelRow& model = summary.models[index];
    const bool unpricedInCost = unit == SummaryUnit::cost && !model.costUSD;
    const double s = unit == SummaryUnit::tokens ? model.tokenShare : model.costShare;
    BreakdownRow row;
    row.id = std::string(rawValue(model.provider)) + "/" + model.model;
    row.rank = rank++;
    row.provider = model.provider;
    row.title = model.model;
    row.cost = costWithApproximation(model.costUSD, model.approximate);
    row.share = unpricedInCost ? std::string(emDash) : MeterFormat::share(finiteOrZero(s));
    row.tokens = MeterFormat::tokens(model.tokens.processed());
    row.fraction = unpricedInCost ? 0 : clampedFraction(s);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string indexingText(const IndexingProgress& progress) {
  const char* unitName = "KB";
  double divisor = 1e3;
  if (progress.bytesTotal >= 1'000'000'000) {
    unitName = "GB";
    divisor = 1e9;
  } else if (progress.bytesTotal >= 1'000'000) {
    unitName = "MB";
    divisor = 1e6;
  }
  auto amount = [divisor](int64_t bytes) {
    const double v = static_cast<double>(bytes) / divisor;
    return fixedText(v, v < 10 ? 1 : 0);
  };
  return "Reading " + std::string(toolName(progress.provider)) + " history" + std::string(ellipsis) + " " +
         amount(progress.bytesRead) + " / " + amount(progress.bytesTotal) + " " + unitName;
}

std::string sectionHeadline(const UsageSummary& summary, bool indexing, SummaryUnit unit) {
  if (summary.tools.empty() && indexing) return std::string(emDash);
  if (unit == SummaryUnit::cost) return MeterFormat::usd(summary.totalCostUSD);
  return MeterFormat::tokens(summary.tokens.processed());
}

std::string sublineText(int64_t sessions, SummaryUnit unit) {
  std::string text = sessionsText(sessions);
  if (unit == SummaryUnit::cost) text += std::string(middleDot) + "API estimate";
  return text;
}

std::string emptyText(const UsageSummary& summary) {
  return "No usage in the last " + std::to_string(summary.days) + " days";
}

}  // namespace SummaryDisplay

}  // namespace tokvane
