#include "TokvaneCore/Pricing/CostBreakdown.hpp"

namespace tokvane {

using namespace keyed;

double CostBreakdown::total() const { return input + cacheRead + cacheWrite + output + other; }

JSON CostBreakdown::toJSON() const {
  JSON json = JSON::object();
  json["input"] = encodeDouble(input);
  json["cacheRead"] = encodeDouble(cacheRead);
  json["cacheWrite"] = encodeDouble(cacheWrite);
  json["output"] = encodeDouble(output);
  json["other"] = encodeDouble(other);
  return json;
}

CostBreakdown CostBreakdown::fromJSON(const JSON& json) {
  CostBreakdown breakdown;
  breakdown.input = decodeDouble(required(json, "input"), "input");
  breakdown.cacheRead = decodeDouble(required(json, "cacheRead"), "cacheRead");
  breakdown.cacheWrite = decodeDouble(required(json, "cacheWrite"), "cacheWrite");
  breakdown.output = decodeDouble(required(json, "output"), "output");
  breakdown.other = decodeDouble(required(json, "other"), "other");
  return breakdown;
}

}  // namespace tokvane
