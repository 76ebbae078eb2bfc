#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <simdjson.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Foundation/KeyedJSON.hpp"
#include "TokvaneCore/Parsers/ClaudeLogParser.hpp"

namespace tokvane {
namespace {

constexpr int64_t int64Max = std::numeric_limits<int64_t>::max();

// An assistant reply as Claude Code writes it, with `usage` spliced in as raw
// text so that numbers keep exactly the form under test.
std::string assistantLine(const std::string& usage = R"({"input_tokens":10,"cache_creation_input_tokens":40,)"
                                                     R"("cache_read_input_tokens":300,"cache_creation":)"
                                                     R"({"ephemeral_5m_input_tokens":30,"ephemeral_1h_input_tokens":10},)"
                                                     R"("output_tokens":25,"service_tier":"standard"})") {
  return R"({"parentUuid":"6c1e0a9e-1b52-4a57-9a49-5d1f3c2b7a10","isSidechain":false,"userType":"external",)"
         R"("cwd":"/home/dev/project","sessionId":"sess-42","version":"1.0.98","gitBranch":"main",)"
         R"("type":"assistant","message":{"id":"msg_01XYZ","type":"message","role":"assistant",)"
         R"("model":"claude-sonnet-4-5","content":[{"type":"text","text":"Done: \"usage\" updated."}],)"
         R"("stop_reason":"end_turn","usage":)" +
         usage + R"(},"requestId":"req_011AB","uuid":"0f3a2d1c-7e6b-4c5d-8a9b-1c2d3e4f5a6b",)"
                 R"("timestamp":"2025-10-01T12:00:00.250Z"})";
}

// The standard line, changed through its parsed JSON form.
std::string changedLine(const std::function<void(JSON&)>& change) {
  JSON json = JSON::parse(assistantLine());
  change(json);
  return json.dump();
}

TEST(ClaudeLogParser, ReadsAnAssistantReply) {
  const auto event = ClaudeLogParser::event(assistantLine());
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->provider, ProviderID::claude);
  EXPECT_EQ(event->model, "claude-sonnet-4-5");
  EXPECT_EQ(event->sessionID, "sess-42");
  EXPECT_EQ(event->dedupKey, "msg_01XYZ");
  EXPECT_EQ(event->timestamp, Date::fromUnix(1759320000.25));
  EXPECT_EQ(event->tokens, (TokenCounts{.uncachedInput = 10, .cacheRead = 300, .cacheWrite5m = 30,
                                        .cacheWrite1h = 10, .output = 25, .reasoning = 0}));
  EXPECT_FALSE(event->reportedCostUSD.has_value());
}

