#include "TokvaneCore/Usage/TokenCounts.hpp"

#include "TokvaneCore/Foundation/Saturating.hpp"

namespace tokvane {

int64_t TokenCounts::cacheWrite() const { return saturating::add(cacheWrite5m, cacheWrite1h); }

int64_t TokenCounts::processed() const {
  int64_t sum = saturating::add(uncachedInput, cacheRead);
  sum = saturating::add(sum, cacheWrite5m);
  sum = saturating::add(sum, cacheWrite1h);
  return saturating::add(sum, output);
}

TokenCounts TokenCounts::operator+(const TokenCounts& other) const {
  TokenCounts sum = *this;
  sum += other;
  return sum;
}

TokenCounts& TokenCounts::operator+=(const TokenCounts& other) {
  uncachedInput = saturating::add(uncachedInput, other.uncachedInput);
  cacheRead = saturating::add(cacheRead, other.cacheRead);
  cacheWrite5m = saturating::add(cacheWrite5m, other.cacheWrite5m);
  cacheWrite1h = saturating::add(cacheWrite1h, other.cacheWrite1h);
  output = saturating::add(output, other.output);
  reasoning = saturating::add(reasoning, other.reasoning);
  return *this;
}

JSON TokenCounts::toJSON() const {
  JSON json = JSON::object();
  json["uncachedInput"] = uncachedInput;
  json["cacheRead"] = cacheRead;
  json["cacheWrite5m"] = cacheWrite5m;
  json["cacheWrite1h"] = cacheWrite1h;
  json["output"] = output;
  json["reasoning"] = reasoning;
  return json;
}

TokenCounts TokenCounts::fromJSON(const JSON& json) {
  using namespace keyed;
  TokenCounts counts;
  counts.uncachedInput = decodeInt64(required(json, "uncachedInput"), "uncachedInput");
  counts.cacheRead = decodeInt64(required(json, "cacheRead"), "cacheRead");
  counts.cacheWrite5m = decodeInt64(required(json, "cacheWrite5m"), "cacheWrite5m");
  counts.cacheWrite1h = decodeInt64(required(json, "cacheWrite1h"), "cacheWrite1h");
  counts.output = decodeInt64(required(json, "output"), "output");
  counts.reasoning = decodeInt64(required(json, "reasoning"), "reasoning");
  return counts;
}

}  // namespace tokvane
