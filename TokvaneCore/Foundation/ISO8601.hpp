#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "TokvaneCore/Foundation/Date.hpp"

namespace tokvane {

// Internet date-times (RFC 3339 profile of ISO 8601) as the tools write them:
// "2025-10-01T12:34:56.789Z" or "2025-10-01T14:34:56+02:00".
namespace ISO8601 {

// Tries the form with a fraction of a second first, then the form without.
// A text without a zone designator ("Z" or an offset with a colon) does not
// parse, nor does anything with trailing characters, nor a time whose offset
// puts it outside the years 0000 to 9999 in UTC.
std::optional<Date> parse(std::string_view text);

// UTC text with whole seconds and a trailing "Z"; the fraction is dropped
// (rounded toward the past).
std::string format(Date date);

// Civil-calendar helpers in the proleptic Gregorian calendar (UTC).
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day);
void civilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day);

}  // namespace ISO8601

}  // namespace tokvane
