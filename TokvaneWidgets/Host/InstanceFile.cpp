#include "TokvaneWidgets/Host/InstanceFile.hpp"

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <system_error>

#include "TokvaneCore/Foundation/AtomicFile.hpp"
#include "TokvaneCore/Foundation/KeyedJSON.hpp"
#include "TokvaneCore/Foundation/XDGPaths.hpp"

namespace tokvane::widgets::InstanceFile {

namespace {

// A whole number that fits a screen coordinate.
bool readCoordinate(const JSON& value, int& out) {
  if (!value.is_number()) return false;
  const double number = value.get<double>();
  if (!std::isfinite(number) || number != std::floor(number) || std::fabs(number) > 1'000'000) return false;
  out = static_cast<int>(number);
  return true;
}

ReadResult damaged(std::string why) {
  ReadResult result;
  result.damaged = true;
  result.problems.push_back(std::move(why));
  return result;
}

}  // namespace

ReadResult parse(std::string_view text) {
  const JSON root = JSON::parse(text.begin(), text.end(), nullptr, false);
  if (root.is_discarded()) return damaged("not valid JSON");
  if (!root.is_object()) return damaged("not a JSON object");
  const auto list = root.find("widgets");
  if (list == root.end() || !list->is_array()) return damaged("no \"widgets\" list");

  ReadResult result;
  size_t index = 0;
  for (const auto& item : *list) {
    const std::string where = "widget " + std::to_string(index++);
    if (!item.is_object()) return damaged(where + " is not an object");
    const auto kind = item.find("kind");
    if (kind == item.end() || !kind->is_string()) return damaged(where + " has no kind");
    WidgetInstance instance;
    const auto x = item.find("x");
    const auto y = item.find("y");
    if (x == item.end() || y == item.end() || !readCoordinate(*x, instance.x) || !readCoordinate(*y, instance.y)) {
      return damaged(where + " has no position");
    }
    const auto parsedKind = widgetKindFromIdentifier(kind->get<std::string>());
    if (!parsedKind) {
      result.problems.push_back(where + " of unknown kind \"" + kind->get<std::string>() + "\" skipped");
      continue;
    }
    instance.kind = *parsedKind;
    const auto provider = item.find("provider");
    if (provider != item.end()) {
      const auto parsed = provider->is_string() ? providerFromRawValue(provider->get<std::string>()) : std::nullopt;
      if (parsed) {
        instance.provider = *parsed;
      } else {
        result.problems.push_back(where + " has an unknown provider; showing Claude");
      }
    }
    result.instances.push_back(instance);
  }
  return result;
}

std::string serialize(const std::vector<WidgetInstance>& instances) {
  JSON list = JSON::array();
  for (const auto& instance : instances) {
    JSON item = JSON::object();
    item["kind"] = std::string(info(instance.kind).identifier);
    item["x"] = instance.x;
    item["y"] = instance.y;
    if (instance.kind == WidgetKind::small) item["provider"] = std::string(rawValue(instance.provider));
    list.push_back(std::move(item));
  }
  JSON root = JSON::object();
  root["widgets"] = std::move(list);
  return root.dump(2) + "\n";
}

std::filesystem::path defaultPath() { return XDGPaths::configHome() / "app.tokvane" / fileName; }

ReadResult read(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return {};
  if (!std::filesystem::is_regular_file(path, error)) return damaged("not a regular file");
  if (std::filesystem::file_size(path, error) > (1u << 20) || error) return damaged("too large or unreadable");
  std::ifstream file(path, std::ios::binary);
  if (!file) return damaged("cannot be read");
  std::ostringstream text;
  text << file.rdbuf();
  return parse(text.str());
}

void write(const std::filesystem::path& path, const std::vector<WidgetInstance>& instances) {
  AtomicFile::write(path, serialize(instances));
}

}  // namespace tokvane::widgets::InstanceFile
