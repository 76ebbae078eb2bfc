#include "tests/support/LogLines.hpp"

#include <cstdio>

namespace tokvane::testing {

std::string logStamp(int minute) {
  char text[32];
  std::snprintf(text, sizeof text, "2025-12-31T%02d:%02d:00Z", 10 + minute / 60, minute % 60);
  return text;
}

std::string claudeLine(const std::string& messageID, const ClaudeReply& reply) {
  return R"({"type":"assistant","sessionId":")" + reply.session + R"(","timestamp":")" + reply.timestamp +
         R"(","message":{"id":")" + messageID + R"(","model":")" + reply.model + R"(","usage":{"input_tokens":)" +
         std::to_string(reply.input) + R"(,"output_tokens":)" + std::to_string(reply.output) + "}}}\n";
}

std::string sizedClaudeLine(const std::string& id, size_t length, bool usage, const char* ending) {
  std::string line = usage ? R"({"type":"assistant","timestamp":"2025-12-31T10:00:00Z","message":{"id":")" + id +
                                 R"(","model":"m","usage":{"input_tokens":3}}})"
                           : R"({"type":"user","note":")" + id + R"("})";
  if (line.size() < length) line.insert(line.size() - 1, std::string(length - line.size(), ' '));
  if (line.size() > length) line = std::string(length, 'x');
  return line + ending;
}

std::string fillerLine(size_t bytes) {
  const std::string head = R"({"type":"user","message":{"content":")";
  const std::string tail = "\"}}\n";
  return head + std::string(bytes - head.size() - tail.size(), 'x') + tail;
}

std::string codexSessionMeta(const std::string& id, const std::string& timestamp) {
  return R"({"timestamp":")" + timestamp + R"(","type":"session_meta","payload":{"id":")" + id + "\"}}\n";
}

std::string codexTurnContext(const std::string& model, const std::string& timestamp) {
  return R"({"timestamp":")" + timestamp + R"(","type":"turn_context","payload":{"model":")" + model + "\"}}\n";
}

std::string codexUsageLine(const std::string& responseID, const CodexUsage& usage) {
  return R"({"timestamp":")" + usage.timestamp + R"(","type":"token_usage_record","payload":{"response_id":")" +
         responseID + R"(","usage":{"input_tokens":)" + std::to_string(usage.input) + R"(,"output_tokens":)" +
         std::to_string(usage.output) + "}}}\n";
}

std::string codexLimitsLine(int usedPercent, const std::string& timestamp) {
  return R"({"timestamp":")" + timestamp +
         R"(","type":"event_msg","payload":{"type":"token_count","rate_limits":{"primary":{"used_percent":)" +
         std::to_string(usedPercent) + R"(,"window_minutes":300}}}})" + "\n";
}

std::string grokSession(const std::string& id, const std::vector<std::pair<int, bool>>& turns) {
  std::string text = R"({"sessionId":")" + id + R"(","turns":[)";
  for (size_t i = 0; i < turns.size(); ++i) {
    const auto [number, finished] = turns[i];
    text += (i ? "," : "") + std::string(R"({"turnNumber":)") + std::to_string(number);
    if (finished) text += R"(,"endedAt":")" + logStamp(number) + "\"";
    text += R"(,"modelUsage":{"grok-4":{"inputTokens":20,"outputTokens":3}}})";
  }
  return text + "]}";
}

}  // namespace tokvane::testing
