#include "TokvaneCore/Foundation/JSONStrings.hpp"

#include <cstdint>

namespace tokvane::JSONStrings {

namespace {

constexpr std::string_view replacementEscape = "\\ufffd";
constexpr std::string_view replacementBytes = "\xEF\xBF\xBD";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of a "\uXXXX" escape at `at`, or -1 when there is none.
int32_t escapedUnit(std::string_view text, size_t at) {
  if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return -1;
  int32_t unit = 0;
  for (size_t i = at + 2; i < at + 6; ++i) {
    const int digit = hexValue(text[i]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

// The length of the valid UTF-8 sequence at `at`, or 0 when the byte there
// does not start one (overlong forms, surrogates and code points past
// U+10FFFF are invalid).
size_t validSequence(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = at + 2; i < at + length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::optional<std::string> withInvalidTextReplaced(std::string_view json) {
  std::string out;
  bool changed = false;
  bool inString = false;
  size_t copied = 0;  // json[copied, i) is still to be copied to `out`
  const auto replace = [&](size_t at, size_t length, std::string_view with) {
    out.append(json.substr(copied, at - copied));
    out.append(with);
    copied = at + length;
    changed = true;
  };
  for (size_t i = 0; i < json.size();) {
    const char c = json[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      const size_t length = validSequence(json, i);
      if (length == 0) {
        replace(i, 1, replacementBytes);
        ++i;
      } else {
        i += length;
      }
      continue;
    }
    if (!inString) {
      if (c == '"') inString = true;
      ++i;
      continue;
    }
    if (c == '"') {
      inString = false;
      ++i;
      continue;
    }
    if (c != '\\') {
      ++i;
      continue;
    }
    const int32_t unit = escapedUnit(json, i);
    if (unit < 0) {
      i += i + 1 < json.size() ? 2 : 1;  // another escape, kept as it is
      continue;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      const int32_t next = escapedUnit(json, i + 6);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        i += 12;  // a whole pair
        continue;
      }
      replace(i, 6, replacementEscape);
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      replace(i, 6, replacementEscape);
    }
    i += 6;
  }
  if (!changed) return std::nullopt;
  out.append(json.substr(copied));
  return out;
}

}  // namespace tokvane::JSONStrings
