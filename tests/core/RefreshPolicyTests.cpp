#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Providers/RefreshPolicy.hpp"

namespace tokvane {
namespace {

TEST(RefreshPolicy, BacksOffOnlyAfterUnreachableOrRateLimitedAnswers) {
  struct Case {
    ProviderStatus status;
    double previous;
    double next;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {ProviderStatus::unreachable, 300, 600},
      {ProviderStatus::unreachable, 600, 1200},
      {ProviderStatus::unreachable, 1200, 1800},
      {ProviderStatus::unreachable, 1800, 1800},
      {ProviderStatus::rateLimited, 100, 300},
      {ProviderStatus::rateLimited, 0, 300},
      {ProviderStatus::rateLimited, -50, 300},
      {ProviderStatus::rateLimited, 1000, 1800},
      {ProviderStatus::rateLimited, infinity, 1800},
      {ProviderStatus::rateLimited, nan, 1800},
      {ProviderStatus::ok, 1800, 300},
      {ProviderStatus::signInNeeded, 1200, 300},
      {ProviderStatus::accessDenied, 1200, 300},
      {ProviderStatus::unavailable, 1800, 300},
      {ProviderStatus::ok, nan, 300},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(caseName(c.status)) + " after " + std::to_string(c.previous));
    EXPECT_EQ(RefreshPolicy::nextDelay(c.status, c.previous), c.next);
  }
  double delay = RefreshPolicy::minInterval;
  std::vector<double> delays;
  for (int i = 0; i < 5; ++i) delays.push_back(delay = RefreshPolicy::nextDelay(ProviderStatus::unreachable, delay));
  EXPECT_EQ(delays, (std::vector<double>{600, 1200, 1800, 1800, 1800}));
}

TEST(RefreshPolicy, RefreshesOnOpenWhenTheLastFetchIsStale) {
  const Date now = Date::fromUnix(1760000000);
  struct Case {
    const char* what;
    std::optional<double> fetchAge;
    std::optional<double> attemptAge;
    bool refresh;
  };
  const Case cases[] = {
      {"never tried", std::nullopt, std::nullopt, true},
      {"tried 299 s ago, never fetched", std::nullopt, 299, false},
      {"tried 300 s ago, never fetched", std::nullopt, 300, true},
      {"fetched exactly 60 s ago", 60, std::nullopt, false},
      {"fetched 61 s ago", 61, std::nullopt, true},
      {"fetched 61 s ago, tried 10 s ago", 61, 10, false},
      {"fetched an hour ago, tried 300 s ago", 3600, 300, true},
      {"attempt in the future", 3600, -120, false},
      {"fetch in the future", -120, std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto fetch = c.fetchAge ? std::optional<Date>(now - *c.fetchAge) : std::nullopt;
    const auto attempt = c.attemptAge ? std::optional<Date>(now - *c.attemptAge) : std::nullopt;
    EXPECT_EQ(RefreshPolicy::shouldRefreshOnOpen(fetch, attempt, now), c.refresh);
  }
  EXPECT_EQ(RefreshPolicy::minInterval, 300);
  EXPECT_EQ(RefreshPolicy::openStaleness, 60);
  EXPECT_EQ(RefreshPolicy::maxBackoff, 1800);
}

}  // namespace
}  // namespace tokvane
