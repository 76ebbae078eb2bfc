#include "bench/support/ClaudeLogShape.hpp"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "TokvaneCore/Foundation/ISO8601.hpp"

namespace tokvane::bench {

namespace {

// Source lines as they stand inside a JSON string: quotes, backslashes and
// tabs escaped; some carry embedded JSON or non-ASCII text.
constexpr std::string_view codeLines[] = {
    R"(#include \"TokvaneCore/Usage/TokenCounts.hpp\")",
    R"(namespace tokvane {)",
    R"(\tconst auto value = parser.parse(input, /*padded=*/true);)",
    R"(    if (!value || !value->is_object()) return std::nullopt;)",
    R"(    for (const auto& [key, count] : totals) sum += count;)",
    R"(  static constexpr std::string_view needle = \"\\\"input_tokens\\\"\";)",
    R"(    throw std::runtime_error(\"unexpected end of input at \" + std::to_string(offset));)",
    R"({\"name\": \"tokvane\", \"version\": \"0.1.0\", \"scripts\": {\"test\": \"ctest --output-on-failure\"}})",
    R"(  \"dependencies\": {\"simdjson\": \"^3.0.1\", \"sqlite\": \"3.40\"},)",
    R"(// Résumé of the café's naïve façade — déjà vu → ok)",
    R"(    EXPECT_EQ(result.lines, (std::vector<std::string>{\"a\", \"b\"}));)",
    R"(SELECT day, provider, model, SUM(input) FROM daily WHERE day >= ?1 GROUP BY 1, 2, 3;)",
    R"(  return std::make_unique<Reader>(path, std::move(cursor), maxBytes);)",
    R"(\t\t<div class=\"card\" data-provider=\"claude\">{{ summary.totalCost }}</div>)",
    R"(    std::printf(\"%s: %lld tokens\\n\", name.c_str(), static_cast<long long>(total));)",
    R"(}  // namespace tokvane)",
    R"(    auto [it, inserted] = seen.emplace(event.dedupKey, event.timestamp);)",
    R"(  - run: cmake --build build -j3 \u0026\u0026 ctest --test-dir build)",
};

constexpr std::string_view prompts[] = {
    "Please look at the indexer and find out why the totals are off by one day in some time zones.",
    "Add tests for the tail reader: CRLF endings, a file replaced while it is read, and a truncated file.",
    "Refactor the summary query so that it runs in one statement; keep the output identical.",
    "The build fails with \\\"undefined reference to sqlite3_open_v2\\\" \u2014 can you fix the CMake files?",
    "Explain what this function does and whether it handles an empty input:\\n\\n```cpp\\nint f(std::string_view s);\\n```",
};

constexpr std::string_view replies[] = {
    "I found the problem: the day key was computed in UTC before the calendar was applied. I'll fix that now.",
    "All tests pass now. Summary of the changes:\\n\\n1. The reader keeps one buffer.\\n2. Lines are views.\\n"
    "3. The parser runs in place.",
    "Let me read the file first to see how the cursor is stored.",
    "The function returns early on empty input, so `s[0]` is never read. No change is needed.",
};

constexpr std::string_view tools[] = {"Read", "Bash", "Grep", "Edit", "Glob"};

constexpr std::string_view models[] = {"claude-sonnet-4-5-20250929", "claude-sonnet-4-5-20250929",
                                       "claude-sonnet-4-5-20250929", "claude-opus-4-1-20250805",
                                       "claude-haiku-4-5-20251001"};

}  // namespace

ClaudeLogShape::ClaudeLogShape(uint64_t seed, Date start) : state_(seed * 0x9E3779B97F4A7C15ULL + 1), now_(start) {
  newSession();
}

uint64_t ClaudeLogShape::next() {
  // splitmix64: fast, and the same sequence on every platform.
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

std::string ClaudeLogShape::uuid() {
  char text[40];
  const uint64_t a = next();
  const uint64_t b = next();
  std::snprintf(text, sizeof text, "%08x-%04x-4%03x-%04x-%012llx", static_cast<unsigned>(a >> 32),
                static_cast<unsigned>((a >> 16) & 0xffff), static_cast<unsigned>(a & 0xfff),
                static_cast<unsigned>(0x8000 | ((b >> 48) & 0x3fff)),
                static_cast<unsigned long long>(b & 0xffffffffffffULL));
  return text;
}

std::string ClaudeLogShape::token(const char* prefix, size_t length) {
  static constexpr char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::string text = prefix;
  for (size_t i = 0; i < length; ++i) text += alphabet[below(sizeof alphabet - 1)];
  return text;
}

std::string ClaudeLogShape::timestamp() {
  // "2025-10-01T12:00:00.250Z": whole seconds, then milliseconds.
  std::string text = ISO8601::format(now_);
  const double fraction = now_.unixSeconds() - static_cast<double>(static_cast<int64_t>(now_.unixSeconds()));
  char millis[8];
  std::snprintf(millis, sizeof millis, ".%03d", static_cast<int>(fraction * 1000) % 1000);
  text.insert(text.size() - 1, millis);
  return text;
}

void ClaudeLogShape::advance(double maxSeconds) {
  now_ = now_ + 0.05 + static_cast<double>(below(1000)) / 1000.0 * maxSeconds;
}

void ClaudeLogShape::newSession() {
  sessionID_ = uuid();
  parentUUID_.clear();
  pendingToolID_.clear();
  toolCallsLeft_ = 0;
}

void ClaudeLogShape::envelope(std::string& out, const char* type, const std::string& lineUUID) {
  out += R"({"parentUuid":)";
  out += parentUUID_.empty() ? "null" : "\"" + parentUUID_ + "\"";
  out += R"(,"isSidechain":false,"userType":"external","cwd":"/home/dev/projects/tokvane","sessionId":")";
  out += sessionID_;
  out += R"(","version":"1.0.98","gitBranch":"main","type":")";
  out += type;
  out += "\"";
  parentUUID_ = lineUUID;
}

std::string ClaudeLogShape::escapedText(size_t bytes) {
  std::string text;
  text.reserve(bytes + 128);
  int number = 1 + static_cast<int>(below(400));
  while (text.size() < bytes) {
    // The Read tool's numbered form: "    12→code\n".
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%6d\u2192", number++);
    text += prefix;
    text += codeLines[below(std::size(codeLines))];
    text += "\\n";
  }
  return text;
}

void ClaudeLogShape::appendUserPrompt(std::string& out) {
  const std::string lineUUID = uuid();
  envelope(out, "user", lineUUID);
  out += R"(,"message":{"role":"user","content":")";
  out += prompts[below(std::size(prompts))];
  out += R"("},"uuid":")" + lineUUID + R"(","timestamp":")" + timestamp() + "\"}\n";
  ++lines_;
  toolCallsLeft_ = 1 + static_cast<int>(below(6));
  advance(40);
}

