#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "TokvaneCore/Foundation/Date.hpp"

namespace tokvane {

struct DateComponents {
  int64_t year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// A Gregorian calendar in one time zone. Day keys, the start of a day and
// "the same time N days later" follow the zone's rules, daylight saving included.
class Calendar {
 public:
  virtual ~Calendar() = default;

  // The local civil time of `date`; none when the zone cannot represent it.
  virtual std::optional<DateComponents> components(Date date) const = 0;
  // The first instant of the local day that holds `date`.
  virtual std::optional<Date> startOfDay(Date date) const = 0;
  // The same local time of day `days` calendar days away (negative goes back).
  virtual std::optional<Date> addingDays(Date date, int days) const = 0;
};

// The process's own time zone (TZ and /etc/localtime), through localtime_r and mktime.
class LocalCalendar final : public Calendar {
 public:
  std::optional<DateComponents> components(Date date) const override;
  std::optional<Date> startOfDay(Date date) const override;
  std::optional<Date> addingDays(Date date, int days) const override;
};

// A zone with a fixed offset from UTC and no daylight saving; offset 0 is UTC.
class FixedOffsetCalendar final : public Calendar {
 public:
  explicit FixedOffsetCalendar(int offsetSeconds = 0) : offset_(offsetSeconds) {}
  std::optional<DateComponents> components(Date date) const override;
  std::optional<Date> startOfDay(Date date) const override;
  std::optional<Date> addingDays(Date date, int days) const override;

 private:
  int offset_;
};

// The local day of `date` as "YYYY-MM-DD"; a component the calendar cannot give is written as 0.
std::string dayKey(Date date, const Calendar& calendar);
std::string dayKey(const DateComponents& components);

}  // namespace tokvane
