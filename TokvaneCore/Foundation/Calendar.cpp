#include "TokvaneCore/Foundation/Calendar.hpp"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "TokvaneCore/Foundation/ISO8601.hpp"

namespace tokvane {

namespace {

// time_t keeps whole seconds; the fraction is carried separately so that
// arithmetic on dates keeps it.
bool split(Date date, time_t& whole, double& fraction) {
  const double unix = date.unixSeconds();
  if (!std::isfinite(unix) || unix > 1e15 || unix < -1e15) return false;
  const double floored = std::floor(unix);
  whole = static_cast<time_t>(floored);
  fraction = unix - floored;
  return true;
}

DateComponents fromTm(const std::tm& tm) {
  return DateComponents{static_cast<int64_t>(tm.tm_year) + 1900, tm.tm_mon + 1, tm.tm_mday,
                        tm.tm_hour, tm.tm_min, tm.tm_sec};
}

}  // namespace

std::optional<DateComponents> LocalCalendar::components(Date date) const {
  time_t whole;
  double fraction;
  std::tm tm{};
  if (!split(date, whole, fraction) || !localtime_r(&whole, &tm)) return std::nullopt;
  return fromTm(tm);
}

std::optional<Date> LocalCalendar::startOfDay(Date date) const {
  time_t whole;
  double fraction;
  std::tm tm{};
  if (!split(date, whole, fraction) || !localtime_r(&whole, &tm)) return std::nullopt;
  tm.tm_hour = 0;
  tm.tm_min = 0;
  tm.tm_sec = 0;
  tm.tm_isdst = -1;
  const time_t start = mktime(&tm);
  if (start == static_cast<time_t>(-1) && tm.tm_year != 69) return std::nullopt;
  return Date::fromUnix(static_cast<double>(start));
}

std::optional<Date> LocalCalendar::addingDays(Date date, int days) const {
  time_t whole;
  double fraction;
  std::tm tm{};
  if (!split(date, whole, fraction) || !localtime_r(&whole, &tm)) return std::nullopt;
  tm.tm_mday += days;
  tm.tm_isdst = -1;
  const time_t moved = mktime(&tm);
  if (moved == static_cast<time_t>(-1) && tm.tm_year != 69) return std::nullopt;
  return Date::fromUnix(static_cast<double>(moved) + fraction);
}

std::optional<DateComponents> FixedOffsetCalendar::components(Date date) const {
  time_t whole;
  double fraction;
  if (!split(date, whole, fraction)) return std::nullopt;
  const int64_t local = static_cast<int64_t>(whole) + offset_;
  int64_t days = local / 86400;
  int64_t rest = local % 86400;
  if (rest < 0) {
    rest += 86400;
    days -= 1;
  }
  DateComponents c;
  unsigned month, day;
  ISO8601::civilFromDays(days, c.year, month, day);
  c.month = static_cast<int>(month);
  c.day = static_cast<int>(day);
  c.hour = static_cast<int>(rest / 3600);
  c.minute = static_cast<int>(rest / 60 % 60);
  c.second = static_cast<int>(rest % 60);
  return c;
}

std::optional<Date> FixedOffsetCalendar::startOfDay(Date date) const {
  const auto c = components(date);
  if (!c) return std::nullopt;
  const int64_t days = ISO8601::daysFromCivil(c->year, static_cast<unsigned>(c->month), static_cast<unsigned>(c->day));
  return Date::fromUnix(static_cast<double>(days * 86400 - offset_));
}

std::optional<Date> FixedOffsetCalendar::addingDays(Date date, int days) const {
  time_t whole;
  double fraction;
  if (!split(date, whole, fraction)) return std::nullopt;
  return date + static_cast<double>(days) * 86400.0;
}

std::string dayKey(const DateComponents& c) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d", static_cast<long long>(c.year), c.month, c.day);
  return buffer;
}

std::string dayKey(Date date, const Calendar& calendar) {
  const auto c = calendar.components(date);
  return dayKey(c ? *c : DateComponents{});
}

}  // namespace tokvane
