#include "TokvaneCore/Store/UsageStoreError.hpp"

#include <cstdio>

namespace tokvane {

namespace {

// The message as a quoted literal: quotes, backslashes and control
// characters escaped so the text stays on one log line.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          char escape[16];
          std::snprintf(escape, sizeof escape, "\\u{%x}", static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace

UsageStoreError::UsageStoreError(int32_t code, std::string message)
    : code(code),
      message(std::move(message)),
      text_("sqlite(code: " + std::to_string(code) + ", message: " + quoted(this->message) + ")") {}

}  // namespace tokvane
