#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Foundation/JSONStrings.hpp"
#include "TokvaneCore/Parsers/ClaudeLogParser.hpp"
#include "TokvaneCore/Parsers/CodexLogParser.hpp"
#include "TokvaneCore/Parsers/LogJSON.hpp"

namespace tokvane {
namespace {

// A Claude Code reply whose message text is `text`, spliced in raw.
std::string claudeReply(const std::string& text) {
  return R"({"type":"assistant","sessionId":"s1","timestamp":"2025-10-01T12:00:00Z","message":{"id":"msg_1",)"
         R"("model":"claude-sonnet-4-5","content":[{"type":"text","text":")" +
         text + R"("}],"usage":{"input_tokens":10,"output_tokens":25}}})";
}

std::string codexUsage(const std::string& text) {
  return R"({"timestamp":"2025-10-01T12:00:00Z","type":"token_usage_record","payload":{"response_id":"r1",)"
         R"("note":")" + text + R"(","usage":{"input_tokens":800,"output_tokens":10}}})";
}

// Texts a JavaScript program writes when it cuts a string inside a
// surrogate pair, and bytes that are not UTF-8: every line still counts.
struct BrokenText {
  const char* name;
  std::string text;
  std::string reads;  // what the message text reads as
};

const BrokenText brokenTexts[] = {
    {"a lone high surrogate at the end", "cut \\ud83d", "cut \xEF\xBF\xBD"},
    {"a lone low surrogate", "\\ude00 after", "\xEF\xBF\xBD after"},
    {"a high surrogate before another escape", "\\ud83d\\n", "\xEF\xBF\xBD\n"},
    {"two high surrogates", "\\uD83D\\uD83D\\uDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
    {"an invalid UTF-8 byte", "caf\xE9", "caf\xEF\xBF\xBD"},
    {"a UTF-8 sequence cut short", "x\xF0\x9F\x98", "x\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"an overlong encoding", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"a surrogate and a huge number",
     "\\ud83d\",\"n\":1e400,\"m\":\"", "\xEF\xBF\xBD"},
};

class LogJSONBrokenText : public ::testing::TestWithParam<BrokenText> {};

TEST_P(LogJSONBrokenText, TheLineParsesWithTheBadPartReplaced) {
  const auto& c = GetParam();
  const std::string line = claudeReply(c.text);
  logjson::LineParser parser;
  const auto root = parser.parse(line);
  ASSERT_TRUE(root.has_value());
  std::string_view text;
  ASSERT_EQ((*root)["message"]["content"].at(0)["text"].get(text), simdjson::SUCCESS);
  EXPECT_EQ(text, c.reads);

  const auto event = ClaudeLogParser::event(line);
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->tokens.output, 25);

  CodexLogParser codex({}, Date::fromUnix(1767225600.0));
  const auto parsed = codex.consume(codexUsage(c.text));
  ASSERT_TRUE(parsed.has_value());
  ASSERT_TRUE(parsed->isUsage());
  EXPECT_EQ(parsed->usageEvent()->tokens.output, 10);
}

INSTANTIATE_TEST_SUITE_P(, LogJSONBrokenText, ::testing::ValuesIn(brokenTexts),
                         [](const auto& info) {
                           std::string name;
                           for (const char c : std::string(info.param.name)) name += std::isalnum(c) ? c : '_';
                           return name;
                         });

TEST(LogJSONStrings, ValidTextAndOtherFailuresAreLeftAlone) {
  for (const std::string& json :
       {std::string(R"({"a":"\ud83d\ude00 ok","b":"\\ud83d is text"})"), std::string("{\"a\":\"caf\xC3\xA9\"}"),
        std::string(R"({"a":"\x"})"), std::string(R"({"a":"\ud83)"), std::string("{\"a\":1}")}) {
    SCOPED_TRACE(json);
    EXPECT_EQ(JSONStrings::withInvalidTextReplaced(json), std::nullopt);
  }
  // A text that is still broken otherwise stays refused.
  logjson::LineParser parser;
  EXPECT_FALSE(parser.parse(R"({"a":"\ud83d","b":tru})").has_value());
  EXPECT_FALSE(parser.parse("{\"a\":\"\xE9\"").has_value());
}

}  // namespace
}  // namespace tokvane
