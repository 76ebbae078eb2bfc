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
// token usage record and a token-count event with the rate limits. As in
// real logs most bytes are tool outputs and reasoning without usage, and
// now and then a usage record is written twice.
class CodexLogShape {
 public:
  CodexLogShape(uint64_t seed, Date start);

  // Appends whole lines until `out` has grown by at least `bytes`.
  void append(std::string& out, size_t bytes);

  Date now() const { return now_; }
  const std::string& sessionID() const { return sessionID_; }

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
};

}  // namespace tokvane::bench
