// The Claude log parser over any line: never crashes, parses the same in
// place (with readable padding after the line, as the tail reader hands it
// over) as from a copy, and every event it yields is a Claude event with
// processed tokens, no negative count and a usable time.

#include <simdjson.h>

#include <cstring>
#include <vector>

#include "FuzzCheck.hpp"
#include "TokvaneCore/Parsers/ClaudeLogParser.hpp"

using namespace tokvane;

namespace {

// The bytes that follow a line inside the tail reader's buffer: the next
// line. Anything the parser read past the line's end would change its result.
void fillLikeNextLine(char* padding, size_t length) {
  static constexpr std::string_view next = "\n{\"type\":\"assistant\",\"message\":{\"usage\":{\"input_tokens\":7}}}";
  for (size_t i = 0; i < length; ++i) padding[i] = next[i % next.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line = fuzz::text(data, size);
  const auto event = ClaudeLogParser::event(line);

  std::vector<char> padded(size + simdjson::SIMDJSON_PADDING);
  if (size > 0) std::memcpy(padded.data(), data, size);
  fillLikeNextLine(padded.data() + size, simdjson::SIMDJSON_PADDING);
  FUZZ_CHECK(ClaudeLogParser::event(std::string_view(padded.data(), size), true) == event);

  if (!event) return 0;
  FUZZ_CHECK(event->provider == ProviderID::claude);
  FUZZ_CHECK(fuzz::nonNegative(event->tokens));
  FUZZ_CHECK(event->tokens.processed() > 0);
  FUZZ_CHECK(event->model != "<synthetic>");
  FUZZ_CHECK(fuzz::isFinite(event->timestamp));
  FUZZ_CHECK(!event->reportedCostUSD.has_value());
  return 0;
}
