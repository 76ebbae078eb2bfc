#include "platform/linux/JSONFileUserDefaults.hpp"

#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

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

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The end of the string token that starts at `at` (just past its closing
// quote), or npos when it does not end.
size_t stringEnd(std::string_view text, size_t at) {
  for (size_t i = at + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i + 1;
    }
  }
  return std::string_view::npos;
}

// The end of the value token that starts at `at`: a string, an object or an
// array up to its matching bracket, anything else up to the next separator.
// npos when it does not end.
size_t valueEnd(std::string_view text, size_t at) {
  if (at >= text.size()) return std::string_view::npos;
  if (text[at] == '"') return stringEnd(text, at);
  if (text[at] != '{' && text[at] != '[') {
    size_t i = at;
    while (i < text.size() && !isSpace(text[i]) && text[i] != ',' && text[i] != '}' && text[i] != ']') ++i;
    return i == at ? std::string_view::npos : i;
  }
  int depth = 0;
  for (size_t i = at; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      i = stringEnd(text, i);
      if (i == std::string_view::npos) return i;
      --i;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (--depth == 0) return i + 1;
    }
  }
  return std::string_view::npos;
}

// The members of a top-level object whose layout is sound although some of
// its values are not valid JSON (a number beyond range, for instance): each
// key with its value, or none for a value that does not parse. None at all
// when the text is not such an object (cut short, not an object, a key that
// does not parse).
std::optional<std::vector<std::pair<std::string, std::optional<JSON>>>> readMembers(std::string_view text) {
  std::vector<std::pair<std::string, std::optional<JSON>>> members;
  size_t i = 0;
  const auto skipSpace = [&] {
    while (i < text.size() && isSpace(text[i])) ++i;
  };
  skipSpace();
  if (i >= text.size() || text[i] != '{') return std::nullopt;
  ++i;
  skipSpace();
  if (i < text.size() && text[i] == '}') {
    ++i;
  } else {
    for (;;) {
      skipSpace();
      if (i >= text.size() || text[i] != '"') return std::nullopt;
      const size_t keyEnd = stringEnd(text, i);
      if (keyEnd == std::string_view::npos) return std::nullopt;
      std::string key;
      try {
        key = JSON::parse(text.substr(i, keyEnd - i)).get<std::string>();
      } catch (const std::exception&) {
        return std::nullopt;
      }
      i = keyEnd;
      skipSpace();
      if (i >= text.size() || text[i] != ':') return std::nullopt;
      ++i;
      skipSpace();
      const size_t end = valueEnd(text, i);
      if (end == std::string_view::npos) return std::nullopt;
      std::optional<JSON> value;
      try {
        value = JSON::parse(text.substr(i, end - i));
      } catch (const std::exception&) {
        value.reset();
      }
      members.emplace_back(std::move(key), std::move(value));
      i = end;
      skipSpace();
      if (i < text.size() && text[i] == ',') {
        ++i;
        continue;
      }
      if (i < text.size() && text[i] == '}') {
        ++i;
        break;
      }
      return std::nullopt;
    }
  }
  skipSpace();
  if (i != text.size()) return std::nullopt;
  return members;
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
  const auto take = [&](const std::string& key, const JSON& item) {
    if (auto value = decode(item)) {
      values[key] = std::move(*value);
    } else {
      opaque_[key] = item;
    }
  };
  const std::string content = text.str();
  try {
    const JSON root = JSON::parse(content);
    if (!root.is_object()) throw DecodingError("the settings file does not hold an object");
    for (const auto& [key, item] : root.items()) take(key, item);
  } catch (const std::exception& error) {
    // One value that is not valid JSON (1e309) must not cost the others:
    // when the file is otherwise a sound object, every value that reads is
    // kept and only the bad ones fall back to their defaults.
    const auto members = readMembers(content);
    if (!members) {
      std::error_code ignored;
      std::filesystem::rename(file_, file_.string() + ".corrupt", ignored);
      if (log_) log_(std::string("Tokvane: reading the settings failed: ") + error.what());
      return;
    }
    values.clear();
    opaque_.clear();
    for (const auto& [key, item] : *members) {
      if (item) {
        take(key, *item);
      } else if (log_) {
        log_("Tokvane: reading the setting \"" + key + "\" failed; using its default");
      }
    }
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
