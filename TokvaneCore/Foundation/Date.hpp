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
