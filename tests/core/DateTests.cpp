#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Foundation/ISO8601.hpp"

namespace tokvane {
namespace {

TEST(ISO8601, ParsesBothFormsAndRequiresAZone) {
  struct Case {
    const char* text;
    std::optional<double> unix;
  };
  const Case cases[] = {
      {"2025-10-01T12:00:00Z", 1759320000.0},
      {"2025-10-01T12:00:00.250Z", 1759320000.25},
      {"2025-10-01T14:00:00+02:00", 1759320000.0},
      {"2025-10-01T07:30:00.5-04:30", 1759320000.5},
      {"2024-02-29T00:00:00Z", 1709164800.0},
      {"2025-10-01T12:00:00", std::nullopt},         // no zone
      {"2025-10-01 12:00:00Z", std::nullopt},        // no T
      {"2025-10-01T12:00:00.Z", std::nullopt},       // empty fraction
      {"2025-10-01T12:00:00+0200", std::nullopt},    // offset without colon
      {"2025-02-29T00:00:00Z", std::nullopt},        // not a leap year
      {"2025-13-01T00:00:00Z", std::nullopt},
      {"2025-10-01T24:00:00Z", std::nullopt},
      {"2025-10-01T12:00:00Zjunk", std::nullopt},
      {"", std::nullopt},
      {"25-10-01T12:00:00Z", std::nullopt},
      // An offset may not carry the instant outside the years 0000 to 9999,
      // where it could not be written back as a text that parses.
      {"0000-01-01T00:34:56+02:00", std::nullopt},
      {"9999-12-31T23:30:00-01:00", std::nullopt},
      {"9999-12-31T23:59:59Z", 253402300799.0},
  };
  for (const auto& c : cases) {
    const auto parsed = ISO8601::parse(c.text);
    ASSERT_EQ(parsed.has_value(), c.unix.has_value()) << c.text;
    if (parsed) {
      EXPECT_DOUBLE_EQ(parsed->unixSeconds(), *c.unix) << c.text;
    }
  }
}

TEST(ISO8601, FormatsWholeSecondsInUTC) {
  EXPECT_EQ(ISO8601::format(Date::fromUnix(1793275200.0)), "2026-10-29T12:00:00Z");
  EXPECT_EQ(ISO8601::format(Date::fromUnix(1793275200.9)), "2026-10-29T12:00:00Z");
  EXPECT_EQ(ISO8601::format(Date{0}), "2001-01-01T00:00:00Z");
  EXPECT_EQ(ISO8601::format(Date::fromUnix(-1)), "1969-12-31T23:59:59Z");
}

TEST(Calendar, FixedOffsetDayKeysAndDayArithmetic) {
  const FixedOffsetCalendar utc;
  const FixedOffsetCalendar tokyo(9 * 3600);
  const Date lateEvening = *ISO8601::parse("2025-03-09T23:59:00Z");
  EXPECT_EQ(dayKey(lateEvening, utc), "2025-03-09");
  EXPECT_EQ(dayKey(lateEvening + 60, utc), "2025-03-10");
  EXPECT_EQ(dayKey(lateEvening, tokyo), "2025-03-10");
  EXPECT_EQ(*utc.startOfDay(lateEvening), *ISO8601::parse("2025-03-09T00:00:00Z"));
  EXPECT_EQ(*tokyo.startOfDay(lateEvening), *ISO8601::parse("2025-03-09T15:00:00Z"));
  EXPECT_EQ(*utc.addingDays(lateEvening, -90), *ISO8601::parse("2024-12-09T23:59:00Z"));
}

// The local calendar follows the process's zone; these cases pin one zone
// with daylight saving and restore the original afterwards.
class LocalCalendarInZone : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    setenv("TZ", "America/Los_Angeles", 1);
    tzset();
  }
  void TearDown() override {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::optional<std::string> saved_;
};

TEST_F(LocalCalendarInZone, DaylightSavingDaysHaveTheirOwnLength) {
  const LocalCalendar calendar;
  // 2025-03-09 is 23 hours long in Los Angeles, 2025-11-02 is 25 hours long.
  const Date springNoon = *ISO8601::parse("2025-03-09T12:00:00-07:00");
  const Date springStart = *calendar.startOfDay(springNoon);
  EXPECT_EQ(springStart, *ISO8601::parse("2025-03-09T00:00:00-08:00"));
  const Date nextStart = *calendar.startOfDay(*calendar.addingDays(springNoon, 1));
  EXPECT_DOUBLE_EQ(nextStart - springStart, 23 * 3600.0);
  EXPECT_EQ(dayKey(nextStart - 1, calendar), "2025-03-09");
  EXPECT_EQ(dayKey(nextStart, calendar), "2025-03-10");

  const Date fallNoon = *ISO8601::parse("2025-11-02T12:00:00-08:00");
  const Date fallStart = *calendar.startOfDay(fallNoon);
  EXPECT_DOUBLE_EQ(*calendar.startOfDay(*calendar.addingDays(fallNoon, 1)) - fallStart, 25 * 3600.0);
  // Adding days keeps the wall-clock time across the change.
  EXPECT_EQ(*calendar.addingDays(*ISO8601::parse("2025-11-01T09:30:00.25-07:00"), 1),
            *ISO8601::parse("2025-11-02T09:30:00.25-08:00"));
}

TEST_F(LocalCalendarInZone, SameInstantDifferentZonesDifferentKeys) {
  const Date instant = *ISO8601::parse("2025-06-01T03:00:00Z");
  EXPECT_EQ(dayKey(instant, LocalCalendar()), "2025-05-31");
  EXPECT_EQ(dayKey(instant, FixedOffsetCalendar()), "2025-06-01");
}

}  // namespace
}  // namespace tokvane
