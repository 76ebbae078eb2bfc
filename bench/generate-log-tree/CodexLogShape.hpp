#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "SplitMix.hpp"
#include "TokvaneCore/Foundation/Date.hpp"

namespace tokvane::bench {

// Writes bytes shaped like a Codex session log ("rollout"): the session's
// metadata with its long instructions, turn contexts, user messages,
// reasoning items with encrypted content, shell calls and their (large,
// escaped) outputs, assistant messages, and after every model response a
// token-count event with the session's running total and the rate limits,
// preceded, in sessions of tools that write them, by a token usage record.
// As in real logs most bytes are tool outputs and reasoning without usage,
// most sessions are of tools from before usage records (some writing each
// token count twice), and now and then a usage record is written twice.
class CodexLogShape {
 public:
  CodexLogShape(uint64_t seed, Date start);

  // Appends whole lines until `out` has grown by at least `bytes`.
  void append(std::string& out, size_t bytes);

  Date now() const { return now_; }
  const std::string& sessionID() const { return sessionID_; }
  // The output tokens of the responses written so far.
  int64_t totalOutput() const { return total_.output; }

 private:
  std::string timestamp();
  void advance(double maxSeconds);
  void line(std::string& out, const char* type, const std::string& payload);
  std::string escapedOutput(size_t bytes);
  void begin(std::string& out);
  void turn(std::string& out);
  void modelResponse(std::string& out, bool toolCall);

  SplitMix random_;
  Date now_;
  std::string sessionID_;
  std::string model_;
  bool begun_ = false;
  int64_t contextTokens_ = 12000;
  double sessionUsed_ = 0;
  double weeklyUsed_ = 0;
  // The session's form: usage records, or token counts only (twice each).
  bool usageRecords_ = false;
  bool repeatsTokenCounts_ = false;
  std::string cliVersion_;
  struct Usage {
    int64_t input = 0, cached = 0, writes = 0, output = 0, reasoning = 0;
  };
  Usage total_;
};

}  // namespace tokvane::bench
