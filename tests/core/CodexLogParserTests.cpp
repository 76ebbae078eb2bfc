#include <gtest/gtest.h>
#include <simdjson.h>

#include <limits>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Foundation/TextCase.hpp"
#include "TokvaneCore/Parsers/CodexLogParser.hpp"
#include "TokvaneCore/Parsers/LogLineFilter.hpp"

namespace tokvane {
namespace {

using Context = std::map<std::string, std::string>;

// 2025-10-01T12:00:00Z, the time of most lines below.
constexpr double lineUnix = 1759320000.0;
const Date lineTime = Date::fromUnix(lineUnix);
// The parser's clock: a minute after the lines were written.
const Date parserNow = lineTime + 60;

const std::string sessionMeta =
    R"({"timestamp":"2025-10-01T11:59:00Z","type":"session_meta","payload":{"id":"sess-1","cwd":"/tmp"}})";
const std::string turnContext =
    R"({"timestamp":"2025-10-01T11:59:30Z","type":"turn_context","payload":{"model":"gpt-5-codex","cwd":"/tmp"}})";

std::string usageLine(const std::string& usage, const std::string& extraPayload = "",
                      const std::string& timestamp = "2025-10-01T12:00:00Z") {
  return R"({"timestamp":")" + timestamp + R"(","type":"token_usage_record","payload":{"response_id":"resp-1",)" +
         extraPayload + R"("usage":)" + usage + "}}";
}

std::string tokenCountLine(const std::string& rateLimits, const std::string& timestamp = "2025-10-01T12:00:00Z") {
  return R"({"timestamp":")" + timestamp + R"(","type":"event_msg","payload":{"type":"token_count",)" +
         R"("info":null,"rate_limits":)" + rateLimits + "}}";
}

// Consumes the lines the way the indexer does: only those that pass the
// byte filter reach the parser.
std::vector<CodexLine> feed(CodexLogParser& parser, const std::vector<std::string>& lines) {
  std::vector<CodexLine> results;
  for (const auto& line : lines) {
    if (!LogLineFilter::codex(line)) continue;
    if (auto result = parser.consume(line)) results.push_back(std::move(*result));
  }
  return results;
}

std::optional<UsageEvent> usageOf(const std::string& line, Context context = {}) {
  CodexLogParser parser(std::move(context), parserNow);
  const auto result = parser.consume(line);
  if (!result || !result->isUsage()) return std::nullopt;
  return *result->usageEvent();
}

std::optional<ProviderLimits> limitsOf(const std::string& line, Date now = parserNow) {
  CodexLogParser parser({}, now);
  const auto result = parser.consume(line);
  if (!result || !result->isLimits()) return std::nullopt;
  return *result->limitsRecord();
}

TEST(CodexLogParser, SessionAndModelLinesFeedLaterUsage) {
  CodexLogParser parser({{"provider", "codex"}}, parserNow);
  EXPECT_EQ(parser.consume(sessionMeta), std::nullopt);
  EXPECT_EQ(parser.consume(turnContext), std::nullopt);
  EXPECT_EQ(parser.context(), (Context{{"provider", "codex"}, {"session", "sess-1"}, {"model", "gpt-5-codex"}}));

  const auto line = usageLine(
      R"({"input_tokens":1200,"cached_input_tokens":200,"cache_write_input_tokens":50,)"
      R"("output_tokens":300,"reasoning_output_tokens":40,"total_tokens":1500})",
      R"("session_id":"ignored-when-context-has-one",)");
  const auto result = parser.consume(line);
  ASSERT_TRUE(result.has_value());

  UsageEvent expected;
  expected.provider = ProviderID::codex;
  expected.model = "gpt-5-codex";
  expected.sessionID = "sess-1";
  expected.dedupKey = "resp-1";
  expected.timestamp = lineTime;
  // Cached input and cache writes are both parts of the input.
  expected.tokens = TokenCounts{950, 200, 50, 0, 300, 40};
  EXPECT_EQ(*result, CodexLine::usage(expected));
  EXPECT_FALSE(result->isLimits());

  // A later line of the same kind overwrites its key.
  parser.consume(R"({"type":"turn_context","payload":{"model":"gpt-5"}})");
  EXPECT_EQ(parser.consume(line)->usageEvent()->model, "gpt-5");
}

TEST(CodexLogParser, ContextTravelsAcrossChunksAndStartsOverAfterAReset) {
  const auto usage = usageLine(R"({"input_tokens":10})");

  CodexLogParser first({{"provider", "codex"}}, parserNow);
  EXPECT_TRUE(feed(first, {sessionMeta, R"({"type":"noise","payload":{}})", turnContext}).empty());

  // The next chunk starts from the context the previous one left in the cursor.
  CodexLogParser second(first.context(), parserNow);
  const auto results = feed(second, {usage});
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].usageEvent()->sessionID, "sess-1");
  EXPECT_EQ(results[0].usageEvent()->model, "gpt-5-codex");

