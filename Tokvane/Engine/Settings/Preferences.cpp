#include "Tokvane/Engine/Settings/Preferences.hpp"

#include <algorithm>
#include <cmath>

namespace tokvane {

namespace {

constexpr const char* kShowDockIcon = "showDockIcon";
constexpr const char* kHasCompletedOnboarding = "hasCompletedOnboarding";
constexpr const char* kMenuBarStyle = "menuBarStyle";
constexpr const char* kPinnedProvider = "pinnedProvider";
constexpr const char* kShowResetTime = "showResetTime";
constexpr const char* kMenuBarWindows = "menuBarWindows";
constexpr const char* kWarningThreshold = "warningThreshold";
constexpr const char* kCriticalThreshold = "criticalThreshold";
constexpr const char* kTintEnabled = "tintEnabled";
constexpr const char* kProviderOrder = "providerOrder";
constexpr const char* kDisabledProviders = "disabledProviders";
constexpr const char* kClaudeLiveLimits = "claudeLiveLimits";
constexpr const char* kSummaryUnit = "summaryUnit";
constexpr const char* kPopoverTab = "popoverTab";

// A stored array of texts; anything else counts as missing.
std::optional<std::vector<std::string>> textList(const UserDefaults& defaults, const std::string& key) {
  const auto value = defaults.object(key);
  if (!value) return std::nullopt;
  if (const auto* list = std::get_if<std::vector<std::string>>(&*value)) return *list;
  return std::nullopt;
}

std::vector<ProviderID> providersNamed(const std::vector<std::string>& texts) {
  std::vector<ProviderID> providers;
  for (const auto& text : texts) {
    if (auto id = providerFromRawValue(text)) providers.push_back(*id);
  }
  return providers;
}

// A stored threshold; one that does not read as a finite number reads as 0,
// like any other value that is not numeric.
double storedFraction(const UserDefaults& defaults, const std::string& key) {
  const double value = defaults.doubleValue(key);
  return std::isfinite(value) ? value : 0;
}

}  // namespace

Preferences::Preferences(UserDefaults& defaults) : defaults_(defaults) {
  defaults_.registerDefaults({
      {kShowDockIcon, false},
      {kHasCompletedOnboarding, false},
      {kShowResetTime, true},
      {kWarningThreshold, 0.25},
      {kCriticalThreshold, 0.1},
      {kTintEnabled, true},
      {kClaudeLiveLimits, true},
  });

  showDockIcon_ = defaults_.boolValue(kShowDockIcon);
  hasCompletedOnboarding_ = defaults_.boolValue(kHasCompletedOnboarding);
  menuBarStyle_ = defaults_.stringValue(kMenuBarStyle) == "icon" ? MenuBarStyle::icon : MenuBarStyle::provider;
  pinnedProvider_ = ProviderID::claude;
  if (const auto text = defaults_.stringValue(kPinnedProvider)) {
    pinnedProvider_ = providerFromRawValue(*text).value_or(ProviderID::claude);
  }
  showResetTime_ = defaults_.boolValue(kShowResetTime);
  if (const auto value = defaults_.object(kMenuBarWindows)) {
    if (const auto* windows = std::get_if<std::map<std::string, std::string>>(&*value)) menuBarWindows_ = *windows;
  }
  warningThreshold_ = std::max(storedFraction(defaults_, kWarningThreshold), minimumWarning);
  criticalThreshold_ = std::min(std::max(storedFraction(defaults_, kCriticalThreshold), minimumCritical),
                                warningThreshold_ - thresholdGap);
  tintEnabled_ = defaults_.boolValue(kTintEnabled);
  providerOrder_ = cleanedOrder(providersNamed(textList(defaults_, kProviderOrder).value_or(std::vector<std::string>{})));
  if (const auto names = textList(defaults_, kDisabledProviders)) {
    for (ProviderID id : providersNamed(*names)) disabledProviders_.insert(id);
  }
  claudeLiveLimits_ = defaults_.boolValue(kClaudeLiveLimits);
  summaryUnit_ = defaults_.stringValue(kSummaryUnit) == "tokens" ? SummaryUnit::tokens : SummaryUnit::cost;
  popoverTab_ = PopoverTab::usage;
  if (const auto text = defaults_.stringValue(kPopoverTab)) {
    popoverTab_ = popoverTabFromRawValue(*text).value_or(PopoverTab::usage);
  }
}

template <typename T>
void Preferences::update(T& field, T value, Property property, const std::function<void()>& write) {
  const bool changed = !(field == value);
  field = std::move(value);
  write();
  if (changed) observers_.notify(property);
}

void Preferences::writeBool(std::string_view key, bool value) { defaults_.set(std::string(key), value); }

void Preferences::setShowDockIcon(bool value) {
  update(showDockIcon_, value, Property::showDockIcon, [&] { writeBool(kShowDockIcon, value); });
}

void Preferences::setHasCompletedOnboarding(bool value) {
  update(hasCompletedOnboarding_, value, Property::hasCompletedOnboarding,
         [&] { writeBool(kHasCompletedOnboarding, value); });
}

void Preferences::setMenuBarStyle(MenuBarStyle value) {
  update(menuBarStyle_, value, Property::menuBarStyle,
         [&] { defaults_.set(kMenuBarStyle, std::string(rawValue(value))); });
}

void Preferences::setPinnedProvider(ProviderID value) {
  update(pinnedProvider_, value, Property::pinnedProvider,
         [&] { defaults_.set(kPinnedProvider, std::string(rawValue(value))); });
}

void Preferences::setShowResetTime(bool value) {
  update(showResetTime_, value, Property::showResetTime, [&] { writeBool(kShowResetTime, value); });
}

void Preferences::setMenuBarWindows(std::map<std::string, std::string> value) {
  update(menuBarWindows_, std::move(value), Property::menuBarWindows,
         [&] { defaults_.set(kMenuBarWindows, menuBarWindows_); });
}

std::optional<std::string> Preferences::menuBarWindow(ProviderID provider) const {
  if (auto it = menuBarWindows_.find(std::string(rawValue(provider))); it != menuBarWindows_.end()) return it->second;
  return std::nullopt;
}

void Preferences::setMenuBarWindow(std::optional<std::string> windowID, ProviderID provider) {
  const std::string key(rawValue(provider));
  if (windowID) {
    menuBarWindows_[key] = std::move(*windowID);
  } else {
    menuBarWindows_.erase(key);
  }
  defaults_.set(kMenuBarWindows, menuBarWindows_);
  observers_.notify(Property::menuBarWindows);
}

bool Preferences::applyCritical(double value) {
  // A value within the tolerance of its bounds is kept as given, not snapped.
  const double bounded = std::min(std::max(value, minimumCritical), warningThreshold_ - thresholdGap);
  if (!(std::fabs(bounded - value) <= thresholdTolerance)) value = bounded;
  const bool changed = criticalThreshold_ != value;
  criticalThreshold_ = value;
  defaults_.set(kCriticalThreshold, value);
  return changed;
}

void Preferences::setWarningThreshold(double value) {
  if (!std::isfinite(value)) return;
  value = std::max(value, minimumWarning);
  const bool warningChanged = warningThreshold_ != value;
  warningThreshold_ = value;
  defaults_.set(kWarningThreshold, value);
  // Raising the warning threshold leaves the critical one alone; lowering it
  // pulls the critical one down with it. Observers hear once both are set.
  bool criticalChanged = false;
  if (criticalThreshold_ > value - thresholdGap + thresholdTolerance) criticalChanged = applyCritical(value - thresholdGap);
  if (warningChanged) observers_.notify(Property::warningThreshold);
  if (criticalChanged) observers_.notify(Property::criticalThreshold);
}

void Preferences::setCriticalThreshold(double value) {
  if (!std::isfinite(value)) return;
  if (applyCritical(value)) observers_.notify(Property::criticalThreshold);
}

void Preferences::setTintEnabled(bool value) {
  update(tintEnabled_, value, Property::tintEnabled, [&] { writeBool(kTintEnabled, value); });
}

void Preferences::setProviderOrder(const std::vector<ProviderID>& value) {
  update(providerOrder_, cleanedOrder(value), Property::providerOrder, [&] {
    std::vector<std::string> texts;
    for (ProviderID id : providerOrder_) texts.emplace_back(rawValue(id));
    defaults_.set(kProviderOrder, std::move(texts));
  });
}

void Preferences::setDisabledProviders(std::set<ProviderID> value) {
  update(disabledProviders_, std::move(value), Property::disabledProviders, [&] {
    std::vector<std::string> texts;
    for (ProviderID id : disabledProviders_) texts.emplace_back(rawValue(id));
    std::sort(texts.begin(), texts.end());
    defaults_.set(kDisabledProviders, std::move(texts));
  });
}

void Preferences::setClaudeLiveLimits(bool value) {
  update(claudeLiveLimits_, value, Property::claudeLiveLimits, [&] { writeBool(kClaudeLiveLimits, value); });
}

void Preferences::setSummaryUnit(SummaryUnit value) {
  update(summaryUnit_, value, Property::summaryUnit,
         [&] { defaults_.set(kSummaryUnit, std::string(rawValue(value))); });
}

void Preferences::setPopoverTab(PopoverTab value) {
  update(popoverTab_, value, Property::popoverTab, [&] { defaults_.set(kPopoverTab, std::string(rawValue(value))); });
}

std::vector<ProviderID> Preferences::enabledProviders() const {
  std::vector<ProviderID> enabled;
  for (ProviderID id : providerOrder_) {
    if (!disabledProviders_.count(id)) enabled.push_back(id);
  }
  return enabled;
}

std::shared_ptr<Subscription> Preferences::observe(std::function<void(Property)> callback) {
  return observers_.subscribe(std::move(callback));
}

std::vector<ProviderID> Preferences::cleanedOrder(const std::vector<ProviderID>& order) {
  std::vector<ProviderID> cleaned;
  auto add = [&](ProviderID id) {
    if (std::find(cleaned.begin(), cleaned.end(), id) == cleaned.end()) cleaned.push_back(id);
  };
  for (ProviderID id : order) {
    // An out-of-range value (a cast from a stray integer) names no provider.
    if (std::find(allProviders.begin(), allProviders.end(), id) != allProviders.end()) add(id);
  }
  for (ProviderID id : allProviders) add(id);
  return cleaned;
}

}  // namespace tokvane
