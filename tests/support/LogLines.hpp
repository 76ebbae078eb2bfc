#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Lines of the coding tools' session logs, as the tools write them, for the
// suites that feed logs to the parsers, the indexer or the whole engine.
namespace tokvane::testing {

// 2025-12-31T10:00:00Z plus `minute` minutes.
std::string logStamp(int minute = 0);

// A Claude Code reply with usage.
struct ClaudeReply {
  std::string session = "s1";
  std::string timestamp = logStamp();
  std::string model = "claude-x";
  int64_t input = 10;
  int64_t output = 5;
};
std::string claudeLine(const std::string& messageID, const ClaudeReply& reply = {});

// A line of exactly `length` bytes (line feed excluded) that the Claude
// parser takes as usage when `usage` is set, with the given ending; a length
// too short for JSON gives a line of 'x' (a foreign line).
std::string sizedClaudeLine(const std::string& id, size_t length, bool usage, const char* ending = "\n");

// A line without usage, `bytes` long with its line feed (at least 40).
std::string fillerLine(size_t bytes = 60);

// Codex: the session's first line, the model line, a usage record, and its
// own reading of the rate limits.
std::string codexSessionMeta(const std::string& id, const std::string& timestamp = logStamp());
std::string codexTurnContext(const std::string& model, const std::string& timestamp = logStamp());
struct CodexUsage {
  std::string timestamp = logStamp();
  int64_t input = 100;
  int64_t output = 7;
};
std::string codexUsageLine(const std::string& responseID, const CodexUsage& usage = {});
std::string codexLimitsLine(int usedPercent, const std::string& timestamp = logStamp());

// A Grok session file; each turn is {number, finished}, a finished turn ending
// at logStamp(number).
std::string grokSession(const std::string& id, const std::vector<std::pair<int, bool>>& turns);

}  // namespace tokvane::testing