  // A file started over gets an empty context: no model, the payload's
  // session when it names one, else none.
  CodexLogParser fresh({}, parserNow);
  const auto bare = fresh.consume(usage);
  ASSERT_TRUE(bare && bare->isUsage());
  EXPECT_EQ(bare->usageEvent()->model, "unknown");
  EXPECT_EQ(bare->usageEvent()->sessionID, "");
  EXPECT_EQ(fresh.consume(usageLine(R"({"input_tokens":10})", R"("session_id":"from-payload",)"))
                ->usageEvent()
                ->sessionID,
            "from-payload");
  EXPECT_EQ(fresh.context(), (Context{{CodexLogParser::usageRecordsKey, "1"}}));
}

TEST(CodexLogParser, LinesThatAreMalformedOrForeignNeverTouchTheContext) {
  const Context seeded{{"provider", "codex"}, {"session", "kept"}, {"model", "kept-model"}, {"extra", "x"}};
  const std::vector<std::string> lines = {
      // Rejected by the byte filter before parsing, although the parser would
      // read the escaped names as "session_meta" and "turn_context".
      R"({"type":"session\u005fmeta","payload":{"id":"escaped"}})",
      R"({"type":"turn\u005fcontext","payload":{"model":"escaped"}})",
      R"({"type":"response_item","payload":{"type":"message","content":"hello"}})",
      // Pass the filter but name another kind of line.
      R"({"type":"session_meta_v2","payload":{"id":"other-kind"}})",
      // Pass the filter but are not usable.
      R"({"type":"session_meta","payload":{"id":"cut)",
      R"([{"type":"session_meta","payload":{"id":"array"}}])",
      R"({"type":["session_meta"],"payload":{"id":"type-not-string"}})",
      R"({"type":"session_meta","payload":"not-an-object"})",
      R"({"type":"session_meta"})",
      R"({"type":"session_meta","payload":{"id":42}})",
      R"({"type":"session_meta","payload":{}})",
      R"({"type":"turn_context","payload":{"model":null}})",
      R"({"type":"turn_context","payload":{"model":{"name":"x"}}})",
      R"({"type":"Session_Meta","payload":{"id":"wrong-case"}})",
      R"({"type":"response_item","payload":{"text":"session_meta turn_context token_count"}})",
      R"({"type":"event_msg","payload":{"type":"agent_message","message":"token_count"}})",
      "session_meta",
      "",
  };
  CodexLogParser parser(seeded, parserNow);
  EXPECT_TRUE(feed(parser, lines).empty());
  EXPECT_EQ(parser.context(), seeded);

  // Without the filter, the escaped name is read as the real one.
  CodexLogParser unfiltered({}, parserNow);
  unfiltered.consume(lines[0]);
  EXPECT_EQ(unfiltered.context(), (Context{{"session", "escaped"}}));

  // The indexer's own keys survive any number of good lines too.
  CodexLogParser indexerOnly({{"provider", "codex"}, {"lastTurn", "7"}}, parserNow);
  feed(indexerOnly, {sessionMeta, turnContext, usageLine("{}"), tokenCountLine(R"({"primary":{"used_percent":5}})")});
  EXPECT_EQ(indexerOnly.context().at("provider"), "codex");
  EXPECT_EQ(indexerOnly.context().at("lastTurn"), "7");
}

