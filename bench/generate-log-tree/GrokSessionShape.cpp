#include "GrokSessionShape.hpp"

#include <cstdio>

#include "SplitMix.hpp"
#include "TokvaneCore/Foundation/ISO8601.hpp"

namespace tokvane::bench {

std::string GrokSessionShape::make(uint64_t seed, Date start, size_t bytes, bool running, Date& modified) {
  SplitMix random(seed);
  Date now = start;
  std::string text = R"({"sessionId":")" + random.uuid() + R"(","cwd":"/home/dev/projects/tokvane","createdAt":")" +
                     ISO8601::format(now) + R"(","turns":[)";
  int number = 1;
  while (text.size() < bytes || number == 1) {
    const Date started = now;
    now = now + 5 + random.unit() * 240;
    const bool last = text.size() + 700 >= bytes;
    const bool finished = !(last && running);
    const long long input = 4000 + static_cast<long long>(random.below(60000));
    const long long cached = input * static_cast<long long>(random.below(90)) / 100;
    const long long output = 50 + static_cast<long long>(random.below(3000));
    char turn[1024];
    std::snprintf(
        turn, sizeof turn,
        R"(%s{"turnNumber":%d,"startedAt":"%s",%s"prompt":"Fix the failing test in the summary module and explain the cause.",)"
        R"("toolCalls":%d,"modelUsage":{"grok-code-fast-1":{"inputTokens":%lld,"cachedReadTokens":%lld,)"
        R"("cacheCreationTokens":0,"outputTokens":%lld,"reasoningTokens":%lld,"costUsdTicks":%lld}}})",
        number == 1 ? "" : ",", number, ISO8601::format(started).c_str(),
        finished ? (R"("endedAt":")" + ISO8601::format(now) + "\",").c_str() : "", static_cast<int>(random.below(12)),
        input, cached, output, static_cast<long long>(random.below(static_cast<uint64_t>(output))),
        (input - cached) * 2000 + cached * 500 + output * 15000);
    text += turn;
    ++number;
    now = now + random.unit() * 900;
    if (last) break;
  }
  text += "]}";
  modified = now;
  return text;
}

}  // namespace tokvane::bench
