#include "TokvaneCore/Pricing/ModelPrice.hpp"

#include "TokvaneCore/Foundation/JSONNumbers.hpp"

namespace tokvane {

using namespace keyed;

namespace {

double decodePrice(const JSON& object, std::string_view key) {
  const double price = decodeDouble(required(object, key), key);
  if (!JSONNumbers::isUsableAmount(price) || price < 0) {
    throw DecodingError("data corrupted at \"" + std::string(key) +
                        "\": a price must be a finite number of at least 0");
  }
  return price;
}

}  // namespace

JSON ModelPrice::toJSON() const {
  JSON json = JSON::object();
  json["input"] = encodeDouble(input);
  json["output"] = encodeDouble(output);
  json["cacheRead"] = encodeDouble(cacheRead);
  json["cacheWrite5m"] = encodeDouble(cacheWrite5m);
  json["cacheWrite1h"] = encodeDouble(cacheWrite1h);
  if (proxyFor) json["proxyFor"] = *proxyFor;
  json["source"] = source;
  json["asOf"] = asOf;
  return json;
}

ModelPrice ModelPrice::fromJSON(const JSON& json) {
  ModelPrice price;
  price.input = decodePrice(json, "input");
  price.output = decodePrice(json, "output");
  price.cacheRead = decodePrice(json, "cacheRead");
  price.cacheWrite5m = decodePrice(json, "cacheWrite5m");
  price.cacheWrite1h = decodePrice(json, "cacheWrite1h");
  price.proxyFor = optionalString(json, "proxyFor");
  price.source = decodeString(required(json, "source"), "source");
  price.asOf = decodeString(required(json, "asOf"), "asOf");
  return price;
}

}  // namespace tokvane