TEST(ClaudeLogParser, OnlyAssistantLinesWithAUsageObjectCount) {
  struct Case {
    const char* name;
    std::function<void(JSON&)> change;
  };
  const Case cases[] = {
      {"type user", [](JSON& j) { j["type"] = "user"; }},
      {"type in other case", [](JSON& j) { j["type"] = "Assistant"; }},
      {"type missing", [](JSON& j) { j.erase("type"); }},
      {"type not a string", [](JSON& j) { j["type"] = 1; }},
      {"role alone does not count", [](JSON& j) { j["type"] = "summary"; }},
      {"message missing", [](JSON& j) { j.erase("message"); }},
      {"message a string", [](JSON& j) { j["message"] = "hello"; }},
      {"message null", [](JSON& j) { j["message"] = nullptr; }},
      {"usage missing", [](JSON& j) { j["message"].erase("usage"); }},
      {"usage null", [](JSON& j) { j["message"]["usage"] = nullptr; }},
      {"usage an array", [](JSON& j) { j["message"]["usage"] = JSON::array({1, 2}); }},
      {"usage at the top level only",
       [](JSON& j) {
         j["usage"] = j["message"]["usage"];
         j["message"].erase("usage");
       }},
      {"synthetic model", [](JSON& j) { j["message"]["model"] = "<synthetic>"; }},
      {"no id and no request id",
       [](JSON& j) {
         j["message"].erase("id");
         j.erase("requestId");
       }},
      {"numeric id and numeric request id",
       [](JSON& j) {
         j["message"]["id"] = 7;
         j["requestId"] = 8;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(ClaudeLogParser::event(changedLine(c.change)).has_value());
  }
}

TEST(ClaudeLogParser, KeyIsTheMessageIdElseTheRequestId) {
  struct Case {
    const char* name;
    std::function<void(JSON&)> change;
    std::string key;
  };
  const Case cases[] = {
      {"message id", [](JSON&) {}, "msg_01XYZ"},
      {"no message id", [](JSON& j) { j["message"].erase("id"); }, "req_011AB"},
      {"numeric message id", [](JSON& j) { j["message"]["id"] = 12345; }, "req_011AB"},
      {"null message id", [](JSON& j) { j["message"]["id"] = nullptr; }, "req_011AB"},
      {"top-level id is not the message id",
       [](JSON& j) {
         j["message"].erase("id");
         j["id"] = "top";
       },
       "req_011AB"},
      {"empty message id is still a string", [](JSON& j) { j["message"]["id"] = ""; }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto event = ClaudeLogParser::event(changedLine(c.change));
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->dedupKey, c.key);
  }
}

TEST(ClaudeLogParser, TimestampMustBeAnInternetDateTime) {
  struct Case {
    JSON value;
    std::optional<double> unix;
  };
  const Case cases[] = {
      {"2025-10-01T12:00:00.250Z", 1759320000.25},
      {"2025-10-01T12:00:00Z", 1759320000.0},
      {"2025-10-01T14:00:00+02:00", 1759320000.0},
      {"2025-10-01T12:00:00", std::nullopt},  // no zone
      {"2025-10-01", std::nullopt},
      {"yesterday", std::nullopt},
      {"", std::nullopt},
      {1759320000, std::nullopt},  // not a string
      {nullptr, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.dump());
    const auto event = ClaudeLogParser::event(changedLine([&](JSON& j) { j["timestamp"] = c.value; }));
    ASSERT_EQ(event.has_value(), c.unix.has_value());
    if (event) {
      EXPECT_EQ(event->timestamp, Date::fromUnix(*c.unix));
    }
  }
  EXPECT_FALSE(ClaudeLogParser::event(changedLine([](JSON& j) { j.erase("timestamp"); })).has_value());
}

TEST(ClaudeLogParser, ModelAndSessionFallBacks) {
  struct Case {
    const char* name;
    std::function<void(JSON&)> change;
    std::string model;
    std::string session;
  };
  const Case cases[] = {
      {"model missing", [](JSON& j) { j["message"].erase("model"); }, "unknown", "sess-42"},
      {"model not a string", [](JSON& j) { j["message"]["model"] = 4; }, "unknown", "sess-42"},
      {"synthetic in other case is a model", [](JSON& j) { j["message"]["model"] = "<Synthetic>"; }, "<Synthetic>",
       "sess-42"},
      {"top-level model is not read",
       [](JSON& j) {
         j["message"].erase("model");
         j["model"] = "claude-opus-4-1";
       },
       "unknown", "sess-42"},
      {"session missing", [](JSON& j) { j.erase("sessionId"); }, "claude-sonnet-4-5", ""},
      {"session not a string", [](JSON& j) { j["sessionId"] = 42; }, "claude-sonnet-4-5", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto event = ClaudeLogParser::event(changedLine(c.change));
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->model, c.model);
    EXPECT_EQ(event->sessionID, c.session);
  }
}

// Usage objects as raw text, with the counts they must give, or none when the
// reply processed no tokens.
TEST(ClaudeLogParser, CountsCacheSplitAndValueRules) {
  struct Case {
    const char* name;
    std::string usage;
    std::optional<TokenCounts> tokens;
  };
  const Case cases[] = {
      {"split replaces the total even when they differ",
       R"({"input_tokens":1,"cache_creation_input_tokens":999,"cache_creation":{"ephemeral_5m_input_tokens":7}})",
       TokenCounts{.uncachedInput = 1, .cacheWrite5m = 7}},
      {"split holding only the one-hour key",
       R"({"input_tokens":1,"cache_creation_input_tokens":5,"cache_creation":{"ephemeral_1h_input_tokens":5}})",
       TokenCounts{.uncachedInput = 1, .cacheWrite1h = 5}},
      {"empty split ignores the total",
       R"({"output_tokens":2,"cache_creation_input_tokens":5,"cache_creation":{}})", TokenCounts{.output = 2}},
      {"without a split the total is five-minute writes", R"({"cache_creation_input_tokens":40})",
       TokenCounts{.cacheWrite5m = 40}},
      {"split that is not an object is no split",
       R"({"cache_creation_input_tokens":40,"cache_creation":[1,2]})", TokenCounts{.cacheWrite5m = 40}},
      {"null split is no split", R"({"cache_creation_input_tokens":40,"cache_creation":null})",
       TokenCounts{.cacheWrite5m = 40}},
      {"thinking tokens are reasoning",
       R"({"output_tokens":3,"output_tokens_details":{"thinking_tokens":9}})",
       TokenCounts{.output = 3, .reasoning = 9}},
      {"details that are not an object", R"({"output_tokens":3,"output_tokens_details":9})",
       TokenCounts{.output = 3}},
      {"fractions truncate toward zero", R"({"input_tokens":12.9,"output_tokens":0.99})",
       TokenCounts{.uncachedInput = 12}},
      {"exponent form", R"({"input_tokens":1.5e3})", TokenCounts{.uncachedInput = 1500}},
      {"booleans read as one and zero", R"({"input_tokens":true,"output_tokens":false})",
       TokenCounts{.uncachedInput = 1}},
      {"strings and null read as zero", R"({"input_tokens":"500","cache_read_input_tokens":null,"output_tokens":4})",
       TokenCounts{.output = 4}},
      {"objects and arrays read as zero", R"({"input_tokens":{"n":5},"cache_read_input_tokens":[5],"output_tokens":4})",
       TokenCounts{.output = 4}},
      {"negative counts read as zero", R"({"input_tokens":-50,"cache_read_input_tokens":-1e30,"output_tokens":4})",
       TokenCounts{.output = 4}},
      {"beyond int64 as unsigned saturates", R"({"input_tokens":9223372036854775808})",
       TokenCounts{.uncachedInput = int64Max}},
      {"30-digit integer saturates", R"({"input_tokens":123456789012345678901234567890})",
       TokenCounts{.uncachedInput = int64Max}},
      {"beyond double range saturates", R"({"output_tokens":1e400})", TokenCounts{.output = int64Max}},
      {"sum beyond int64 saturates and still counts",
       R"({"input_tokens":9223372036854775807,"cache_read_input_tokens":9223372036854775807,"output_tokens":1})",
       TokenCounts{.uncachedInput = int64Max, .cacheRead = int64Max, .output = 1}},
      {"all zero", R"({"input_tokens":0,"cache_read_input_tokens":0,"output_tokens":0})", std::nullopt},
      {"empty usage", R"({})", std::nullopt},
      {"only thinking tokens", R"({"output_tokens_details":{"thinking_tokens":100}})", std::nullopt},
      {"only negatives", R"({"input_tokens":-5,"output_tokens":-1})", std::nullopt},
      {"only strings", R"({"input_tokens":"5","output_tokens":"1"})", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto event = ClaudeLogParser::event(assistantLine(c.usage));
    ASSERT_EQ(event.has_value(), c.tokens.has_value());
    if (event) {
      EXPECT_EQ(event->tokens, *c.tokens);
    }
  }
}

TEST(ClaudeLogParser, MalformedOrForeignTextYieldsNothing) {
  const std::string line = assistantLine();
  const std::string cases[] = {
      "",
      "   ",
      "{",
      "}",
      "[]",
      "\"assistant\"",
      "42",
      "null",
      "true",
      line + "x",
      line + line,        // two objects on one line
      line + ",",
      "[" + line + "]",  // the reply inside an array is not an object
      // Invalid UTF-8 outside any string.
      std::string(line).replace(line.find("{\"parentUuid"), 1, "\xff"),
      // A single quote where JSON needs a double one.
      "{'type':'assistant'}",
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text.substr(0, 60));
    EXPECT_FALSE(ClaudeLogParser::event(text).has_value());
  }
}

// A line cut anywhere (a log still being written, a torn read) never gives a
// partial event.
TEST(ClaudeLogParser, EveryTruncationYieldsNothing) {
  const std::string line = assistantLine();
  ASSERT_TRUE(ClaudeLogParser::event(line).has_value());
  for (size_t length = 0; length < line.size(); ++length) {
    ASSERT_FALSE(ClaudeLogParser::event(std::string_view(line).substr(0, length)).has_value()) << length;
  }
}

TEST(ClaudeLogParser, SurroundingWhitespaceIsAllowed) {
  for (const std::string& text : {" \t" + assistantLine(), assistantLine() + " \t ", "\r\n" + assistantLine() + "\r"}) {
    const auto event = ClaudeLogParser::event(text);
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->dedupKey, "msg_01XYZ");
  }
}

// The parser reads JSON, not bytes: a key written with escapes is the same
// key, and the word usage in a text is not a usage object.
TEST(ClaudeLogParser, DecidesOnTheJSONNotOnItsBytes) {
  std::string escaped = assistantLine(R"({"output_tokens":6})");
  escaped.replace(escaped.find("\"usage\""), 7, "\"u\\u0073age\"");
  ASSERT_EQ(escaped.find("\"usage\""), std::string::npos);
  const auto event = ClaudeLogParser::event(escaped);
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->tokens.output, 6);

  const std::string wordOnly = changedLine([](JSON& j) {
    j["message"].erase("usage");
    j["message"]["content"] = JSON::array({{{"type", "text"}, {"text", "\"usage\": {\"input_tokens\": 5}"}}});
  });
  EXPECT_FALSE(ClaudeLogParser::event(wordOnly).has_value());
}

