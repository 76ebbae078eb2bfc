#include "TokvaneCore/Limits/LimitSource.hpp"

namespace tokvane {

using namespace keyed;

JSON LimitSource::toJSON(DateCoding coding) const {
  JSON json = JSON::object();
  switch (kind) {
    case Kind::live:
      json["live"] = JSON::object();
      break;
    case Kind::local:
      json["local"] = JSON{{"asOf", encodeDate(asOf, coding)}};
      break;
    case Kind::stale:
      json["stale"] = JSON{{"asOf", encodeDate(asOf, coding)}};
      break;
  }
  return json;
}

LimitSource LimitSource::fromJSON(const JSON& json, DateCoding coding) {
  const std::string name = decodeCaseName(json, {"live", "local", "stale"}, "source");
  const JSON& values = json.at(name);
  requireObject(values, name);
  if (name == "live") return live();
  const Date asOf = decodeDate(required(values, "asOf"), coding, "asOf");
  return name == "local" ? local(asOf) : stale(asOf);
}

}  // namespace tokvane