void ClaudeLogShape::appendAssistant(std::string& out, bool toolCall) {
  const std::string messageID = token("msg_01", 22);
  const std::string requestID = token("req_011C", 18);
  const std::string_view model = models[below(std::size(models))];
  const uint64_t write5m = below(4) == 0 ? 0 : below(6000);
  const uint64_t write1h = below(5) == 0 ? below(3000) : 0;
  const uint64_t input = 1 + below(12);
  const uint64_t cacheRead = 8000 + below(140000);
  const uint64_t finalOutput = 1 + below(1800);
  // A streamed reply repeats a small running output on its earlier lines;
  // only the last line holds the final count, the largest.
  const uint64_t placeholder = 1 + below(std::min<uint64_t>(30, finalOutput));
  const auto usage = [&](uint64_t output) {
    char text[512];
    std::snprintf(text, sizeof text,
                  R"("usage":{"input_tokens":%llu,"cache_creation_input_tokens":%llu,"cache_read_input_tokens":%llu,)"
                  R"("cache_creation":{"ephemeral_5m_input_tokens":%llu,"ephemeral_1h_input_tokens":%llu},)"
                  R"("output_tokens":%llu,"service_tier":"standard"})",
                  static_cast<unsigned long long>(input), static_cast<unsigned long long>(write5m + write1h),
                  static_cast<unsigned long long>(cacheRead), static_cast<unsigned long long>(write5m),
                  static_cast<unsigned long long>(write1h), static_cast<unsigned long long>(output));
    return std::string(text);
  };

  // One line per content block (thinking, text, tool use), all with the
  // message's id and usage.
  std::string blocks[3];
  size_t count = 0;
  if (below(4) == 0) {
    blocks[count++] = R"({"type":"thinking","thinking":"Let me look at the store first.","signature":")" +
                      token("Eq", 120) + "\"}";
  }
  if (!toolCall || below(2) == 0) {
    blocks[count++] = R"({"type":"text","text":")" + std::string(replies[below(std::size(replies))]) + "\"}";
  }
  if (toolCall) {
    pendingToolID_ = token("toolu_01", 22);
    const std::string_view tool = tools[below(std::size(tools))];
    blocks[count++] = R"({"type":"tool_use","id":")" + pendingToolID_ + R"(","name":")" + std::string(tool) +
                      R"(","input":{"file_path":"/home/dev/projects/tokvane/TokvaneCore/Logs/JSONLTail.cpp",)"
                      R"("limit":400}})";
  }
  for (size_t i = 0; i < count; ++i) {
    const std::string lineUUID = uuid();
    envelope(out, "assistant", lineUUID);
    out += R"(,"message":{"id":")" + messageID + R"(","type":"message","role":"assistant","model":")";
    out += model;
    out += R"(","content":[)" + blocks[i] + R"(],"stop_reason":)";
    out += (toolCall && i + 1 == count) ? "\"tool_use\"" : "null";
    out += R"(,"stop_sequence":null,)";
    out += usage(i + 1 == count ? finalOutput : placeholder);
    out += R"(},"requestId":")" + requestID + R"(","uuid":")" + lineUUID + R"(","timestamp":")" + timestamp() +
           "\"}\n";
    ++lines_;
    ++usageLines_;
  }
  finalOutput_ += finalOutput;
  ++usageEvents_;
  advance(20);
}

