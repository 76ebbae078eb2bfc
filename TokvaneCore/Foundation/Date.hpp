#pragma once

#include <compare>
#include <cstdint>

namespace tokvane {

// An instant, as seconds since 2001-01-01 00:00:00 UTC (fraction included).
// This is the date form the ledger keeps inside its stored JSON.
struct Date {
  double secondsSinceReferenceDate = 0;

  // Seconds between 1970-01-01 and 2001-01-01.
  static constexpr double unixEpochOffset = 978307200.0;
  // 0000-01-01T00:00:00Z and 10000-01-01T00:00:00Z in seconds since 1970:
  // no date outside the years 0000 to 9999 (UTC) is read.
  static constexpr double firstUnixSecondOfYear0 = -62167219200.0;
  static constexpr double firstUnixSecondOfYear10000 = 253402300800.0;

  // Whether a time reported in seconds since 1970 lies within 1970-01-01 ...
  // 9999-12-31 (UTC); anything outside is a broken value, not a date to show.
  static constexpr bool isPlausibleUnixTime(double unixSeconds) {
    return unixSeconds >= 0 && unixSeconds < firstUnixSecondOfYear10000;
  }

  static constexpr Date fromUnix(double unixSeconds) { return Date{unixSeconds - unixEpochOffset}; }
  constexpr double unixSeconds() const { return secondsSinceReferenceDate + unixEpochOffset; }

  // The current wall-clock time.
  static Date now();

  constexpr Date operator+(double seconds) const { return Date{secondsSinceReferenceDate + seconds}; }
  constexpr Date operator-(double seconds) const { return Date{secondsSinceReferenceDate - seconds}; }
  constexpr double operator-(Date other) const {
    return secondsSinceReferenceDate - other.secondsSinceReferenceDate;
  }

  friend constexpr bool operator==(Date, Date) = default;
  friend constexpr auto operator<=>(Date a, Date b) {
    return a.secondsSinceReferenceDate <=> b.secondsSinceReferenceDate;
  }
};

}  // namespace tokvane
