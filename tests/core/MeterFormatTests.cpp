#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define TOKVANE_TEST_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOKVANE_TEST_LSAN 1
#endif
#endif
#ifdef TOKVANE_TEST_LSAN
#include <sanitizer/lsan_interface.h>
#endif

#include "TokvaneCore/Format/MeterFormat.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

const std::string dash = "\xE2\x80\x94";
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct UsdCase {
  std::optional<double> value;
  std::string text;
};

struct TokensCase {
  int64_t value;
  std::string text;
};

struct DoubleCase {
  double value;
  std::string text;
};

// The reference table: every row must come out exactly like this.
const std::vector<UsdCase> usdTable = {
    {std::nullopt, dash},
    {0, "$0.00"},
    {0.005, "<$0.01"},
    {0.01, "$0.01"},
    {1234.567, "$1,234.57"},
    {1234567.891, "$1,234,567.89"},
    {-2.5, "$-2.50"},
};

const std::vector<TokensCase> tokensTable = {
    {0, "0"},
    {999, "999"},
    {1000, "1.00K"},
    {1234, "1.23K"},
    {9994, "9.99K"},
    {9995, "10.0K"},
    {9999, "10.0K"},
    {99'949, "99.9K"},
    {99'950, "100K"},
    {999'499, "999K"},
    {999'500, "1.00M"},
    {999'999, "1.00M"},
    {1'234'567, "1.23M"},
    {999'499'999, "999M"},
    {999'500'000, "1.00B"},
    {12'345'678'901, "12.3B"},
    {999'999'999'999, "1000B"},
};

const std::vector<DoubleCase> shareTable = {
    {0, "0%"},
    {-0.5, "0%"},
    {-1e-9, "0%"},
    {0.0005, "<0.1%"},
    {0.001, "0.1%"},
    {0.1234, "12.3%"},
    {1.0, "100.0%"},
};

const std::vector<DoubleCase> countdownTable = {
    {nan, dash},
    {inf, dash},
    {-1, "now"},
    {0, "now"},
    {0.5, "<1m"},
    {59.9, "<1m"},
    {60, "1m"},
    {3'599, "59m"},
    {3'600, "1h 0m"},
    {86'399, "23h 59m"},
    {86'400, "1d 0h"},
    {863'913'599, "9998d 23h"},
    {863'913'600, "9999d 0h"},
    {863'913'600.5, "9999d 0h"},
    {1e12, "9999d 0h"},
};

// Every table row rendered as "operation(input) = text", for comparing whole runs.
std::vector<std::string> renderTables() {
  std::vector<std::string> lines;
  for (const auto& c : usdTable) lines.push_back("usd " + MeterFormat::usd(c.value));
  for (const auto& c : tokensTable) lines.push_back("tokens " + MeterFormat::tokens(c.value));
  for (const auto& c : shareTable) lines.push_back("share " + MeterFormat::share(c.value));
  for (const auto& c : countdownTable) lines.push_back("countdown " + MeterFormat::countdown(c.value));
  return lines;
}

TEST(MeterFormat, ReferenceTable) {
  for (const auto& c : usdTable) {
    EXPECT_EQ(MeterFormat::usd(c.value), c.text) << (c.value ? std::to_string(*c.value) : "absent");
  }
  for (const auto& c : tokensTable) EXPECT_EQ(MeterFormat::tokens(c.value), c.text) << c.value;
  for (const auto& c : shareTable) EXPECT_EQ(MeterFormat::share(c.value), c.text) << c.value;
  for (const auto& c : countdownTable) EXPECT_EQ(MeterFormat::countdown(c.value), c.text) << c.value;
  EXPECT_EQ(MeterFormat::maxCountdownDays, 9999);
}

TEST(MeterFormat, UsdRoundsHalfToEvenOnTheShortestDecimal) {
  const std::vector<UsdCase> cases = {
      // Ties: the shortest decimal ends in 5 exactly, so the even cent wins,
      // whatever side of the tie the binary value lies on.
      {0.015, "$0.02"},
      {0.025, "$0.02"},
      {0.035, "$0.04"},
      {0.125, "$0.12"},
      {1.005, "$1.00"},
      {2.675, "$2.68"},
      {1234.565, "$1,234.56"},
      {123456789.125, "$123,456,789.12"},
      {-0.015, "$-0.02"},
      {-2.675, "$-2.68"},
      // Just past a tie rounds up; binary noise below it does not matter.
      {0.0150000001, "$0.02"},
      {0.1 + 0.2, "$0.30"},
      // Carries run through every digit and into the grouping.
      {0.999, "$1.00"},
      {999.995, "$1,000.00"},
      {9999999.999, "$10,000,000.00"},
  };
  for (const auto& c : cases) EXPECT_EQ(MeterFormat::usd(c.value), c.text) << *c.value;
}

TEST(MeterFormat, UsdGroupsEveryThreeDigits) {
  const std::vector<UsdCase> cases = {
      {7, "$7.00"},
      {12.3, "$12.30"},
      {100, "$100.00"},
      {999.99, "$999.99"},
      {1000, "$1,000.00"},
      {12345.6, "$12,345.60"},
      {123456, "$123,456.00"},
      {1234567, "$1,234,567.00"},
      {-1234567.5, "$-1,234,567.50"},
      {1e15, "$1,000,000,000,000,000.00"},
  };
  for (const auto& c : cases) EXPECT_EQ(MeterFormat::usd(c.value), c.text) << *c.value;
}

TEST(MeterFormat, UsdOddValuesNeverCrash) {
  const std::vector<UsdCase> cases = {
      {inf, dash},
      {-inf, dash},
      {nan, dash},
      {-0.0, "$0.00"},
      {5e-324, "<$0.01"},         // the smallest positive double
      {0.00999999, "<$0.01"},
      {-0.004, "$-0.00"},          // a negative amount keeps its sign
      {-5e-324, "$-0.00"},
  };
  for (const auto& c : cases) EXPECT_EQ(MeterFormat::usd(c.value), c.text) << *c.value;

  std::string huge = "$1";
  for (int i = 0; i < 100; ++i) huge += ",000";
  EXPECT_EQ(MeterFormat::usd(1e300), huge + ".00");

  const std::string largest = MeterFormat::usd(DBL_MAX);
  EXPECT_EQ(largest.rfind("$179,769,313,486,231,57", 0), 0u) << largest;
  EXPECT_EQ(largest.substr(largest.size() - 3), ".00");
  // 309 integer digits, grouped: 103 groups.
  EXPECT_EQ(largest.size(), 1 + 309 + 102 + 3);
  EXPECT_EQ(MeterFormat::usd(-DBL_MAX).rfind("$-179,769,", 0), 0u);
}

TEST(MeterFormat, TokensBeyondTheTable) {
  const std::vector<TokensCase> cases = {
      {1, "1"},
      {-5, "-5"},
      // Negative counts are never abbreviated.
      {-1'000'000, "-1000000"},
      {std::numeric_limits<int64_t>::min(), "-9223372036854775808"},
      {1001, "1.00K"},
      // "%.2f" of the binary value: 1.005 is 1.00499999..., 1.015 is 1.01499999...
      {1005, "1.00K"},
      {1015, "1.01K"},
      {10'049, "10.0K"},
      {10'050, "10.1K"},  // 10.05 is stored as 10.050000000000000711
      {9'995'000, "10.0M"},
      {99'999'999, "100M"},
      {1'000'000'000, "1.00B"},
      {999'999'999'999'999, "1000000B"},
      {std::numeric_limits<int64_t>::max(), "9223372037B"},
  };
  for (const auto& c : cases) EXPECT_EQ(MeterFormat::tokens(c.value), c.text) << c.value;
}

TEST(MeterFormat, ShareEdges) {
  const std::vector<DoubleCase> cases = {
      // NaN shows as no share; -inf is below zero; +inf prints like "%.1f%%".
      {nan, "0%"},
      {-inf, "0%"},
      {inf, "inf%"},
      {0.00099999, "<0.1%"},
      {0.0009995, "<0.1%"},
      {0.9996, "100.0%"},
      {2.5, "250.0%"},  // not capped
      {0.05, "5.0%"},
  };
  for (const auto& c : cases) EXPECT_EQ(MeterFormat::share(c.value), c.text) << c.value;
  EXPECT_EQ(MeterFormat::share(1e300).size(), 303u + 2 + 1);  // "1000…0.0%"
}

TEST(MeterFormat, CountdownTruncatesEveryUnit) {
  const std::vector<DoubleCase> cases = {
      {-inf, dash},
      {1e-300, "<1m"},
      {119.99, "1m"},
      {3'661, "1h 1m"},
      {7'199.9, "1h 59m"},
      {90'061, "1d 1h"},
      {172'799, "1d 23h"},
      {863'913'599.9, "9998d 23h"},
      {1e300, "9999d 0h"},
  };
  for (const auto& c : cases) EXPECT_EQ(MeterFormat::countdown(c.value), c.text) << c.value;
}

// Puts a process-wide locale in place for the life of the object (C and C++
// globals), generating it into a temporary folder when the system lacks it.
class ScopedLocale {
 public:
  explicit ScopedLocale(const std::string& language) {
    const std::string name = language + ".UTF-8";
    active_ = activate(name);
    if (!active_ && std::system("command -v localedef >/dev/null 2>&1") == 0) {
      const auto folder = generated_.path() / name;
      const std::string command = "localedef -c -i " + language + " -f UTF-8 '" + folder.string() +
                                  "' >/dev/null 2>&1";
      [[maybe_unused]] const int status = std::system(command.c_str());
      ::setenv("LOCPATH", generated_.path().c_str(), 1);
      usedLocPath_ = true;
      active_ = activate(name);
    }
  }

  ~ScopedLocale() {
    std::setlocale(LC_ALL, "C");
    std::locale::global(std::locale::classic());
    if (usedLocPath_) ::unsetenv("LOCPATH");
  }

  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;

  bool active() const { return active_; }

 private:
  static bool activate(const std::string& name) {
#ifdef TOKVANE_TEST_LSAN
    // glibc keeps the LOCPATH search list of a loaded locale for good.
    __lsan::ScopedDisabler keepLocaleData;
#endif
    if (!std::setlocale(LC_ALL, name.c_str())) return false;
    try {
      std::locale::global(std::locale(name));
    } catch (const std::runtime_error&) {
      std::setlocale(LC_ALL, "C");
      return false;
    }
    return true;
  }

  testing::TempDir generated_;
  bool active_ = false;
  bool usedLocPath_ = false;
};

TEST(MeterFormat, TextsIgnoreTheProcessLocale) {
  const std::vector<std::string> reference = renderTables();

  int tried = 0;
  for (const std::string language : {"de_DE", "fr_FR"}) {
    ScopedLocale locale(language);
    if (!locale.active()) continue;
    ++tried;
    // The locale really is in force: printf would now write a decimal comma.
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5") << language;

    EXPECT_EQ(renderTables(), reference) << language;
    EXPECT_EQ(MeterFormat::usd(1234567.891), "$1,234,567.89") << language;
    EXPECT_EQ(MeterFormat::tokens(1234), "1.23K") << language;
    EXPECT_EQ(MeterFormat::share(0.1234), "12.3%") << language;
  }
  if (tried == 0) GTEST_SKIP() << "neither de_DE.UTF-8 nor fr_FR.UTF-8 is installed or can be generated";
}

}  // namespace
}  // namespace tokvane