TEST(CodexLogParser, CountsAndTheUncachedRule) {
  constexpr int64_t max = std::numeric_limits<int64_t>::max();
  struct Case {
    const char* name;
    std::string usage;
    TokenCounts expected;
  };
  const Case cases[] = {
      {"plain", R"({"input_tokens":100,"cached_input_tokens":30,"output_tokens":7})", {70, 30, 0, 0, 7, 0}},
      {"cache writes are part of the input",
       R"({"input_tokens":100,"cached_input_tokens":40,"cache_write_input_tokens":60,"output_tokens":7})",
       {0, 40, 60, 0, 7, 0}},
      {"cached and written above input",
       R"({"input_tokens":100,"cached_input_tokens":70,"cache_write_input_tokens":60})", {0, 70, 60, 0, 0, 0}},
      {"cached above input", R"({"input_tokens":100,"cached_input_tokens":150})", {0, 150, 0, 0, 0, 0}},
      {"all missing", "{}", {0, 0, 0, 0, 0, 0}},
      {"booleans and fractions", R"({"input_tokens":12.9,"cached_input_tokens":true,"output_tokens":false})",
       {11, 1, 0, 0, 0, 0}},
      {"non-numbers read as 0", R"({"input_tokens":"100","cached_input_tokens":null,"output_tokens":[1]})",
       {0, 0, 0, 0, 0, 0}},
      {"beyond range saturates", R"({"input_tokens":1e400,"cached_input_tokens":5,"output_tokens":99999999999999999999})",
       {max - 5, 5, 0, 0, max, 0}},
  };
  for (const auto& c : cases) {
    const auto event = usageOf(usageLine(c.usage));
    ASSERT_TRUE(event.has_value()) << c.name;
    EXPECT_EQ(event->tokens, c.expected) << c.name;
  }
}

TEST(CodexLogParser, UsageLinesThatCannotBuildAnEvent) {
  const std::string usage = R"("usage":{"input_tokens":10})";
  const std::string lines[] = {
      R"({"timestamp":"2025-10-01T12:00:00Z","type":"token_usage_record","payload":{)" + usage + "}}",
      R"({"timestamp":"2025-10-01T12:00:00Z","type":"token_usage_record","payload":{"response_id":7,)" + usage + "}}",
      R"({"timestamp":"2025-10-01T12:00:00Z","type":"token_usage_record","payload":{"response_id":"r","usage":5}})",
      R"({"type":"token_usage_record","payload":{"response_id":"r",)" + usage + "}}",
      usageLine("{}", "", "yesterday"),
      usageLine("{}", "", "2025-10-01T12:00:00"),  // no zone
      R"({"timestamp":1759320000,"type":"token_usage_record","payload":{"response_id":"r",)" + usage + "}}",
  };
  for (const auto& line : lines) EXPECT_EQ(usageOf(line), std::nullopt) << line;

  // Both timestamp forms are accepted, and an all-zero event still counts.
  const auto fractional = usageOf(usageLine("{}", "", "2025-10-01T14:00:00.5+02:00"));
  ASSERT_TRUE(fractional.has_value());
  EXPECT_EQ(fractional->timestamp, lineTime + 0.5);
  EXPECT_EQ(fractional->tokens, TokenCounts::zero());
}

TEST(CodexLogParser, TokenCountLineBecomesLimits) {
  const auto limits = limitsOf(tokenCountLine(
      R"({"primary":{"used_percent":42.5,"window_minutes":300,"resets_at":1759338000},)"
      R"("secondary":{"used_percent":10,"window_minutes":10080,"resets_at":1759900000},)"
      R"("credits":{"has_credits":true,"unlimited":false,"balance":12.5},"plan_type":"plus"})"));
  ASSERT_TRUE(limits.has_value());

  ProviderLimits expected;
  expected.plan = "Plus";
  expected.windows = {
      LimitWindow("session", "Session", 0.425, 18000, Date::fromUnix(1759338000), LimitSource::local(lineTime)),
      LimitWindow("weekly", "Weekly", 0.10, 604800, Date::fromUnix(1759900000), LimitSource::local(lineTime)),
  };
  expected.credits = Credits{"Credits", 12.5, std::nullopt, std::nullopt, false};
  expected.status = ProviderStatus::ok;
  expected.fetchedAt = lineTime;
  EXPECT_EQ(*limits, expected);
  EXPECT_NO_THROW(limits->toJSON(DateCoding::referenceSeconds));
}

