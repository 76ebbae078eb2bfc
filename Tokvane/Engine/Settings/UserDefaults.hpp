#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "TokvaneCore/Foundation/Date.hpp"

namespace tokvane {

// One stored preference value.
using DefaultsValue = std::variant<bool, double, std::string, std::vector<std::string>,
                                   std::map<std::string, std::string>, Date>;

// The application's settings store: plain keys to typed values. Registered
// defaults live in memory only and answer for keys that were never set.
class UserDefaults {
 public:
  virtual ~UserDefaults() = default;

  // The stored value, else the registered default, else none.
  std::optional<DefaultsValue> object(const std::string& key) const;
  // Stores the value and writes the store at once.
  void set(const std::string& key, DefaultsValue value);
  void remove(const std::string& key);
  void registerDefaults(const std::map<std::string, DefaultsValue>& defaults);

  // Typed readers with the usual conversions: a bool reads numbers as
  // non-zero and the texts "YES"/"true"/"1"; a double reads a bool as 1/0 and
  // a numeric text as its number; anything else reads as false / 0 / none.
  bool boolValue(const std::string& key) const;
  double doubleValue(const std::string& key) const;
  std::optional<std::string> stringValue(const std::string& key) const;
  std::optional<Date> dateValue(const std::string& key) const;

 protected:
  // Loads and saves the persistent values; called with the lock held.
  virtual void persist(const std::map<std::string, DefaultsValue>& values) = 0;
  void replaceAll(std::map<std::string, DefaultsValue> values);

 private:
  mutable std::mutex mutex_;
  std::map<std::string, DefaultsValue> values_;
  std::map<std::string, DefaultsValue> registered_;
};

// A store that keeps everything in memory (tests, and the fallback when no
// settings file can be written).
class InMemoryUserDefaults final : public UserDefaults {
 public:
  int writes() const { return writes_; }

 protected:
  void persist(const std::map<std::string, DefaultsValue>&) override { ++writes_; }

 private:
  int writes_ = 0;
};

}  // namespace tokvane
