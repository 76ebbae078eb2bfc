#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Parsers/GrokUsageParser.hpp"

namespace tokvane {
namespace {

// 2025-10-01T12:00:00Z
constexpr double baseUnix = 1759320000.0;

std::string endedAt(int minute) {
  return "\"2025-10-01T12:" + std::string(minute < 10 ? "0" : "") + std::to_string(minute) + ":00Z\"";
}

std::string oneModel(const std::string& name = "grok-4") {
  return R"({")" + name + R"(":{"inputTokens":10,"outputTokens":2}})";
}

// A turn; `ended` is the raw JSON of "endedAt" (empty: key left out).
std::string turn(const std::string& number, const std::string& ended, const std::string& modelUsage = oneModel()) {
  std::string text = R"({"turnNumber":)" + number;
  if (!ended.empty()) text += R"(,"endedAt":)" + ended;
  if (!modelUsage.empty()) text += R"(,"modelUsage":)" + modelUsage;
  return text + "}";
}

std::string session(const std::vector<std::string>& turns, const std::string& id = "s1") {
  std::string text = R"({"sessionId":")" + id + R"(","cwd":"/tmp","turns":[)";
  for (size_t i = 0; i < turns.size(); ++i) text += (i ? "," : "") + turns[i];
  return text + "]}";
}

std::vector<std::string> keys(const GrokUsageParser::Result& result) {
  std::vector<std::string> keys;
  for (const auto& event : result.events) keys.push_back(event.dedupKey);
  return keys;
}

using Keys = std::vector<std::string>;

TEST(GrokUsageParser, OnlyFinishedTurnsAdvanceAndARunningTurnIsOfferedAgain) {
  const auto running = GrokUsageParser::events(
      session({turn("1", endedAt(1)), turn("2", endedAt(2)), turn("3", "", oneModel())}), 0);
  EXPECT_EQ(keys(running), (Keys{"s1#1#grok-4", "s1#2#grok-4"}));
  EXPECT_EQ(running.lastTurn, 2);

  // Turn 3 finished since; the indexer passes back the stored last turn.
  const auto finished = GrokUsageParser::events(
      session({turn("1", endedAt(1)), turn("2", endedAt(2)), turn("3", endedAt(3))}), running.lastTurn);
  EXPECT_EQ(keys(finished), (Keys{"s1#3#grok-4"}));
  EXPECT_EQ(finished.lastTurn, 3);

  // Nothing new: no events and the same last turn.
  const auto again = GrokUsageParser::events(session({turn("1", endedAt(1)), turn("3", endedAt(3))}), 3);
  EXPECT_EQ(again, (GrokUsageParser::Result{{}, 3}));
}

TEST(GrokUsageParser, AnUnfinishedTurnStopsTheLastTurnFromAdvancing) {
  const auto first = GrokUsageParser::events(
      session({turn("1", ""), turn("2", endedAt(2)), turn("3", endedAt(3))}), 0);
  // Later finished turns still give their events (the ledger absorbs the
  // repeat next time), but the last turn stays before the running one.
  EXPECT_EQ(keys(first), (Keys{"s1#2#grok-4", "s1#3#grok-4"}));
  EXPECT_EQ(first.lastTurn, 0);

  const auto second = GrokUsageParser::events(
      session({turn("1", endedAt(1)), turn("2", endedAt(2)), turn("3", endedAt(3))}), first.lastTurn);
  EXPECT_EQ(keys(second), (Keys{"s1#1#grok-4", "s1#2#grok-4", "s1#3#grok-4"}));
  EXPECT_EQ(second.lastTurn, 3);
}

TEST(GrokUsageParser, TurnsAreTakenInNumberOrder) {
  const auto result = GrokUsageParser::events(
      session({turn("3", endedAt(3)), turn("1", endedAt(1)), turn("2", endedAt(2), oneModel("b")),
               turn("2", endedAt(2), oneModel("a"))}),
      0);
  // Equal numbers keep their order in the file.
  EXPECT_EQ(keys(result), (Keys{"s1#1#grok-4", "s1#2#b", "s1#2#a", "s1#3#grok-4"}));
  EXPECT_EQ(result.lastTurn, 3);

  // An unfinished turn written last in the file but numbered first still holds the last turn back.
  const auto heldBack = GrokUsageParser::events(session({turn("5", endedAt(5)), turn("4", R"("")")}), 3);
  EXPECT_EQ(keys(heldBack), (Keys{"s1#5#grok-4"}));
  EXPECT_EQ(heldBack.lastTurn, 3);
}

TEST(GrokUsageParser, EndTimesDecideFinishingAndEvents) {
  struct Case {
    const char* name;
    std::string turn;
    bool finished;
    bool hasEvents;
  };
  const Case cases[] = {
      {"ended", turn("1", endedAt(1)), true, true},
      {"ended with fraction and offset", turn("1", R"("2025-10-01T14:01:00.25+02:00")"), true, true},
      {"missing endedAt", turn("1", ""), false, false},
      {"empty endedAt", turn("1", R"("")"), false, false},
      {"endedAt null", turn("1", "null"), false, false},
      {"endedAt a number", turn("1", "1759320060"), false, false},
      {"endedAt text that is not a date", turn("1", R"("soon")"), true, false},
      {"endedAt without a zone", turn("1", R"("2025-10-01T12:01:00")"), true, false},
      {"no modelUsage", turn("1", endedAt(1), ""), true, false},
      {"modelUsage an array", turn("1", endedAt(1), R"([{"inputTokens":1}])"), true, false},
      {"model entries that are not objects", turn("1", endedAt(1), R"({"a":5,"b":null})"), true, false},
  };
  for (const auto& c : cases) {
    const auto result = GrokUsageParser::events(session({c.turn}), 0);
    EXPECT_EQ(result.lastTurn, c.finished ? 1 : 0) << c.name;
    EXPECT_EQ(result.events.size(), c.hasEvents ? 1u : 0u) << c.name;
  }
  const auto result = GrokUsageParser::events(session({turn("1", R"("2025-10-01T14:01:00.25+02:00")")}), 0);
  ASSERT_EQ(result.events.size(), 1u);
  EXPECT_EQ(result.events[0].timestamp, Date::fromUnix(baseUnix + 60.25));
}

TEST(GrokUsageParser, EventFieldsCountsAndCost) {
  constexpr int64_t max = std::numeric_limits<int64_t>::max();
  struct Case {
    const char* name;
    std::string entry;
    TokenCounts tokens;
    std::optional<double> cost;
  };
  const Case cases[] = {
      {"all fields",
       R"({"inputTokens":1000,"cachedReadTokens":400,"cacheCreationTokens":50,"outputTokens":120,)"
       R"("reasoningTokens":30,"costUsdTicks":25000000000})",
       {600, 400, 50, 0, 120, 30}, 2.5},
      {"cached reads above input", R"({"inputTokens":100,"cachedReadTokens":150})", {0, 150, 0, 0, 0, 0}, {}},
      {"10^10 ticks is one dollar", R"({"costUsdTicks":10000000000})", {}, 1.0},
      {"zero cost is a cost", R"({"costUsdTicks":0})", {}, 0.0},
      {"cost as text", R"({"costUsdTicks":"100"})", {}, {}},
      {"cost beyond range", R"({"inputTokens":7,"costUsdTicks":1e400})", {7, 0, 0, 0, 0, 0}, {}},
      {"cost as a 40-digit integer", R"({"outputTokens":3,"costUsdTicks":1234567890123456789012345678901234567890})",
       {0, 0, 0, 0, 3, 0}, 1.2345678901234568e29},
      {"counts as booleans, fractions and text", R"({"inputTokens":9.9,"cachedReadTokens":true,"outputTokens":"5"})",
       {8, 1, 0, 0, 0, 0}, {}},
      {"counts beyond range saturate", R"({"inputTokens":1e400,"cachedReadTokens":1,"reasoningTokens":1e300})",
       {max - 1, 1, 0, 0, 0, max}, {}},
      {"all zero still counts", "{}", {}, {}},
  };
  for (const auto& c : cases) {
    const auto result =
        GrokUsageParser::events(session({turn("3", endedAt(5), R"({"grok-code":)" + c.entry + "}")}, "abc"), 0);
    ASSERT_EQ(result.events.size(), 1u) << c.name;
    const auto& event = result.events[0];
    EXPECT_EQ(event.provider, ProviderID::grok) << c.name;
    EXPECT_EQ(event.model, "grok-code") << c.name;
    EXPECT_EQ(event.sessionID, "abc") << c.name;
    EXPECT_EQ(event.dedupKey, "abc#3#grok-code") << c.name;
    EXPECT_EQ(event.timestamp, Date::fromUnix(baseUnix + 300)) << c.name;
    EXPECT_EQ(event.tokens, c.tokens) << c.name;
    ASSERT_EQ(event.reportedCostUSD.has_value(), c.cost.has_value()) << c.name;
    if (c.cost) {
      EXPECT_DOUBLE_EQ(*event.reportedCostUSD, *c.cost) << c.name;
    }
  }
}

TEST(GrokUsageParser, ModelsOfATurnInByteOrder) {
  const auto result = GrokUsageParser::events(
      session({turn("1", endedAt(1),
                    R"({"zeta":{"outputTokens":1},"alpha":{"outputTokens":2},"Beta":{"outputTokens":3},)"
                    R"("skipped":[1],"alpha":{"outputTokens":99}})")}),
      0);
  // Upper case sorts before lower case; a name written twice counts once.
  EXPECT_EQ(keys(result), (Keys{"s1#1#Beta", "s1#1#alpha", "s1#1#zeta"}));
  ASSERT_EQ(result.events.size(), 3u);
  EXPECT_EQ(result.events[1].tokens.output, 2);
}

TEST(GrokUsageParser, TurnNumbers) {
  struct Case {
    const char* name;
    std::string number;
    int64_t afterTurn;
    Keys keys;
    int64_t lastTurn;
  };
  const Case cases[] = {
      {"a string is ignored", R"("4")", 0, {}, 0},
      {"a boolean is ignored", "true", 0, {}, 0},
      {"null is ignored", "null", 0, {}, 0},
      {"at afterTurn is ignored", "4", 4, {}, 4},
      {"below afterTurn is ignored", "2", 4, {}, 4},
      {"fraction truncated", "4.9", 0, {"s1#4#m"}, 4},
      {"negative", "-3", -5, {"s1#-3#m"}, -3},
      {"negative fraction truncated toward zero", "-2.5", -5, {"s1#-2#m"}, -2},
      {"beyond range saturates", "1e30", 0, {"s1#9223372036854775807#m"}, std::numeric_limits<int64_t>::max()},
      {"unsigned beyond int64", "18446744073709551615", 0, {"s1#9223372036854775807#m"},
       std::numeric_limits<int64_t>::max()},
  };
  for (const auto& c : cases) {
    const auto result = GrokUsageParser::events(session({turn(c.number, endedAt(1), oneModel("m"))}), c.afterTurn);
    EXPECT_EQ(keys(result), c.keys) << c.name;
    EXPECT_EQ(result.lastTurn, c.lastTurn) << c.name;
  }

  // A turn without a number is skipped without holding back the others.
  const auto mixed = GrokUsageParser::events(session({R"({"endedAt":"x"})", turn("1", endedAt(1))}), 0);
  EXPECT_EQ(keys(mixed), (Keys{"s1#1#grok-4"}));
  EXPECT_EQ(mixed.lastTurn, 1);
}

TEST(GrokUsageParser, BrokenDocumentsGiveNothing) {
  const std::string good = turn("1", endedAt(1));
  const std::string documents[] = {
      "",
      "not json",
      session({good}).substr(0, 40),
      "[" + session({good}) + "]",
      R"({"turns":[)" + good + "]}",
      R"({"sessionId":7,"turns":[)" + good + "]}",
      R"({"sessionId":null,"turns":[)" + good + "]}",
      R"({"sessionId":"s1"})",
      R"({"sessionId":"s1","turns":{"1":)" + good + "}}",
      R"({"sessionId":"s1","turns":null})",
      session({good, "3"}),
      session({"null", good}),
      session({good, R"(["nested"])"}),
      session({good}) + "trailing",
  };
  for (const auto& document : documents) {
    EXPECT_EQ(GrokUsageParser::events(document, 5), (GrokUsageParser::Result{{}, 5})) << document;
    EXPECT_EQ(GrokUsageParser::events(document, 0), (GrokUsageParser::Result{{}, 0})) << document;
  }
  // An empty turns array is valid and simply has nothing new.
  EXPECT_EQ(GrokUsageParser::events(session({}), 2), (GrokUsageParser::Result{{}, 2}));
}

}  // namespace
}  // namespace tokvane