TEST(CodexLogParser, LimitWindowsCreditsAndPlan) {
  struct Case {
    const char* name;
    std::string rateLimits;
    // Windows as id:usedFraction; duration and reset checked separately.
    std::vector<std::pair<std::string, double>> windows;
    std::optional<Credits> credits;
    std::optional<std::string> plan;
  };
  const Credits unlimited{"Credits", std::nullopt, std::nullopt, std::nullopt, true};
  const Credits limited{"Credits", std::nullopt, std::nullopt, std::nullopt, false};
  const Case cases[] = {
      {"only secondary", R"({"secondary":{"used_percent":20}})", {{"weekly", 0.2}}, {}, {}},
      {"primary without used_percent is skipped", R"({"primary":{"window_minutes":300},"secondary":{"used_percent":1}})",
       {{"weekly", 0.01}}, {}, {}},
      {"used_percent not a number", R"({"primary":{"used_percent":"50"},"secondary":{"used_percent":0}})",
       {{"weekly", 0}}, {}, {}},
      {"window not an object", R"({"primary":50,"secondary":{"used_percent":100}})", {{"weekly", 1}}, {}, {}},
      {"clamped above and below", R"({"primary":{"used_percent":150},"secondary":{"used_percent":-5}})",
       {{"session", 1}, {"weekly", 0}}, {}, {}},
      {"unlimited without balance", R"({"credits":{"unlimited":true}})", {}, unlimited, {}},
      {"unlimited wins over has_credits", R"({"credits":{"unlimited":1,"has_credits":true}})", {}, unlimited, {}},
      {"has_credits as the number 1", R"({"credits":{"has_credits":1,"balance":"5"}})", {}, limited, {}},
      {"has_credits with balance", R"({"credits":{"has_credits":true,"balance":3}})", {},
       Credits{"Credits", 3.0, std::nullopt, std::nullopt, false}, {}},
      {"flags that are not true", R"({"primary":{"used_percent":1},"credits":{"unlimited":"true","has_credits":2}})",
       {{"session", 0.01}}, {}, {}},
      {"lower-case plan", R"({"primary":{"used_percent":1},"plan_type":"pro"})", {{"session", 0.01}}, {}, "Pro"},
      {"plan keeps the rest", R"({"primary":{"used_percent":1},"plan_type":"team_Plus"})", {{"session", 0.01}}, {},
       "Team_Plus"},
      {"empty plan", R"({"primary":{"used_percent":1},"plan_type":""})", {{"session", 0.01}}, {}, {}},
      {"plan not a string", R"({"primary":{"used_percent":1},"plan_type":5})", {{"session", 0.01}}, {}, {}},
  };
  for (const auto& c : cases) {
    const auto limits = limitsOf(tokenCountLine(c.rateLimits));
    ASSERT_TRUE(limits.has_value()) << c.name;
    ASSERT_EQ(limits->windows.size(), c.windows.size()) << c.name;
    for (size_t i = 0; i < c.windows.size(); ++i) {
      EXPECT_EQ(limits->windows[i].id, c.windows[i].first) << c.name;
      EXPECT_EQ(limits->windows[i].label, c.windows[i].first == "session" ? "Session" : "Weekly") << c.name;
      EXPECT_DOUBLE_EQ(limits->windows[i].usedFraction, c.windows[i].second) << c.name;
      EXPECT_EQ(limits->windows[i].source, LimitSource::local(lineTime)) << c.name;
      EXPECT_EQ(limits->windows[i].duration, std::nullopt) << c.name;
      EXPECT_EQ(limits->windows[i].resetsAt, std::nullopt) << c.name;
    }
    EXPECT_EQ(limits->credits, c.credits) << c.name;
    EXPECT_EQ(limits->plan, c.plan) << c.name;
    EXPECT_EQ(limits->status, ProviderStatus::ok) << c.name;
    EXPECT_EQ(limits->fetchedAt, lineTime) << c.name;
  }
}

