#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

#include "Tokvane/Engine/Settings/UserDefaults.hpp"
#include "TokvaneCore/Foundation/KeyedJSON.hpp"

namespace tokvane {

// User defaults kept in one JSON file, by default
// ${XDG_CONFIG_HOME:-~/.config}/app.tokvane/defaults.json, rewritten
// atomically on every set. Values: true/false, numbers, texts, arrays of
// texts, objects of texts, and dates as {"$date": seconds since 2001}.
// Entries of any other shape are kept in the file untouched but read as
// missing. A value that is not valid JSON (a number beyond range) reads as
// missing, is logged, and is dropped at the next write; every other value
// is kept. A file that does not parse as an object at all is moved aside
// (".corrupt") so that nothing the user had is overwritten.
class JSONFileUserDefaults final : public UserDefaults {
 public:
  using Log = std::function<void(std::string_view)>;
  explicit JSONFileUserDefaults(std::filesystem::path file, Log log = {});

  static std::filesystem::path defaultFile();
  const std::filesystem::path& file() const { return file_; }

 protected:
  void persist(const std::map<std::string, DefaultsValue>& values) override;

 private:
  std::filesystem::path file_;
  Log log_;
  std::map<std::string, JSON> opaque_;
};

}  // namespace tokvane
