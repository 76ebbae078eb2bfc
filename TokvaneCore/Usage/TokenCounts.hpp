#pragma once

#include <cstdint>

#include "TokvaneCore/Foundation/KeyedJSON.hpp"

namespace tokvane {

// Tokens of one event or one day, split by kind. Sums saturate at the ends of
// the signed 64-bit range instead of wrapping.
struct TokenCounts {
  int64_t uncachedInput = 0;
  int64_t cacheRead = 0;
  int64_t cacheWrite5m = 0;
  int64_t cacheWrite1h = 0;
  int64_t output = 0;
  int64_t reasoning = 0;

  static constexpr TokenCounts zero() { return TokenCounts{}; }

  int64_t cacheWrite() const;
  // Every counter but reasoning: the count of processed tokens used everywhere.
  int64_t processed() const;

  TokenCounts operator+(const TokenCounts& other) const;
  TokenCounts& operator+=(const TokenCounts& other);
  friend bool operator==(const TokenCounts&, const TokenCounts&) = default;

  JSON toJSON() const;
  // All six keys are required.
  static TokenCounts fromJSON(const JSON& json);
};

}  // namespace tokvane
