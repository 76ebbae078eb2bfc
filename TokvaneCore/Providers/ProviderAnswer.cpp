#include "TokvaneCore/Providers/ProviderAnswer.hpp"

#include "TokvaneCore/Foundation/JSONNumbers.hpp"
#include "TokvaneCore/Foundation/TextCase.hpp"

namespace tokvane::ProviderAnswer {

namespace {

// 10000-01-01T00:00:00Z in seconds since 1970.
constexpr double firstUnixSecondAfterYear9999 = 253402300800.0;

}  // namespace

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
  const double unix = date.unixSeconds();
  return unix >= 0 && unix < firstUnixSecondAfterYear9999;
}

std::optional<std::string> planName(const std::optional<std::string>& reported) {
  if (!reported || reported->empty()) return std::nullopt;
  return capitalizingFirstLetter(*reported);
}

}  // namespace tokvane::ProviderAnswer