TEST(CodexLogParser, TokenCountLinesWithoutLimits) {
  const std::string lines[] = {
      tokenCountLine("{}"),
      tokenCountLine(R"({"credits":{"has_credits":false,"unlimited":false},"plan_type":"plus"})"),
      tokenCountLine(R"({"primary":{},"secondary":null,"credits":"lots"})"),
      tokenCountLine("null"),
      tokenCountLine(R"({"primary":{"used_percent":5}})", "not a date"),
      R"({"type":"event_msg","payload":{"type":"token_count","rate_limits":{"primary":{"used_percent":5}}}})",
      R"({"timestamp":"2025-10-01T12:00:00Z","type":"event_msg","payload":{"type":"agent_reasoning",)"
      R"("rate_limits":{"primary":{"used_percent":5}}}})",
      R"({"timestamp":"2025-10-01T12:00:00Z","type":"event_msg","payload":{"rate_limits":{"primary":{"used_percent":5}}}})",
      R"({"timestamp":"2025-10-01T12:00:00Z","type":"token_count","payload":{"rate_limits":{"primary":{"used_percent":5}}}})",
  };
  for (const auto& line : lines) EXPECT_EQ(limitsOf(line), std::nullopt) << line;
}

TEST(CodexLogParser, FutureDatedLimitsAreIgnoredButTheirUsageCounts) {
  const std::string rateLimits = R"({"primary":{"used_percent":50}})";
  struct Case {
    double secondsAfterNow;
    bool taken;
  };
  for (const Case c : {Case{-86400, true}, Case{0, true}, Case{300, true}, Case{300.5, false}, Case{86400 * 365, false}}) {
    const Date time = parserNow + c.secondsAfterNow;
    // The formatter writes whole seconds; add the half second by hand.
    const auto whole = ISO8601::format(time);
    const std::string text = c.secondsAfterNow == 300.5 ? whole.substr(0, 19) + ".5Z" : whole;
    const auto limits = limitsOf(tokenCountLine(rateLimits, text));
    EXPECT_EQ(limits.has_value(), c.taken) << c.secondsAfterNow;
    if (limits) {
      EXPECT_EQ(limits->fetchedAt, time);
    }

    const auto event = usageOf(usageLine(R"({"input_tokens":5})", "", text));
    ASSERT_TRUE(event.has_value()) << c.secondsAfterNow;
    EXPECT_EQ(event->timestamp, time);
  }
}

TEST(CodexLogParser, NumbersBeyondRangeReadAsAbsent) {
  struct Case {
    const char* name;
    std::string primary;
    bool hasWindow;
    std::optional<double> duration;
    std::optional<double> resetsAtUnix;
  };
  const Case cases[] = {
      {"used_percent 1e400", R"({"used_percent":1e400})", false, {}, {}},
      {"used_percent -1e400", R"({"used_percent":-1e400})", false, {}, {}},
      {"window_minutes 1e400", R"({"used_percent":5,"window_minutes":1e400})", true, {}, {}},
      {"window_minutes overflowing seconds", R"({"used_percent":5,"window_minutes":1e307})", true, {}, {}},
      {"window_minutes as text", R"({"used_percent":5,"window_minutes":"300"})", true, {}, {}},
      {"resets_at 1e400", R"({"used_percent":5,"resets_at":1e400})", true, {}, {}},
      {"resets_at 40-digit integer", R"({"used_percent":5,"resets_at":1234567890123456789012345678901234567890})",
       true, {}, {}},
      {"resets_at before 1970", R"({"used_percent":5,"resets_at":-1})", true, {}, {}},
      {"resets_at after year 9999", R"({"used_percent":5,"resets_at":253402300800})", true, {}, {}},
      {"resets_at last second of 9999", R"({"used_percent":5,"resets_at":253402300799})", true, {}, 253402300799.0},
      {"resets_at at 1970", R"({"used_percent":5,"resets_at":0})", true, {}, 0.0},
      {"fractional minutes and reset", R"({"used_percent":5,"window_minutes":0.5,"resets_at":1759338000.25})", true,
       30.0, 1759338000.25},
  };
  for (const auto& c : cases) {
    const auto limits = limitsOf(tokenCountLine(R"({"primary":)" + c.primary +
                                                R"(,"credits":{"has_credits":true,"balance":1e400}})"));
    ASSERT_TRUE(limits.has_value()) << c.name;
    ASSERT_TRUE(limits->credits.has_value()) << c.name;
    EXPECT_EQ(limits->credits->balanceUSD, std::nullopt) << c.name;
    ASSERT_EQ(limits->windows.size(), c.hasWindow ? 1u : 0u) << c.name;
    if (c.hasWindow) {
      EXPECT_EQ(limits->windows[0].duration, c.duration) << c.name;
      EXPECT_EQ(limits->windows[0].resetsAt.has_value(), c.resetsAtUnix.has_value()) << c.name;
      if (c.resetsAtUnix && limits->windows[0].resetsAt) {
        EXPECT_DOUBLE_EQ(limits->windows[0].resetsAt->unixSeconds(), *c.resetsAtUnix) << c.name;
      }
    }
    // Whatever the line held, the record can be stored.
    EXPECT_NO_THROW(limits->toJSON(DateCoding::referenceSeconds)) << c.name;
    EXPECT_NO_THROW(limits->toJSON(DateCoding::iso8601)) << c.name;
  }
}

