#include <cmath>

#include "TokvaneCore/Limits/LimitWindow.hpp"

namespace tokvane {

using namespace keyed;

LimitWindow::LimitWindow(std::string id_, std::string label_, double used, std::optional<double> duration_,
                         std::optional<Date> resetsAt_, LimitSource source_)
    : id(std::move(id_)),
      label(std::move(label_)),
      usedFraction(std::isnan(used) ? 0 : std::min(1.0, std::max(0.0, used))),
      duration(duration_),
      resetsAt(resetsAt_),
      source(source_) {}

JSON LimitWindow::toJSON(DateCoding coding) const {
  JSON json = JSON::object();
  json["id"] = id;
  json["label"] = label;
  json["usedFraction"] = encodeDouble(usedFraction);
  if (duration) json["duration"] = encodeDouble(*duration);
  if (resetsAt) json["resetsAt"] = encodeDate(*resetsAt, coding);
  json["source"] = source.toJSON(coding);
  return json;
}

LimitWindow LimitWindow::fromJSON(const JSON& json, DateCoding coding) {
  LimitWindow window;
  window.id = decodeString(required(json, "id"), "id");
  window.label = decodeString(required(json, "label"), "label");
  window.usedFraction = decodeDouble(required(json, "usedFraction"), "usedFraction");
  window.duration = optionalDouble(json, "duration");
  window.resetsAt = optionalDate(json, coding, "resetsAt");
  window.source = LimitSource::fromJSON(required(json, "source"), coding);
  return window;
}

}  // namespace tokvane
