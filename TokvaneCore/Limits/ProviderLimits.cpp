#include "TokvaneCore/Limits/ProviderLimits.hpp"

namespace tokvane {

using namespace keyed;

ProviderLimits ProviderLimits::markedStale() const {
  ProviderLimits copy = *this;
  for (auto& window : copy.windows) {
    if (!window.source.isStale()) window.source = LimitSource::stale(fetchedAt);
  }
  return copy;
}

JSON ProviderLimits::toJSON(DateCoding coding) const {
  JSON json = JSON::object();
  if (plan) json["plan"] = *plan;
  JSON list = JSON::array();
  for (const auto& window : windows) list.push_back(window.toJSON(coding));
  json["windows"] = std::move(list);
  if (credits) json["credits"] = credits->toJSON();
  json["status"] = tokvane::toJSON(status);
  json["fetchedAt"] = encodeDate(fetchedAt, coding);
  return json;
}

ProviderLimits ProviderLimits::fromJSON(const JSON& json, DateCoding coding) {
  ProviderLimits limits;
  limits.plan = optionalString(json, "plan");
  const JSON& windows = required(json, "windows");
  if (!windows.is_array()) throw DecodingError("type mismatch for key \"windows\": expected an array");
  for (const auto& window : windows) limits.windows.push_back(LimitWindow::fromJSON(window, coding));
  if (const JSON* credits = optional(json, "credits")) limits.credits = Credits::fromJSON(*credits);
  limits.status = providerStatusFromJSON(required(json, "status"));
  limits.fetchedAt = decodeDate(required(json, "fetchedAt"), coding, "fetchedAt");
  return limits;
}

}  // namespace tokvane
