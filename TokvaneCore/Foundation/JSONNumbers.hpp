#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tokvane::JSONNumbers {

// Strict JSON parsers reject a document outright when one number lies beyond
// what they can hold (an integer literal wider than 64 bits, or 1e400). The
// logs are written by other programs, so one such value must not hide the
// rest of a line. This rewrites, outside strings, every integer literal that
// does not fit 64 bits as the same literal with ".0" (so it reads as a double)
// and every number that overflows a double as the largest double of its sign.
// Returns none when nothing needed rewriting.
std::optional<std::string> clampOverflowingNumbers(std::string_view json);

// The largest finite double stands for "beyond range" after the rewrite:
// a count there saturates, while an amount there is treated as absent.
bool isUsableAmount(double value);

}  // namespace tokvane::JSONNumbers
