#include "CodexLogShape.hpp"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "TokvaneCore/Foundation/ISO8601.hpp"

namespace tokvane::bench {

namespace {

// Command output as it stands inside the escaped "output" text of a
// function_call_output payload: escaped twice.
constexpr std::string_view outputLines[] = {
    R"(src/indexer.rs:42:    let cursor = store.cursor(&path)?;)",
    R"(src/indexer.rs:97:        tail.read(&path, cursor.as_ref(), CHUNK)?;)",
    R"(test result: ok. 128 passed; 0 failed; 0 ignored; 0 measured; 0 filtered out)",
    R"(   Compiling tokvane-core v0.1.0 (/home/dev/projects/tokvane/core))",
    R"(warning: unused variable: \\\"offset\\\")",
    R"(diff --git a/src/store.rs b/src/store.rs)",
    R"(+    pub fn ingest(\u0026mut self, events: \u0026[UsageEvent]) -\u003e Result\u003cusize\u003e {)",
    R"({\\\"name\\\":\\\"tokvane\\\",\\\"private\\\":true,\\\"version\\\":\\\"0.1.0\\\"})",
    R"(drwxr-xr-x  5 dev dev 4096 Nov  3 14:22 src)",
    R"(Résumé: naïve café façade — déjà vu)",
};

constexpr std::string_view prompts[] = {
    "Run the tests and fix whatever fails in the store module.",
    "Why does the daily chart skip days with no usage? Make it show zeros.",
    "Add a --json flag to the report command and document it in the README.",
    "Refactor the tail reader so it keeps one buffer between calls.",
};

constexpr std::string_view commands[] = {"cargo test -p tokvane-core", "rg -n \\\\\\\"cursor\\\\\\\" src",
                                         "git diff --stat", "ls -la src", "sed -n 1,200p src/store.rs"};

constexpr std::string_view models[] = {"gpt-5-codex", "gpt-5-codex", "gpt-5", "gpt-5.1-codex"};

}  // namespace

CodexLogShape::CodexLogShape(uint64_t seed, Date start) : random_(seed), now_(start) {
  sessionID_ = random_.uuid();
  model_ = models[random_.below(std::size(models))];
  // Most sessions are of tools from before usage records; of those, the
  // ones from 0.41 to 0.130 write each token count twice.
  const double form = random_.unit();
  usageRecords_ = form < 0.35;
  repeatsTokenCounts_ = !usageRecords_ && form < 0.8;
  cliVersion_ = usageRecords_ ? "0.153.0" : repeatsTokenCounts_ ? "0.77.0" : "0.140.0";
}

std::string CodexLogShape::timestamp() {
  std::string text = ISO8601::format(now_);
  const double fraction = now_.unixSeconds() - static_cast<double>(static_cast<int64_t>(now_.unixSeconds()));
  char millis[8];
  std::snprintf(millis, sizeof millis, ".%03d", static_cast<int>(fraction * 1000) % 1000);
  text.insert(text.size() - 1, millis);
  return text;
}

void CodexLogShape::advance(double maxSeconds) { now_ = now_ + 0.02 + random_.unit() * maxSeconds; }

void CodexLogShape::line(std::string& out, const char* type, const std::string& payload) {
  out += R"({"timestamp":")";
  out += timestamp();
  out += R"(","type":")";
  out += type;
  out += R"(","payload":)";
  out += payload;
  out += "}\n";
}

std::string CodexLogShape::escapedOutput(size_t bytes) {
  std::string text;
  text.reserve(bytes + 128);
  while (text.size() < bytes) {
    text += outputLines[random_.below(std::size(outputLines))];
    text += "\\\\n";
  }
  return text;
}

void CodexLogShape::begin(std::string& out) {
  // The base instructions make the first line several KB long.
  std::string instructions;
  while (instructions.size() < 6000 + random_.below(6000)) {
    instructions += "You are Codex, a coding agent. Keep changes minimal and focused; run the tests. ";
  }
  line(out, "session_meta",
       R"({"id":")" + sessionID_ + R"(","timestamp":")" + timestamp() +
           R"(","cwd":"/home/dev/projects/tokvane","originator":"codex_cli_rs","cli_version":")" + cliVersion_ +
           R"(","instructions":")" +
           instructions + R"(","git":{"commit_hash":")" + random_.hex(40) +
           R"(","branch":"main","repository_url":"git@example.org:dev/tokvane.git"}})");
  // Before the first usage the token count holds no info.
  line(out, "event_msg", R"({"type":"token_count","info":null,"rate_limits":null})");
  begun_ = true;
}

