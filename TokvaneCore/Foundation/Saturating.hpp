#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace tokvane::saturating {

inline constexpr int64_t int64Max = std::numeric_limits<int64_t>::max();
inline constexpr int64_t int64Min = std::numeric_limits<int64_t>::min();

inline int64_t add(int64_t a, int64_t b) {
  int64_t result;
  if (__builtin_add_overflow(a, b, &result)) return b > 0 ? int64Max : int64Min;
  return result;
}

inline int64_t sub(int64_t a, int64_t b) {
  int64_t result;
  if (__builtin_sub_overflow(a, b, &result)) return b < 0 ? int64Max : int64Min;
  return result;
}

// A double taken as a signed 64-bit integer: the fraction truncated toward
// zero, values beyond the range clamped to its ends, NaN as 0.
inline int64_t fromDouble(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775807.0) return int64Max;
  if (value <= -9223372036854775808.0) return int64Min;
  return static_cast<int64_t>(value);
}

inline int64_t fromUnsigned(uint64_t value) {
  return value > static_cast<uint64_t>(int64Max) ? int64Max : static_cast<int64_t>(value);
}

}  // namespace tokvane::saturating
