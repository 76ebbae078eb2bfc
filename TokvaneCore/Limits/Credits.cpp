#include "TokvaneCore/Limits/Credits.hpp"

namespace tokvane {

using namespace keyed;

JSON Credits::toJSON() const {
  JSON json = JSON::object();
  json["label"] = label;
  if (balanceUSD) json["balanceUSD"] = encodeDouble(*balanceUSD);
  if (spentUSD) json["spentUSD"] = encodeDouble(*spentUSD);
  if (limitUSD) json["limitUSD"] = encodeDouble(*limitUSD);
  json["unlimited"] = unlimited;
  return json;
}

Credits Credits::fromJSON(const JSON& json) {
  Credits credits;
  credits.label = decodeString(required(json, "label"), "label");
  credits.balanceUSD = optionalDouble(json, "balanceUSD");
  credits.spentUSD = optionalDouble(json, "spentUSD");
  credits.limitUSD = optionalDouble(json, "limitUSD");
  credits.unlimited = decodeBool(required(json, "unlimited"), "unlimited");
  return credits;
}

}  // namespace tokvane
