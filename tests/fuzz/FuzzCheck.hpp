#pragma once

// Shared helpers of the fuzz targets: an invariant check that aborts (so
// libFuzzer keeps the input), and the date and record normalisations the
// round-trip checks compare with.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Limits/ProviderLimits.hpp"
#include "TokvaneCore/Usage/TokenCounts.hpp"

namespace tokvane::fuzz {

[[noreturn]] inline void invariantBroken(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  std::abort();
}

inline std::string_view text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// What a date becomes after a trip through a whole-second ISO 8601 text.
inline Date wholeSecond(Date date) { return Date::fromUnix(std::floor(date.unixSeconds())); }

inline bool isFinite(Date date) { return std::isfinite(date.secondsSinceReferenceDate); }

inline bool nonNegative(const TokenCounts& t) {
  return t.uncachedInput >= 0 && t.cacheRead >= 0 && t.cacheWrite5m >= 0 && t.cacheWrite1h >= 0 && t.output >= 0 &&
         t.reasoning >= 0;
}

inline LimitWindow wholeSeconds(LimitWindow window) {
  if (window.resetsAt) window.resetsAt = wholeSecond(*window.resetsAt);
  if (window.source.kind != LimitSource::Kind::live) window.source.asOf = wholeSecond(window.source.asOf);
  return window;
}

inline ProviderLimits wholeSeconds(ProviderLimits limits) {
  for (auto& window : limits.windows) window = wholeSeconds(window);
  limits.fetchedAt = wholeSecond(limits.fetchedAt);
  return limits;
}

}  // namespace tokvane::fuzz

#define FUZZ_CHECK(condition)                                                          \
  do {                                                                                 \
    if (!(condition)) ::tokvane::fuzz::invariantBroken(#condition, __FILE__, __LINE__); \
  } while (0)
