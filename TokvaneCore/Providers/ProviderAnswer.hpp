#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Foundation/KeyedJSON.hpp"

// Reading what the providers' usage endpoints and the tools' login files say.
// Such documents come from outside: a number beyond range must not make a
// whole answer unreadable, and values no sane answer holds count as absent.
namespace tokvane::ProviderAnswer {

// Parses a document as JSON after rewriting numbers a strict parser rejects
// (1e400, 30-digit integers). Throws DecodingError.
JSON parse(std::string_view text);

// The number under `key`: none when missing or null, or when it is not a
// usable amount (beyond range); a value that is not a number throws
// DecodingError.
std::optional<double> optionalNumber(const JSON& object, std::string_view key);

// The object under `key`, or nullptr when missing or null; a value that is
// not an object throws DecodingError.
const JSON* optionalObject(const JSON& object, std::string_view key);

// Whether a date from an answer lies within 1970-01-01 ... 9999-12-31 (UTC).
bool isPlausibleDate(Date date);

// The plan as shown: first letter upper-cased; none for an absent or empty text.
std::optional<std::string> planName(const std::optional<std::string>& reported);

}  // namespace tokvane::ProviderAnswer
