#include "TokvaneCore/Foundation/JSONNumbers.hpp"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>

namespace tokvane::JSONNumbers {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whether a plain integer literal (optional minus, digits) fits int64 or uint64.
bool integerFits(std::string_view token) {
  const bool negative = !token.empty() && token[0] == '-';
  std::string_view digits = negative ? token.substr(1) : token;
  while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
  const std::string_view limit = negative ? "9223372036854775808" : "18446744073709551615";
  if (digits.size() != limit.size()) return digits.size() < limit.size();
  return digits <= limit;
}

}  // namespace

std::optional<std::string> clampOverflowingNumbers(std::string_view json) {
  std::string out;
  bool changed = false;
  size_t copiedUpTo = 0;
  bool inString = false;
  for (size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
      continue;
    }
    if (c != '-' && !isDigit(c)) continue;
    // A number token: take the longest run of number characters.
    size_t end = i + 1;
    bool isFloat = false;
    while (end < json.size()) {
      const char d = json[end];
      if (isDigit(d) || d == '-' || d == '+') {
        ++end;
      } else if (d == '.' || d == 'e' || d == 'E') {
        isFloat = true;
        ++end;
      } else {
        break;
      }
    }
    const std::string_view token = json.substr(i, end - i);
    std::string replacement;
    if (!isFloat) {
      if (!integerFits(token)) replacement = std::string(token) + ".0";
    } else {
      const std::string text(token);
      errno = 0;
      char* parsedEnd = nullptr;
      const double value = std::strtod(text.c_str(), &parsedEnd);
      if (parsedEnd == text.c_str() + text.size() && std::isinf(value)) {
        replacement = value < 0 ? "-1.7976931348623157e308" : "1.7976931348623157e308";
      }
    }
    if (!replacement.empty()) {
      if (!changed) out.reserve(json.size() + 16);
      out.append(json.substr(copiedUpTo, i - copiedUpTo));
      out.append(replacement);
      copiedUpTo = end;
      changed = true;
    }
    i = end - 1;
  }
  if (!changed) return std::nullopt;
  out.append(json.substr(copiedUpTo));
  return out;
}

bool isUsableAmount(double value) { return std::isfinite(value) && std::fabs(value) < DBL_MAX; }

}  // namespace tokvane::JSONNumbers