void CodexLogShape::modelResponse(std::string& out, bool toolCall) {
  std::string encrypted = random_.token("gAAAAAB", 1500 + random_.below(4000));
  line(
      out, "response_item",
      R"({"type":"reasoning","summary":[{"type":"summary_text","text":"**Planning the change**\n\nI'll look at the store first."}],"content":null,"encrypted_content":")" +
          encrypted + "\"}");
  const std::string responseID = random_.token("resp_", 40);
  std::string callID;
  if (toolCall) {
    callID = random_.token("call_", 24);
    line(out, "response_item",
         R"({"type":"function_call","name":"shell","arguments":"{\"command\":[\"bash\",\"-lc\",\")" +
             std::string(commands[random_.below(std::size(commands))]) +
             R"(\"],\"workdir\":\"/home/dev/projects/tokvane\",\"timeout_ms\":120000}","call_id":")" + callID + "\"}");
  } else {
    line(
        out, "response_item",
        R"({"type":"message","role":"assistant","content":[{"type":"output_text","text":"Done: the tests pass and the store keeps one transaction per batch."}]})");
    line(out, "event_msg",
         R"({"type":"agent_message","message":"Done: the tests pass and the store keeps one transaction per batch."})");
  }

  const int64_t input = contextTokens_ + static_cast<int64_t>(random_.below(3000));
  const int64_t cached = input * static_cast<int64_t>(60 + random_.below(35)) / 100;
  const int64_t output = 30 + static_cast<int64_t>(random_.below(1500));
  const int64_t reasoning = static_cast<int64_t>(random_.below(static_cast<uint64_t>(output)));
  // Cache writes are a part of the input besides the cached part; only
  // tools with usage records report them.
  const int64_t writes =
      usageRecords_ ? static_cast<int64_t>(random_.below(static_cast<uint64_t>(std::min<int64_t>(input - cached, 2000))))
                    : 0;
  if (usageRecords_) {
    char usage[512];
    std::snprintf(
        usage, sizeof usage,
        R"({"response_id":"%s","session_id":"%s","usage":{"input_tokens":%lld,"cached_input_tokens":%lld,)"
        R"("cache_write_input_tokens":%lld,"output_tokens":%lld,"reasoning_output_tokens":%lld,"total_tokens":%lld}})",
        responseID.c_str(), sessionID_.c_str(), static_cast<long long>(input), static_cast<long long>(cached),
        static_cast<long long>(writes), static_cast<long long>(output), static_cast<long long>(reasoning),
        static_cast<long long>(input + output));
    line(out, "token_usage_record", usage);
    // Now and then the tool writes a record twice.
    if (random_.chance(0.03)) line(out, "token_usage_record", usage);
  }
  contextTokens_ += output + 200;
  total_.input += input;
  total_.cached += cached;
  total_.writes += writes;
  total_.output += output;
  total_.reasoning += reasoning;

  sessionUsed_ = std::min(100.0, sessionUsed_ + random_.unit() * 0.8);
  weeklyUsed_ = std::min(100.0, weeklyUsed_ + random_.unit() * 0.1);
  const auto usageObject = [&](const Usage& u) {
    const std::string writesText =
        usageRecords_ ? R"("cache_write_input_tokens":)" + std::to_string(u.writes) + "," : std::string();
    char text[320];
    std::snprintf(text, sizeof text,
                  R"({"input_tokens":%lld,"cached_input_tokens":%lld,%s"output_tokens":%lld,)"
                  R"("reasoning_output_tokens":%lld,"total_tokens":%lld})",
                  static_cast<long long>(u.input), static_cast<long long>(u.cached),
                  writesText.c_str(),
                  static_cast<long long>(u.output), static_cast<long long>(u.reasoning),
                  static_cast<long long>(u.input + u.output));
    return std::string(text);
  };
  char limits[1024];
  const auto resets = static_cast<long long>(now_.unixSeconds()) + 3600;
  std::snprintf(limits, sizeof limits,
                R"({"type":"token_count","info":{"total_token_usage":%s,"last_token_usage":%s,)"
                R"("model_context_window":272000},)"
                R"("rate_limits":{"primary":{"used_percent":%.1f,"window_minutes":300,"resets_at":%lld},)"
                R"("secondary":{"used_percent":%.1f,"window_minutes":10080,"resets_at":%lld},"plan_type":"plus"}})",
                usageObject(total_).c_str(), usageObject(Usage{input, cached, writes, output, reasoning}).c_str(),
                sessionUsed_, resets, weeklyUsed_, resets + 86400 * 3);
  line(out, "event_msg", limits);
  if (repeatsTokenCounts_) line(out, "event_msg", limits);
  advance(15);

  if (toolCall) {
    const size_t size = random_.chance(0.1) ? 8000 + random_.below(40000) : 300 + random_.below(6000);
    line(out, "response_item",
         R"({"type":"function_call_output","call_id":")" + callID + R"(","output":"{\"output\":\")" +
             escapedOutput(size) + R"(\",\"metadata\":{\"exit_code\":0,\"duration_seconds\":0.4}}"})");
    advance(10);
  }
}

void CodexLogShape::turn(std::string& out) {
  line(
      out, "turn_context",
      R"({"cwd":"/home/dev/projects/tokvane","approval_policy":"on-request","sandbox_policy":{"mode":"workspace-write"},"model":")" +
          model_ + R"(","effort":"medium","summary":"auto"})");
  const std::string_view prompt = prompts[random_.below(std::size(prompts))];
  line(out, "response_item",
       R"({"type":"message","role":"user","content":[{"type":"input_text","text":")" + std::string(prompt) + "\"}]}");
  line(out, "event_msg", R"({"type":"user_message","message":")" + std::string(prompt) + R"(","kind":"plain"})");
  advance(60);
  const int calls = 1 + static_cast<int>(random_.below(8));
  for (int i = 0; i < calls; ++i) modelResponse(out, true);
  modelResponse(out, false);
  advance(600);
}

void CodexLogShape::append(std::string& out, size_t bytes) {
  const size_t target = out.size() + bytes;
  if (!begun_) begin(out);
  while (out.size() < target) turn(out);
}

}  // namespace tokvane::bench
