// The small rules of the shell: the URL that opens the popover, the reopen
// guard of the status item's click, and the scroll stepper.
#include <gtest/gtest.h>

#include <chrono>
#include <type_traits>

#include "Tokvane/App/OpenRequest.hpp"
#include "Tokvane/App/PopoverToggle.hpp"
#include "Tokvane/StatusItem/ScrollStepper.hpp"

namespace tokvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct URLCase {
  const char* url;
  bool opens;
};

class OpenURLTest : public testing::TestWithParam<URLCase> {};

TEST_P(OpenURLTest, MatchesSchemeAndHostExactly) { EXPECT_EQ(isOpenURL(GetParam().url), GetParam().opens) << GetParam().url; }

INSTANTIATE_TEST_SUITE_P(Addresses, OpenURLTest,
                         testing::Values(URLCase{"tokvane://open", true}, URLCase{"tokvane://open/", true},
                                         URLCase{"tokvane://open/any/path?q=1#frag", true},
                                         URLCase{"tokvane://open?x", true}, URLCase{"tokvane://open#y", true},
                                         URLCase{"tokvane://open:80", true}, URLCase{"tokvane://me@open", true},
                                         URLCase{"tokvane://Open", false}, URLCase{"tokvane://OPEN", false},
                                         URLCase{"Tokvane://open", false}, URLCase{"TOKVANE://open", false},
                                         URLCase{"tokvane://opened", false}, URLCase{"tokvane://settings", false},
                                         URLCase{"tokvane:open", false}, URLCase{"tokvane:///open", false},
                                         URLCase{"tokvane://", false}, URLCase{"https://open", false},
                                         URLCase{"tokvanex://open", false}, URLCase{"open", false},
                                         URLCase{"", false}));

TEST(OpenURL, FirstMatchingAddressOfAList) {
  EXPECT_EQ(firstOpenURL({}), std::nullopt);
  EXPECT_EQ(firstOpenURL({"tokvane://settings", "https://open"}), std::nullopt);
  EXPECT_EQ(firstOpenURL({"tokvane://Open", "tokvane://open", "tokvane://open"}), 1u);
}

TEST(PopoverToggle, ShownPopoverCloses) {
  const auto now = Clock::now();
  EXPECT_EQ(popoverToggle(true, std::nullopt, now), PopoverToggle::close);
  EXPECT_EQ(popoverToggle(true, now, now), PopoverToggle::close);
}

TEST(PopoverToggle, ReopenGuardOnTheMonotonicClock) {
  // The guard takes monotonic time points: a wall clock set back cannot
  // make every click fall inside it.
  static_assert(Clock::is_steady);
  static_assert(std::is_same_v<decltype(popoverToggle(false, std::nullopt, Clock::now())), PopoverToggle>);
  const auto closed = Clock::time_point(100s);
  struct Case {
    std::chrono::milliseconds after;
    PopoverToggle expected;
  };
  for (const Case& c : {Case{0ms, PopoverToggle::nothing}, Case{299ms, PopoverToggle::nothing},
                        Case{300ms, PopoverToggle::nothing}, Case{301ms, PopoverToggle::show},
                        Case{5s, PopoverToggle::show}}) {
    EXPECT_EQ(popoverToggle(false, closed, closed + c.after), c.expected) << c.after.count() << " ms";
  }
  // Never closed: the distant past.
  EXPECT_EQ(popoverToggle(false, std::nullopt, Clock::time_point(0s)), PopoverToggle::show);
}

class ScrollStepperTest : public testing::Test {
 protected:
  ScrollStepper stepper;
  Clock::time_point t = Clock::time_point(1000s);

  int feed(double dy, bool precise = false, bool began = false, double dx = 0) {
    return stepper.feed(dy, dx, precise, began, t);
  }
};

TEST_F(ScrollStepperTest, TrackpadStepsOncePerGesture) {
  EXPECT_EQ(feed(1.0, true, true), 0);
  t += 10ms;
  EXPECT_EQ(feed(1.0, true), 0);
  t += 10ms;
  EXPECT_EQ(feed(0.9, true), 0);  // 2.9
  t += 10ms;
  EXPECT_EQ(feed(0.1, true), 1);  // 3.0 reached
  t += 10ms;
  EXPECT_EQ(feed(5.0, true), 0);  // same gesture: spent
  t += 10ms;
  EXPECT_EQ(feed(-3.0, true, true), -1);  // a new gesture
}

TEST_F(ScrollStepperTest, WheelNotchesStepAgainOnlyAfterTheGap) {
  EXPECT_EQ(feed(-1.0), -1);
  t += 200ms;
  EXPECT_EQ(feed(-1.0), 0);
  t += 300ms;  // exactly the gap after the previous event: same gesture
  EXPECT_EQ(feed(-1.0), 0);
  t += 301ms;
  EXPECT_EQ(feed(-1.0), -1);
  // A continuous spin keeps the gesture alive however long it lasts.
  for (int i = 0; i < 20; ++i) {
    t += 100ms;
    EXPECT_EQ(feed(1.0), 0);
  }
}

TEST_F(ScrollStepperTest, HorizontalDeltaOnlyWhenVerticalIsZero) {
  EXPECT_EQ(feed(0, false, false, 2.0), 1);
  t += 1s;
  EXPECT_EQ(feed(-1.0, false, false, 5.0), -1);
}

TEST_F(ScrollStepperTest, GapIsMonotonic) {
  static_assert(ScrollStepper::Clock::is_steady);
  EXPECT_EQ(feed(1.0), 1);
  // Events carry monotonic time points; an event "before" the previous one
  // (which a monotonic clock never produces) is simply not a gap.
  t -= 1h;
  EXPECT_EQ(feed(1.0), 0);
}

TEST(ScrollStepping, WrapsAroundThePresentProviders) {
  const std::vector<ProviderID> present{ProviderID::claude, ProviderID::codex, ProviderID::grok};
  EXPECT_EQ(steppedProvider(present, ProviderID::claude, 1), ProviderID::codex);
  EXPECT_EQ(steppedProvider(present, ProviderID::claude, -1), ProviderID::grok);
  EXPECT_EQ(steppedProvider(present, ProviderID::grok, 1), ProviderID::claude);
  // Pinned provider not present: counts from the first.
  EXPECT_EQ(steppedProvider(present, ProviderID::cursor, 1), ProviderID::codex);
  EXPECT_EQ(steppedProvider(present, ProviderID::cursor, -1), ProviderID::grok);
}

}  // namespace
}  // namespace tokvane
