#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "TokvaneCore/Foundation/Date.hpp"

namespace tokvane::bench {

// Writes bytes shaped like a Claude Code session log: user prompts, assistant
// replies (tool calls and text, each line carrying the reply's usage) and
// tool results. As in real logs most bytes sit in tool results without usage
// (file contents with escaped quotes, tabs, newlines and embedded JSON, held
// twice: in the message and in "toolUseResult"), and about one line with
// usage appears per 3 to 6 KB. A reply with several content blocks is
// written as several lines with the same message id and usage, as the tool
// does while it streams: the earlier lines hold a small running output, the
// last line the final one. Output is deterministic for a given seed.
class ClaudeLogShape {
 public:
  explicit ClaudeLogShape(uint64_t seed = 1, Date start = Date::fromUnix(1759312800.0));

  // Appends whole lines, each ending in a line feed, until `out` has grown
  // by at least `bytes`. Successive calls continue the same session.
  void append(std::string& out, size_t bytes);

  // Starts another session: a new session id and a new conversation.
  void newSession();

  // The whole log of `bytes` bytes (a little more: lines are never cut).
  static std::string make(size_t bytes, uint64_t seed = 1);

  // Lines written so far, the lines among them that carry usage, and the
  // distinct usage events (message ids) they hold.
  size_t lines() const { return lines_; }
  size_t usageLines() const { return usageLines_; }
  size_t usageEvents() const { return usageEvents_; }
  // The sum of the replies' final outputs.
  uint64_t finalOutput() const { return finalOutput_; }
  const std::string& sessionID() const { return sessionID_; }
  Date now() const { return now_; }

 private:
  uint64_t next();
  uint64_t below(uint64_t bound) { return next() % bound; }
  std::string uuid();
  std::string token(const char* prefix, size_t length);
  std::string timestamp();
  void advance(double maxSeconds);
  void envelope(std::string& out, const char* type, const std::string& uuid);
  // Text of source-code-like lines, already escaped for a JSON string.
  std::string escapedText(size_t bytes);
  void appendUserPrompt(std::string& out);
  void appendAssistant(std::string& out, bool toolCall);
  void appendToolResult(std::string& out);

  uint64_t state_;
  Date now_;
  std::string sessionID_;
  std::string parentUUID_;
  std::string pendingToolID_;
  int toolCallsLeft_ = 0;
  size_t lines_ = 0;
  size_t usageLines_ = 0;
  size_t usageEvents_ = 0;
  uint64_t finalOutput_ = 0;
};

}  // namespace tokvane::bench