// A token-count line as tools before usage records write it: the session's
// running total (null before the first usage) and, with it, the limits.
std::string totalLine(const std::string& total, const std::string& timestamp = "2025-10-01T12:00:00Z",
                      const std::string& rateLimits = "null") {
  const std::string info = total == "null" ? "null"
                                            : R"({"total_token_usage":)" + total +
                                                  R"(,"last_token_usage":{"input_tokens":1},"model_context_window":272000})";
  return R"({"timestamp":")" + timestamp + R"(","type":"event_msg","payload":{"type":"token_count","info":)" + info +
         R"(,"rate_limits":)" + rateLimits + "}}";
}

std::string total(int64_t input, int64_t cached, int64_t output, int64_t reasoning, int64_t writes = 0) {
  return R"({"input_tokens":)" + std::to_string(input) + R"(,"cached_input_tokens":)" + std::to_string(cached) +
         R"(,"cache_write_input_tokens":)" + std::to_string(writes) + R"(,"output_tokens":)" +
         std::to_string(output) + R"(,"reasoning_output_tokens":)" + std::to_string(reasoning) +
         R"(,"total_tokens":)" + std::to_string(input + output) + "}";
}

struct Counted {
  std::string key;
  TokenCounts tokens;
  friend bool operator==(const Counted&, const Counted&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Counted& c) {
    return out << c.key << " " << c.tokens.uncachedInput << "/" << c.tokens.cacheRead << "/" << c.tokens.cacheWrite5m
               << "/" << c.tokens.output << "/" << c.tokens.reasoning;
  }
};

// The usage the lines give, read by one parser, or by a new parser per line
// seeded with the context the line before left (as a file read in many
// small appends across runs is).
std::vector<Counted> countedOf(const std::vector<std::string>& lines, bool parserPerLine = false) {
  std::vector<Counted> counted;
  CodexLogParser whole({{"provider", "codex"}}, parserNow);
  Context context{{"provider", "codex"}};
  for (const auto& line : lines) {
    if (!LogLineFilter::codex(line)) continue;
    std::optional<CodexLine> result;
    if (parserPerLine) {
      CodexLogParser parser(context, parserNow);
      result = parser.consume(line);
      context = parser.context();
    } else {
      result = whole.consume(line);
    }
    if (result && result->isUsage()) counted.push_back({result->usageEvent()->dedupKey, result->usageEvent()->tokens});
  }
  return counted;
}

