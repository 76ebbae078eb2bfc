#include "TokvaneCore/Providers/ProviderAnswer.hpp"

#include "TokvaneCore/Foundation/JSONNumbers.hpp"
#include "TokvaneCore/Foundation/TextCase.hpp"

namespace tokvane::ProviderAnswer {

JSON parse(std::string_view text) {
  if (auto rewritten = JSONNumbers::clampOverflowingNumbers(text)) return keyed::parse(*rewritten);
  return keyed::parse(text);
}

std::optional<double> optionalNumber(const JSON& object, std::string_view key) {
  const auto value = keyed::optionalDouble(object, key);
  if (!value || !JSONNumbers::isUsableAmount(*value)) return std::nullopt;
  return value;
}

const JSON* optionalObject(const JSON& object, std::string_view key) {
  const JSON* value = keyed::optional(object, key);
  if (value) keyed::requireObject(*value, key);
  return value;
}

bool isPlausibleDate(Date date) {
  return Date::isPlausibleUnixTime(date.unixSeconds());
}

std::optional<std::string> planName(const std::optional<std::string>& reported) {
  if (!reported || reported->empty()) return std::nullopt;
  return capitalizingFirstLetter(*reported);
}

}  // namespace tokvane::ProviderAnswer
