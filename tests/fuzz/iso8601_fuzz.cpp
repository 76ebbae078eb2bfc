// ISO 8601 internet date-times: parsing any text never crashes, and a parsed
// date formats as a whole-second UTC text that parses back to the same second.

#include <cmath>

#include "FuzzCheck.hpp"
#include "TokvaneCore/Foundation/ISO8601.hpp"

using namespace tokvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto parsed = ISO8601::parse(fuzz::text(data, size));
  if (!parsed) return 0;
  FUZZ_CHECK(fuzz::isFinite(*parsed));

  const std::string formatted = ISO8601::format(*parsed);
  // "YYYY-MM-DDTHH:MM:SSZ"
  FUZZ_CHECK(formatted.size() == 20);
  FUZZ_CHECK(formatted[10] == 'T' && formatted[19] == 'Z');

  const auto reparsed = ISO8601::parse(formatted);
  FUZZ_CHECK(reparsed.has_value());
  FUZZ_CHECK(*reparsed == fuzz::wholeSecond(*parsed));
  FUZZ_CHECK(reparsed->unixSeconds() == std::floor(parsed->unixSeconds()));
  FUZZ_CHECK(ISO8601::format(*reparsed) == formatted);
  return 0;
}
