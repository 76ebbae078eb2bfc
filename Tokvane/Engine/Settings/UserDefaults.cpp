#include "Tokvane/Engine/Settings/UserDefaults.hpp"

#include <charconv>

namespace tokvane {

std::optional<DefaultsValue> UserDefaults::object(const std::string& key) const {
  std::lock_guard lock(mutex_);
  if (auto it = values_.find(key); it != values_.end()) return it->second;
  if (auto it = registered_.find(key); it != registered_.end()) return it->second;
  return std::nullopt;
}

void UserDefaults::set(const std::string& key, DefaultsValue value) {
  std::lock_guard lock(mutex_);
  values_[key] = std::move(value);
  persist(values_);
}

void UserDefaults::remove(const std::string& key) {
  std::lock_guard lock(mutex_);
  values_.erase(key);
  persist(values_);
}

void UserDefaults::registerDefaults(const std::map<std::string, DefaultsValue>& defaults) {
  std::lock_guard lock(mutex_);
  for (const auto& [key, value] : defaults) registered_[key] = value;
}

void UserDefaults::replaceAll(std::map<std::string, DefaultsValue> values) {
  std::lock_guard lock(mutex_);
  values_ = std::move(values);
}

bool UserDefaults::boolValue(const std::string& key) const {
  const auto value = object(key);
  if (!value) return false;
  if (const bool* b = std::get_if<bool>(&*value)) return *b;
  if (const double* d = std::get_if<double>(&*value)) return *d != 0;
  if (const std::string* s = std::get_if<std::string>(&*value)) {
    return *s == "YES" || *s == "yes" || *s == "true" || *s == "TRUE" || *s == "1";
  }
  return false;
}

double UserDefaults::doubleValue(const std::string& key) const {
  const auto value = object(key);
  if (!value) return 0;
  if (const double* d = std::get_if<double>(&*value)) return *d;
  if (const bool* b = std::get_if<bool>(&*value)) return *b ? 1 : 0;
  if (const std::string* s = std::get_if<std::string>(&*value)) {
    double parsed = 0;
    const auto result = std::from_chars(s->data(), s->data() + s->size(), parsed);
    if (result.ec == std::errc() && result.ptr == s->data() + s->size()) return parsed;
  }
  return 0;
}

std::optional<std::string> UserDefaults::stringValue(const std::string& key) const {
  const auto value = object(key);
  if (!value) return std::nullopt;
  if (const std::string* s = std::get_if<std::string>(&*value)) return *s;
  return std::nullopt;
}

std::optional<Date> UserDefaults::dateValue(const std::string& key) const {
  const auto value = object(key);
  if (!value) return std::nullopt;
  if (const Date* d = std::get_if<Date>(&*value)) return *d;
  return std::nullopt;
}

}  // namespace tokvane