// In place, the bytes after the line belong to the next line; only the
// line's own bytes decide.
TEST(ClaudeLogParser, PaddedInputParsesInPlace) {
  const std::string line = assistantLine();
  const std::string next = R"({"type":"assistant","message":{"usage":{"input_tokens":1}}})";
  std::string buffer = line + "\n" + next + std::string(simdjson::SIMDJSON_PADDING, '}');
  const auto inPlace = ClaudeLogParser::event(std::string_view(buffer).substr(0, line.size()), /*padded=*/true);
  EXPECT_EQ(inPlace, ClaudeLogParser::event(line));
  ASSERT_TRUE(inPlace.has_value());

  // A torn line followed by more bytes still yields nothing.
  const auto torn = ClaudeLogParser::event(std::string_view(buffer).substr(0, line.size() - 1), /*padded=*/true);
  EXPECT_FALSE(torn.has_value());
  // A padded line whose numbers must be rewritten before they parse still counts.
  std::string huge = assistantLine(R"({"input_tokens":1e400})") + std::string(simdjson::SIMDJSON_PADDING, ' ');
  const auto clamped = ClaudeLogParser::event(std::string_view(huge).substr(0, huge.size() - simdjson::SIMDJSON_PADDING),
                                              /*padded=*/true);
  ASSERT_TRUE(clamped.has_value());
  EXPECT_EQ(clamped->tokens.uncachedInput, int64Max);
}

}  // namespace
}  // namespace tokvane