TEST(CodexLogParser, RunningTotalsCountTheirGrowthInFilesWithoutUsageRecords) {
  const std::vector<std::string> lines = {
      sessionMeta,
      turnContext,
      totalLine("null"),                      // before the first usage
      totalLine(total(1000, 400, 50, 10)),    // the first total counts whole
      totalLine(total(1000, 400, 50, 10)),    // the same snapshot again
      totalLine(total(2500, 1400, 80, 10, 100)),
      totalLine(total(2500, 1400, 80, 10, 100)),  // a compaction: the total stays
      totalLine(total(300, 0, 5, 0)),         // a reset: only the new base
      totalLine(total(800, 100, 25, 5)),
      totalLine(total(800, 100, 25, 5), "not a date"),
  };
  const std::vector<Counted> expected = {
      {"codex-total:1000:400:0:50:10", {600, 400, 0, 0, 50, 10}},
      // 1500 more input, of which 1000 cached and 100 written to the cache.
      {"codex-total:2500:1400:100:80:10", {400, 1000, 100, 0, 30, 0}},
      {"codex-total:800:100:0:25:5", {400, 100, 0, 0, 20, 5}},
  };
  EXPECT_EQ(countedOf(lines), expected);
  EXPECT_EQ(countedOf(lines, /*parserPerLine=*/true), expected);

  // The events carry the file's session and model and the line's time.
  CodexLogParser parser({}, parserNow);
  feed(parser, {sessionMeta, turnContext});
  const auto result = parser.consume(totalLine(total(10, 0, 1, 0), "2025-10-01T12:00:00Z",
                                               R"({"primary":{"used_percent":50}})"));
  ASSERT_TRUE(result && result->isUsage() && result->isLimits());  // usage and limits from one line
  EXPECT_EQ(result->usageEvent()->sessionID, "sess-1");
  EXPECT_EQ(result->usageEvent()->model, "gpt-5-codex");
  EXPECT_EQ(result->usageEvent()->timestamp, lineTime);
  EXPECT_EQ(result->limitsRecord()->windows.size(), 1u);
  EXPECT_EQ(parser.context().at(CodexLogParser::tokenTotalKey), "10 0 0 1 0");

  // A total of nothing, and a stored total that is not one, count as
  // nothing and as no base.
  EXPECT_EQ(countedOf({totalLine(total(0, 0, 0, 0))}), std::vector<Counted>{});
  CodexLogParser damaged({{CodexLogParser::tokenTotalKey, "12 x"}}, parserNow);
  const auto whole = damaged.consume(totalLine(total(10, 0, 1, 0)));
  ASSERT_TRUE(whole && whole->isUsage());
  EXPECT_EQ(whole->usageEvent()->tokens, (TokenCounts{10, 0, 0, 0, 1, 0}));
}

TEST(CodexLogParser, FromTheFirstUsageRecordOnTokenCountsCountNothing) {
  const std::string record = usageLine(R"({"input_tokens":500,"cached_input_tokens":100,"output_tokens":20})");
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    std::vector<std::string> keys;
  };
  const Case cases[] = {
      {"only records", {record, totalLine(total(500, 100, 20, 0)), record}, {"resp-1", "resp-1"}},
      {"only totals",
       {totalLine(total(500, 100, 20, 0)), totalLine(total(900, 100, 40, 0))},
       {"codex-total:500:100:0:20:0", "codex-total:900:100:0:40:0"}},
      // A resumed session that a newer tool went on writing: the totals
      // before the first record count, none after it.
      {"both",
       {totalLine(total(300, 0, 10, 0)), record, totalLine(total(800, 100, 30, 0)),
        totalLine(total(1300, 200, 50, 0))},
       {"codex-total:300:0:0:10:0", "resp-1"}},
  };
  for (const auto& c : cases) {
    for (const bool perLine : {false, true}) {
      std::vector<std::string> keys;
      for (const auto& counted : countedOf(c.lines, perLine)) keys.push_back(counted.key);
      EXPECT_EQ(keys, c.keys) << c.name << (perLine ? ", a parser per line" : "");
    }
  }
}

TEST(CodexLogParser, PaddedLinesParseInPlace) {
  const std::string line = sessionMeta + "\n" + usageLine(R"({"input_tokens":3})");
  // Two lines in one padded buffer, as a reader hands them out of its chunk.
  std::string buffer = line + std::string(simdjson::SIMDJSON_PADDING, '\0');
  const std::string_view first(buffer.data(), sessionMeta.size());
  const std::string_view second(buffer.data() + sessionMeta.size() + 1, line.size() - sessionMeta.size() - 1);

  CodexLogParser parser({}, parserNow);
  EXPECT_EQ(parser.consume(first, true), std::nullopt);
  const auto result = parser.consume(second, true);
  ASSERT_TRUE(result && result->isUsage());
  EXPECT_EQ(result->usageEvent()->sessionID, "sess-1");
  EXPECT_EQ(result->usageEvent()->tokens.uncachedInput, 3);
}

TEST(TextCase, CapitalizesOnlyAnASCIIFirstLetter) {
  struct Case {
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"plus", "Plus"}, {"Pro", "Pro"},       {"max 20x", "Max 20x"}, {"", ""},
      {"x", "X"},       {"1st", "1st"},       {"éclair", "éclair"},   {"_team", "_team"},
  };
  for (const auto& c : cases) EXPECT_EQ(capitalizingFirstLetter(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace tokvane
