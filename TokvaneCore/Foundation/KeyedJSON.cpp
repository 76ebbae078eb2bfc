#include "TokvaneCore/Foundation/KeyedJSON.hpp"

#include <cmath>

#include "TokvaneCore/Foundation/ISO8601.hpp"

namespace tokvane::keyed {

namespace {

[[noreturn]] void typeMismatch(std::string_view key, std::string_view expected) {
  throw DecodingError("type mismatch for key \"" + std::string(key) + "\": expected " + std::string(expected));
}

}  // namespace

JSON parse(std::string_view text) {
  try {
    return JSON::parse(text.begin(), text.end());
  } catch (const nlohmann::json::exception& e) {
    throw DecodingError(std::string("The given data was not valid JSON: ") + e.what());
  }
}

JSON encodeDouble(double value) {
  if (!std::isfinite(value)) throw EncodingError("Unable to encode a non-finite number in JSON");
  return JSON(value);
}

JSON encodeDate(Date date, DateCoding coding) {
  if (coding == DateCoding::iso8601) {
    if (!std::isfinite(date.secondsSinceReferenceDate)) throw EncodingError("Unable to encode a non-finite date");
    return JSON(ISO8601::format(date));
  }
  return encodeDouble(date.secondsSinceReferenceDate);
}

void requireObject(const JSON& value, std::string_view what) {
  if (!value.is_object()) typeMismatch(what, "an object");
}

const JSON& required(const JSON& object, std::string_view key) {
  requireObject(object, key);
  const auto it = object.find(key);
  if (it == object.end()) throw DecodingError("key not found: \"" + std::string(key) + "\"");
  if (it->is_null()) throw DecodingError("value not found: \"" + std::string(key) + "\" is null");
  return *it;
}

const JSON* optional(const JSON& object, std::string_view key) {
  requireObject(object, key);
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return nullptr;
  return &*it;
}

std::string decodeString(const JSON& value, std::string_view key) {
  if (!value.is_string()) typeMismatch(key, "a string");
  return value.get<std::string>();
}

double decodeDouble(const JSON& value, std::string_view key) {
  if (!value.is_number()) typeMismatch(key, "a number");
  return value.get<double>();
}

int64_t decodeInt64(const JSON& value, std::string_view key) {
  if (value.is_number_unsigned()) {
    const auto u = value.get<uint64_t>();
    if (u > static_cast<uint64_t>(INT64_MAX)) typeMismatch(key, "a 64-bit integer");
    return static_cast<int64_t>(u);
  }
  if (value.is_number_integer()) return value.get<int64_t>();
  if (value.is_number_float()) {
    const double d = value.get<double>();
    if (std::trunc(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0) {
      return static_cast<int64_t>(d);
    }
  }
  typeMismatch(key, "a 64-bit integer");
}

uint64_t decodeUInt64(const JSON& value, std::string_view key) {
  if (value.is_number_unsigned()) return value.get<uint64_t>();
  if (value.is_number_integer()) {
    const auto i = value.get<int64_t>();
    if (i >= 0) return static_cast<uint64_t>(i);
  }
  if (value.is_number_float()) {
    const double d = value.get<double>();
    if (std::trunc(d) == d && d >= 0 && d < 18446744073709551616.0) return static_cast<uint64_t>(d);
  }
  typeMismatch(key, "an unsigned 64-bit integer");
}

bool decodeBool(const JSON& value, std::string_view key) {
  if (!value.is_boolean()) typeMismatch(key, "a boolean");
  return value.get<bool>();
}

Date decodeDate(const JSON& value, DateCoding coding, std::string_view key) {
  if (coding == DateCoding::iso8601) {
    if (!value.is_string()) typeMismatch(key, "an ISO 8601 date text");
    const auto date = ISO8601::parse(value.get_ref<const std::string&>());
    if (!date) throw DecodingError("data corrupted at \"" + std::string(key) + "\": Expected date string to be ISO8601-formatted.");
    return *date;
  }
  if (!value.is_number()) typeMismatch(key, "a number of seconds");
  return Date{value.get<double>()};
}

std::optional<std::string> optionalString(const JSON& object, std::string_view key) {
  const JSON* value = optional(object, key);
  if (!value) return std::nullopt;
  return decodeString(*value, key);
}

std::optional<double> optionalDouble(const JSON& object, std::string_view key) {
  const JSON* value = optional(object, key);
  if (!value) return std::nullopt;
  return decodeDouble(*value, key);
}

std::optional<Date> optionalDate(const JSON& object, DateCoding coding, std::string_view key) {
  const JSON* value = optional(object, key);
  if (!value) return std::nullopt;
  return decodeDate(*value, coding, key);
}

std::string decodeCaseName(const JSON& value, std::initializer_list<std::string_view> cases, std::string_view what) {
  requireObject(value, what);
  const std::string_view* found = nullptr;
  int count = 0;
  for (const auto& name : cases) {
    if (value.contains(name)) {
      ++count;
      found = &name;
    }
  }
  if (count != 1) throw DecodingError(invalidEnumKeysMessage);
  return std::string(*found);
}

}  // namespace keyed
