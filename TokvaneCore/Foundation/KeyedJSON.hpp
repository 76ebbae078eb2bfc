#pragma once

#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "TokvaneCore/Foundation/Date.hpp"

namespace tokvane {

// Keyed JSON: records are objects keyed by field name, written in field order.
using JSON = nlohmann::ordered_json;

// Which form dates take in a keyed JSON document. The ledger stores seconds
// since 2001-01-01 (fraction kept); files shared with other processes use
// ISO 8601 texts in UTC with whole seconds.
enum class DateCoding { referenceSeconds, iso8601 };

class DecodingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EncodingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

namespace keyed {

inline constexpr const char* invalidEnumKeysMessage = "Invalid number of keys found, expected one.";

// Parses text as JSON; malformed text throws DecodingError.
JSON parse(std::string_view text);

// Encoding. A non-finite double cannot be written: EncodingError.
JSON encodeDouble(double value);
JSON encodeDate(Date date, DateCoding coding);

// Decoding helpers; every failure throws DecodingError naming the key.
void requireObject(const JSON& value, std::string_view what);
const JSON& required(const JSON& object, std::string_view key);
// The value under `key`, or nullptr when the key is missing or holds null.
const JSON* optional(const JSON& object, std::string_view key);

std::string decodeString(const JSON& value, std::string_view key);
double decodeDouble(const JSON& value, std::string_view key);
int64_t decodeInt64(const JSON& value, std::string_view key);
uint64_t decodeUInt64(const JSON& value, std::string_view key);
bool decodeBool(const JSON& value, std::string_view key);
Date decodeDate(const JSON& value, DateCoding coding, std::string_view key);

std::optional<std::string> optionalString(const JSON& object, std::string_view key);
std::optional<double> optionalDouble(const JSON& object, std::string_view key);
std::optional<Date> optionalDate(const JSON& object, DateCoding coding, std::string_view key);

// An enumeration without raw values is an object naming exactly one case;
// keys that name no case are ignored. Returns the case's name.
std::string decodeCaseName(const JSON& value, std::initializer_list<std::string_view> cases,
                           std::string_view what);

}  // namespace keyed

}  // namespace tokvane
