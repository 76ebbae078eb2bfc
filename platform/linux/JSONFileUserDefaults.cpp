#include "platform/linux/JSONFileUserDefaults.hpp"

#include <fstream>
#include <sstream>

#include "TokvaneCore/Foundation/AtomicFile.hpp"
#include "TokvaneCore/Foundation/XDGPaths.hpp"

namespace tokvane {

namespace {

std::optional<DefaultsValue> decode(const JSON& value) {
  if (value.is_boolean()) return DefaultsValue(value.get<bool>());
  if (value.is_number()) return DefaultsValue(value.get<double>());
  if (value.is_string()) return DefaultsValue(value.get<std::string>());
  if (value.is_array()) {
    std::vector<std::string> list;
    for (const auto& item : value) {
      if (!item.is_string()) return std::nullopt;
      list.push_back(item.get<std::string>());
    }
    return DefaultsValue(std::move(list));
  }
  if (value.is_object()) {
    if (value.size() == 1 && value.contains("$date") && value["$date"].is_number()) {
      return DefaultsValue(Date{value["$date"].get<double>()});
    }
    std::map<std::string, std::string> map;
    for (const auto& [key, item] : value.items()) {
      if (!item.is_string()) return std::nullopt;
      map[key] = item.get<std::string>();
    }
    return DefaultsValue(std::move(map));
  }
  return std::nullopt;
}

JSON encode(const DefaultsValue& value) {
  return std::visit(
      [](const auto& v) -> JSON {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Date>) {
          return JSON{{"$date", std::isfinite(v.secondsSinceReferenceDate) ? v.secondsSinceReferenceDate : 0.0}};
        } else if constexpr (std::is_same_v<T, double>) {
          return std::isfinite(v) ? JSON(v) : JSON(0.0);
        } else if constexpr (std::is_same_v<T, std::map<std::string, std::string>>) {
          JSON object = JSON::object();
          for (const auto& [key, item] : v) object[key] = item;
          return object;
        } else {
          return JSON(v);
        }
      },
      value);
}

}  // namespace

std::filesystem::path JSONFileUserDefaults::defaultFile() {
  return XDGPaths::configHome() / "app.tokvane" / "defaults.json";
}

JSONFileUserDefaults::JSONFileUserDefaults(std::filesystem::path file, Log log)
    : file_(std::move(file)), log_(std::move(log)) {
  std::ifstream in(file_, std::ios::binary);
  if (!in) return;
  std::stringstream text;
  text << in.rdbuf();
  std::map<std::string, DefaultsValue> values;
  try {
    const JSON root = JSON::parse(text.str());
    if (!root.is_object()) throw DecodingError("the settings file does not hold an object");
    for (const auto& [key, item] : root.items()) {
      if (auto value = decode(item)) {
        values[key] = std::move(*value);
      } else {
        opaque_[key] = item;
      }
    }
  } catch (const std::exception& error) {
    std::error_code ignored;
    std::filesystem::rename(file_, file_.string() + ".corrupt", ignored);
    if (log_) log_(std::string("Tokvane: reading the settings failed: ") + error.what());
    return;
  }
  replaceAll(std::move(values));
}

void JSONFileUserDefaults::persist(const std::map<std::string, DefaultsValue>& values) {
  JSON root = JSON::object();
  for (const auto& [key, item] : opaque_) {
    if (!values.count(key)) root[key] = item;
  }
  for (const auto& [key, value] : values) root[key] = encode(value);
  try {
    AtomicFile::write(file_, root.dump(2));
  } catch (const std::exception& error) {
    if (log_) log_(std::string("Tokvane: writing the settings failed: ") + error.what());
  }
}

}  // namespace tokvane
