#include <gtest/gtest.h>

#include <QLocale>

#include "Tokvane/Usage/ProviderCardText.hpp"
#include "Tokvane/Usage/ProviderSection.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"

namespace tokvane {
namespace {

const Date now = Date::fromUnix(1767268020);  // 2026-01-01 11:47 UTC

// Qt's English short time puts a space or a narrow space before AM/PM.
std::string plain(std::string text) {
  for (size_t at; (at = text.find("\u202f")) != std::string::npos;) text.replace(at, 3, " ");
  return text;
}

LimitBarModel barFor(double used, std::optional<double> resetIn, std::optional<double> duration = 18000) {
  std::optional<Date> reset;
  if (resetIn) reset = now + *resetIn;
  return LimitBarModel(LimitWindow("session", "Session", used, duration, reset, LimitSource::live()), now);
}

TEST(CreditsText, FirstMatchingCaseWins) {
  struct Case {
    Credits credits;
    std::string text;
  };
  const Case cases[] = {
      {{"Credits", 12.5, 3.0, 20.0, true}, "Unlimited"},
      {{"Credits", 12.5, 3.0, std::nullopt, false}, "$12.50 left"},
      {{"Credits", std::nullopt, 3.0, 20.0, false}, "$3.00 / $20.00"},
      {{"Credits", std::nullopt, 3.0, std::nullopt, false}, "$3.00 spent"},
      {{"Credits", std::nullopt, std::nullopt, 20.0, false}, "\u2014 / $20.00"},
      {{"Credits", std::nullopt, std::nullopt, std::nullopt, false}, "\u2014"},
      {{"Credits", 0.004, std::nullopt, std::nullopt, false}, "<$0.01 left"},
      {{"Credits", 1234.5, std::nullopt, std::nullopt, false}, "$1,234.50 left"},
  };
  for (const auto& c : cases) EXPECT_EQ(creditsText(c.credits), c.text);
}

TEST(ManageUsageURL, EachProviderHasItsOwnHTTPSPage) {
  EXPECT_EQ(manageUsageURL(ProviderID::claude), "https://claude.ai/settings/usage");
  EXPECT_EQ(manageUsageURL(ProviderID::codex), "https://chatgpt.com/codex/settings/usage");
  EXPECT_EQ(manageUsageURL(ProviderID::grok), "https://grok.com");
  EXPECT_EQ(manageUsageURL(ProviderID::cursor), "https://cursor.com/dashboard?tab=usage");
}

TEST(WatchedFolders, ListsTheFoldersReadOnLinuxUnderTilde) {
  const std::vector<std::string> expected = {"~/.claude/projects", "~/.codex/sessions", "~/.codex/archived_sessions",
                                             "~/.grok/sessions", "~/.config/Cursor/User/globalStorage"};
  for (const char* home : {"/home/ada", "/home/ada/", "/home/./ada", "/home/bob/../ada"}) {
    EXPECT_EQ(watchedFolders(ProviderLocations(home)), expected) << home;
  }
}

TEST(UpdatedText, AgesBelowAMinuteReadJustNow) {
  struct Case {
    std::optional<Date> lastUpdated;
    std::string text;
  };
  const Case cases[] = {
      {std::nullopt, "Not updated yet"},
      {now, "Updated just now"},
      {now - 59.9, "Updated just now"},
      {now + 120, "Updated just now"},  // the clock moved back
      {now - 60, "Updated 1m ago"},
      {now - 3599, "Updated 59m ago"},
      {now - (2 * 3600 + 5 * 60), "Updated 2h 5m ago"},
      {now - (86400 + 3 * 3600), "Updated 1d 3h ago"},
  };
  for (const auto& c : cases) EXPECT_EQ(updatedText(c.lastUpdated, now), c.text);
}

TEST(LimitAccessibilityLabel, SpeaksTheResetUnlessThereIsNone) {
  EXPECT_EQ(limitAccessibilityLabel("Session", barFor(0.42, 2 * 3600 + 10 * 60)), "Session, 58% left, resets in 2h 10m");
  EXPECT_EQ(limitAccessibilityLabel("Weekly", barFor(0.5, -10)), "Weekly, 100% left, resets now");
  EXPECT_EQ(limitAccessibilityLabel("Weekly", barFor(0.25, std::nullopt)), "Weekly, 75% left");
}

TEST(VisibleProviders, KeepsTheFirstListsOrderAndRepeats) {
  using enum ProviderID;
  EXPECT_EQ(visibleProviders({grok, claude, codex}, {claude, grok}), (std::vector<ProviderID>{grok, claude}));
  EXPECT_EQ(visibleProviders({codex, codex}, {codex}), (std::vector<ProviderID>{codex, codex}));
  EXPECT_TRUE(visibleProviders({claude}, {}).empty());
}

class StatusText : public ::testing::Test {
 protected:
  std::optional<std::string> text(ProviderID provider, const std::optional<ProviderLimits>& limits) {
    return ProviderSection::statusText(provider, limits, now, english, utc);
  }
  static ProviderLimits withStatus(ProviderStatus status) {
    ProviderLimits limits;
    limits.status = status;
    return limits;
  }
  QLocale english{QLocale::English, QLocale::UnitedStates};
  FixedOffsetCalendar utc;
};

TEST_F(StatusText, FailuresNameTheToolOrProvider) {
  using enum ProviderStatus;
  struct Case {
    ProviderID provider;
    ProviderStatus status;
    std::string text;
  };
  const Case cases[] = {
      {ProviderID::claude, signInNeeded, "Open Claude Code to refresh your login"},
      {ProviderID::grok, signInNeeded, "Open Grok Build to refresh your login"},
      {ProviderID::codex, unreachable, "Couldn't reach Codex \u2014 showing last known values"},
      {ProviderID::codex, rateLimited, "Couldn't reach Codex \u2014 showing last known values"},
      {ProviderID::claude, accessDenied, "Allow access in Settings \u2192 Providers"},
      {ProviderID::cursor, unavailable, "Live limits not available for Cursor yet"},
  };
  for (const auto& c : cases) EXPECT_EQ(text(c.provider, withStatus(c.status)), c.text) << caseName(c.status);
}

TEST_F(StatusText, NothingWithoutLimitsOrWhenEveryWindowIsLive) {
  EXPECT_EQ(text(ProviderID::claude, std::nullopt), std::nullopt);
  ProviderLimits limits = withStatus(ProviderStatus::ok);
  EXPECT_EQ(text(ProviderID::claude, limits), std::nullopt);
  limits.windows.emplace_back("session", "Session", 0.2, 18000, now + 600, LimitSource::live());
  EXPECT_EQ(text(ProviderID::claude, limits), std::nullopt);
}

TEST_F(StatusText, OkNamesTheEarliestLocalOrStaleTime) {
  ProviderLimits limits = withStatus(ProviderStatus::ok);
  const Date today10 = Date::fromUnix(1767261600);    // 2026-01-01 10:00 UTC
  const Date today0930 = Date::fromUnix(1767259800);  // 09:30
  limits.windows.emplace_back("a", "A", 0.2, 18000, std::nullopt, LimitSource::local(today10));
  limits.windows.emplace_back("b", "B", 0.2, 18000, std::nullopt, LimitSource::stale(today0930));
  limits.windows.emplace_back("c", "C", 0.2, 18000, std::nullopt, LimitSource::live());
  ASSERT_TRUE(text(ProviderID::codex, limits));
  EXPECT_EQ(plain(*text(ProviderID::codex, limits)), "as of 9:30 AM");
}

TEST_F(StatusText, AnEarlierDayShowsMonthAndDay) {
  const Date march5 = Date::fromUnix(1772723220);  // 2026-03-05 15:07 UTC
  const std::string sameDay = ProviderSection::asOfText(march5, march5 + 3600, english, utc);
  const std::string otherDay = ProviderSection::asOfText(march5, march5 + 86400, english, utc);
  EXPECT_EQ(plain(sameDay), "3:07 PM");
  EXPECT_EQ(plain(otherDay), "Mar 5, 3:07 PM");
  // The calendar's zone decides the day and the time: an hour earlier is
  // the same day in UTC, the day before in UTC+9.
  FixedOffsetCalendar tokyo(9 * 3600);
  EXPECT_EQ(plain(ProviderSection::asOfText(march5, march5 - 3600, english, utc)), "3:07 PM");
  EXPECT_EQ(plain(ProviderSection::asOfText(march5, march5 - 3600, english, tokyo)), "Mar 6, 12:07 AM");
}

}  // namespace
}  // namespace tokvane
