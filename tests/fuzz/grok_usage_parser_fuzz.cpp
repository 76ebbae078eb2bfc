// The Grok usage parser over any file: never crashes, never moves the last
// turn backwards, yields only Grok events without negative counts, with a
// finite reported cost and the key "<session>#<turn>#<model>", and reading
// again from any turn gives exactly the earlier events of the later turns.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "FuzzCheck.hpp"
#include "TokvaneCore/Parsers/GrokUsageParser.hpp"

using namespace tokvane;

namespace {

constexpr int64_t lowest = std::numeric_limits<int64_t>::min();

// The turn number written into an event's key.
int64_t turnOf(const UsageEvent& event) {
  const std::string& key = event.dedupKey;
  const size_t prefix = event.sessionID.size() + 1;
  const size_t suffix = event.model.size() + 1;
  FUZZ_CHECK(key.size() > prefix + suffix);
  FUZZ_CHECK(key.compare(0, event.sessionID.size(), event.sessionID) == 0 && key[prefix - 1] == '#');
  FUZZ_CHECK(key.compare(key.size() - event.model.size(), std::string::npos, event.model) == 0 &&
             key[key.size() - suffix] == '#');
  int64_t turn = 0;
  const char* first = key.data() + prefix;
  const char* last = key.data() + key.size() - suffix;
  const auto [end, error] = std::from_chars(first, last, turn);
  FUZZ_CHECK(error == std::errc() && end == last);
  FUZZ_CHECK(std::to_string(turn) == std::string(first, last));
  return turn;
}

void check(const GrokUsageParser::Result& result, int64_t afterTurn) {
  FUZZ_CHECK(result.lastTurn >= afterTurn);
  int64_t previous = lowest;
  for (const UsageEvent& event : result.events) {
    FUZZ_CHECK(event.provider == ProviderID::grok);
    FUZZ_CHECK(fuzz::nonNegative(event.tokens));
    FUZZ_CHECK(event.tokens.cacheWrite1h == 0);
    FUZZ_CHECK(fuzz::isFinite(event.timestamp));
    if (event.reportedCostUSD) FUZZ_CHECK(std::isfinite(*event.reportedCostUSD));
    FUZZ_CHECK(!event.dedupKey.empty());
    const int64_t turn = turnOf(event);
    FUZZ_CHECK(turn > afterTurn);
    FUZZ_CHECK(turn >= previous);
    previous = turn;
  }
}

// The events of `all` whose turn lies after `afterTurn`, in their order.
std::vector<UsageEvent> after(const std::vector<UsageEvent>& all, int64_t afterTurn) {
  std::vector<UsageEvent> kept;
  for (const UsageEvent& event : all) {
    if (turnOf(event) > afterTurn) kept.push_back(event);
  }
  return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view file = fuzz::text(data, size);

  const auto everything = GrokUsageParser::events(file, lowest);
  check(everything, lowest);
  FUZZ_CHECK(GrokUsageParser::events(file, lowest) == everything);

  // A cursor's last turn: one of a few, picked by the input so that each is tried.
  static constexpr int64_t stored[] = {0, 1, 2, -1, 3, std::numeric_limits<int64_t>::max()};
  const int64_t afterTurn = stored[size % std::size(stored)];
  const auto first = GrokUsageParser::events(file, afterTurn);
  check(first, afterTurn);
  FUZZ_CHECK(first.events == after(everything.events, afterTurn));

  // The next read starts after the last finished turn.
  const auto next = GrokUsageParser::events(file, first.lastTurn);
  check(next, first.lastTurn);
  FUZZ_CHECK(next.events == after(everything.events, first.lastTurn));
  return 0;
}
