#include "TokvaneCore/Parsers/LogLineFilter.hpp"

#include <string.h>

namespace tokvane {

namespace {

bool contains(std::string_view haystack, std::string_view needle) {
  return memmem(haystack.data(), haystack.size(), needle.data(), needle.size()) != nullptr;
}

}  // namespace

bool LogLineFilter::claude(std::string_view line) { return contains(line, "\"usage\""); }

bool LogLineFilter::codex(std::string_view line) {
  static constexpr std::string_view needles[] = {"token_usage_record", "token_count", "turn_context",
                                                 "session_meta"};
  for (const auto needle : needles) {
    if (contains(line, needle)) return true;
  }
  return false;
}

}  // namespace tokvane
