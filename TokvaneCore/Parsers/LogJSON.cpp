#include "TokvaneCore/Parsers/LogJSON.hpp"

#include <cstring>

#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Foundation/JSONNumbers.hpp"
#include "TokvaneCore/Foundation/JSONStrings.hpp"
#include "TokvaneCore/Foundation/Saturating.hpp"

namespace tokvane::logjson {

namespace {

std::optional<Element> field(Element object, std::string_view key) {
  Element value;
  if (object.at_key(key).get(value) != simdjson::SUCCESS) return std::nullopt;
  return value;
}

}  // namespace

std::optional<Element> LineParser::parse(std::string_view text, bool padded) {
  Element root;
  simdjson::error_code error;
  if (padded) {
    error = parser_.parse(text.data(), text.size(), false).get(root);
  } else {
    scratch_.resize(text.size() + simdjson::SIMDJSON_PADDING);
    if (!text.empty()) std::memcpy(scratch_.data(), text.data(), text.size());
    std::memset(scratch_.data() + text.size(), 0, simdjson::SIMDJSON_PADDING);
    error = parser_.parse(scratch_.data(), text.size(), false).get(root);
  }
  if (error == simdjson::SUCCESS) return root;
  // Only a line that failed takes the slower road: its numbers beyond range
  // clamped, its lone surrogates and invalid UTF-8 replaced, as each failure
  // asks, and parsed again.
  std::optional<std::string> repaired;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::string_view current = repaired ? std::string_view(*repaired) : text;
    std::optional<std::string> next;
    if (error == simdjson::NUMBER_ERROR || error == simdjson::NUMBER_OUT_OF_RANGE) {
      next = JSONNumbers::clampOverflowingNumbers(current);
    } else if (error == simdjson::STRING_ERROR || error == simdjson::UTF8_ERROR) {
      next = JSONStrings::withInvalidTextReplaced(current);
    }
    if (!next) return std::nullopt;
    repaired = std::move(next);
    scratch_.assign(repaired->begin(), repaired->end());
    const size_t length = scratch_.size();
    scratch_.resize(length + simdjson::SIMDJSON_PADDING, '\0');
    error = parser_.parse(scratch_.data(), length, false).get(root);
    if (error == simdjson::SUCCESS) return root;
  }
  return std::nullopt;
}

LineParser& threadParser() {
  thread_local LineParser parser;
  return parser;
}

int64_t count(Element object, std::string_view key) {
  const auto value = field(object, key);
  if (!value) return 0;
  int64_t result = 0;
  switch (value->type()) {
    case simdjson::dom::element_type::INT64:
      result = value->get_int64().value_unsafe();
      break;
    case simdjson::dom::element_type::UINT64:
      result = saturating::fromUnsigned(value->get_uint64().value_unsafe());
      break;
    case simdjson::dom::element_type::DOUBLE:
      result = saturating::fromDouble(value->get_double().value_unsafe());
      break;
    case simdjson::dom::element_type::BOOL:
      result = value->get_bool().value_unsafe() ? 1 : 0;
      break;
    default:
      return 0;
  }
  return result < 0 ? 0 : result;
}

std::optional<double> number(Element object, std::string_view key) {
  const auto value = field(object, key);
  if (!value) return std::nullopt;
  switch (value->type()) {
    case simdjson::dom::element_type::INT64:
      return static_cast<double>(value->get_int64().value_unsafe());
    case simdjson::dom::element_type::UINT64:
      return static_cast<double>(value->get_uint64().value_unsafe());
    case simdjson::dom::element_type::DOUBLE:
      return value->get_double().value_unsafe();
    default:
      return std::nullopt;
  }
}

std::optional<double> amount(Element object, std::string_view key) {
  const auto value = number(object, key);
  if (!value || !JSONNumbers::isUsableAmount(*value)) return std::nullopt;
  return value;
}

std::optional<std::string_view> string(Element object, std::string_view key) {
  const auto value = field(object, key);
  std::string_view text;
  if (!value || value->get_string().get(text) != simdjson::SUCCESS) return std::nullopt;
  return text;
}

std::optional<Element> object(Element parent, std::string_view key) {
  const auto value = field(parent, key);
  if (!value || !value->is_object()) return std::nullopt;
  return value;
}

bool flag(Element object, std::string_view key) {
  const auto value = field(object, key);
  if (!value) return false;
  switch (value->type()) {
    case simdjson::dom::element_type::BOOL:
      return value->get_bool().value_unsafe();
    case simdjson::dom::element_type::INT64:
      return value->get_int64().value_unsafe() == 1;
    case simdjson::dom::element_type::UINT64:
      return value->get_uint64().value_unsafe() == 1;
    case simdjson::dom::element_type::DOUBLE:
      return value->get_double().value_unsafe() == 1.0;
    default:
      return false;
  }
}

std::optional<Date> timestamp(Element object, std::string_view key) {
  const auto text = string(object, key);
  if (!text) return std::nullopt;
  return ISO8601::parse(*text);
}

}  // namespace tokvane::logjson