void ClaudeLogShape::appendToolResult(std::string& out) {
  // File contents: mostly one to a few KB, now and then much more.
  size_t size = 400 + below(2600);
  if (below(10) == 0) size += below(12000);
  const std::string numbered = escapedText(size);
  const std::string lineUUID = uuid();
  envelope(out, "user", lineUUID);
  out += R"(,"message":{"role":"user","content":[{"tool_use_id":")" + pendingToolID_ +
         R"(","type":"tool_result","content":")";
  out += numbered;
  out += R"("}]},"uuid":")" + lineUUID + R"(","timestamp":")" + timestamp() + "\"";
  // The tool's structured result repeats the content.
  out += R"(,"toolUseResult":{"type":"text","file":{"filePath":"/home/dev/projects/tokvane/TokvaneCore/Logs/)"
         R"(JSONLTail.cpp","content":")";
  out += numbered;
  out += R"(","numLines":)" + std::to_string(size / 60) + R"(,"startLine":1,"totalLines":)" +
         std::to_string(size / 50) + "}}}\n";
  ++lines_;
  pendingToolID_.clear();
  advance(3);
}

void ClaudeLogShape::append(std::string& out, size_t bytes) {
  const size_t target = out.size() + bytes;
  while (out.size() < target) {
    if (!pendingToolID_.empty()) {
      appendToolResult(out);
    } else if (toolCallsLeft_ > 0) {
      --toolCallsLeft_;
      appendAssistant(out, /*toolCall=*/true);
    } else if (!parentUUID_.empty() && below(3) != 0) {
      appendAssistant(out, /*toolCall=*/false);
      appendUserPrompt(out);
    } else {
      appendUserPrompt(out);
    }
  }
}

std::string ClaudeLogShape::make(size_t bytes, uint64_t seed) {
  ClaudeLogShape shape(seed);
  std::string out;
  out.reserve(bytes + 64 * 1024);
  shape.append(out, bytes);
  return out;
}

}  // namespace tokvane::bench
