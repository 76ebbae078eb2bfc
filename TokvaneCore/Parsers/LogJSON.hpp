#pragma once

#include <simdjson.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TokvaneCore/Foundation/Date.hpp"

// Reading the tools' log JSON: a validating parse of a whole line or file
// (never a lazy one that could accept a malformed tail) and the value rules
// the parsers share.
namespace tokvane::logjson {

using Element = simdjson::dom::element;

// One parser per thread; its buffers are reused from line to line.
class LineParser {
 public:
  // Parses `text` completely. With `padded`, the caller guarantees that
  // simdjson::SIMDJSON_PADDING readable bytes follow the text, so it is parsed
  // in place; otherwise it is copied into a reused padded buffer. A number
  // beyond what the parser holds (1e400, a 30-digit integer) does not reject
  // the text: such numbers are read as the largest value of their sign. Nor
  // does a lone surrogate escape or an invalid UTF-8 byte in a string: each
  // reads as U+FFFD. A text that parses at once takes none of these steps.
  // The element stays valid until the next call on this parser.
  std::optional<Element> parse(std::string_view text, bool padded = false);

 private:
  simdjson::dom::parser parser_;
  std::vector<char> scratch_;
};

// The calling thread's parser.
LineParser& threadParser();

// A count: a JSON number taken as a signed 64-bit integer (fraction truncated
// toward zero, beyond the range saturated), a boolean as 1 or 0; a negative
// count, a missing key, null, a string or anything else reads as 0.
int64_t count(Element object, std::string_view key);
// A JSON number (integer or not) as a double; none when missing or not a number.
std::optional<double> number(Element object, std::string_view key);
// A JSON number that is finite and within range; none otherwise.
std::optional<double> amount(Element object, std::string_view key);
std::optional<std::string_view> string(Element object, std::string_view key);
std::optional<Element> object(Element object, std::string_view key);
// True when the value is the JSON true or the number 1.
bool flag(Element object, std::string_view key);
// The value under `key` parsed as an ISO 8601 internet date-time.
std::optional<Date> timestamp(Element object, std::string_view key);

}  // namespace tokvane::logjson
