#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Tokvane/Engine/Runtime/ObserverList.hpp"
#include "Tokvane/Engine/Settings/PreferenceValues.hpp"
#include "Tokvane/Engine/Settings/UserDefaults.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// The user's settings, over the user defaults. Every value is read once at
// creation (values out of range or of the wrong type are corrected in memory
// only; the stored value stays until the property is next set) and written
// back under its own key, named like the property, every time it is set,
// even unchanged. Observers hear of real changes only, after the value and
// its stored copy are updated. Used on the main thread only.
class Preferences {
 public:
  enum class Property {
    showDockIcon,
    hasCompletedOnboarding,
    menuBarStyle,
    pinnedProvider,
    showResetTime,
    menuBarWindows,
    warningThreshold,
    criticalThreshold,
    tintEnabled,
    providerOrder,
    disabledProviders,
    claudeLiveLimits,
    summaryUnit,
    popoverTab,
  };

  // The application's links (About page and status menu).
  static constexpr std::string_view homePageLink = "https://tokvane.app/";
  static constexpr std::string_view changelogLink = "https://tokvane.app/changelog";
  static constexpr std::string_view supportMailLink = "mailto:support@tokvane.app";
  static constexpr std::string_view makerSiteLink = "https://tokvane.app/about";

  // The thresholds always satisfy warning >= minimumWarning and
  // minimumCritical <= critical <= warning - thresholdGap (up to
  // thresholdTolerance).
  static constexpr double minimumWarning = 0.1;
  static constexpr double minimumCritical = 0.05;
  static constexpr double thresholdGap = 0.05;
  static constexpr double thresholdTolerance = 1e-9;

  // Registers the defaults (in memory only) and reads every value.
  explicit Preferences(UserDefaults& defaults);
  Preferences(const Preferences&) = delete;
  Preferences& operator=(const Preferences&) = delete;

  bool showDockIcon() const { return showDockIcon_; }
  void setShowDockIcon(bool value);

  bool hasCompletedOnboarding() const { return hasCompletedOnboarding_; }
  void setHasCompletedOnboarding(bool value);

  MenuBarStyle menuBarStyle() const { return menuBarStyle_; }
  void setMenuBarStyle(MenuBarStyle value);

  ProviderID pinnedProvider() const { return pinnedProvider_; }
  void setPinnedProvider(ProviderID value);

  bool showResetTime() const { return showResetTime_; }
  void setShowResetTime(bool value);

  // Per provider raw value, the id of the limit window the status item shows;
  // a provider without an entry uses its tightest window.
  const std::map<std::string, std::string>& menuBarWindows() const { return menuBarWindows_; }
  void setMenuBarWindows(std::map<std::string, std::string> value);
  std::optional<std::string> menuBarWindow(ProviderID provider) const;
  // Sets (or, with none, removes) one provider's entry and writes the whole
  // dictionary. Like any change made to the dictionary in place, it tells
  // observers of menuBarWindows every time.
  void setMenuBarWindow(std::optional<std::string> windowID, ProviderID provider);

  // Fraction of a limit left at or below which the status item is tinted as
  // a warning. A value below minimumWarning becomes minimumWarning; lowering
  // it pulls the critical threshold down with it. A value that is not finite
  // is ignored.
  double warningThreshold() const { return warningThreshold_; }
  void setWarningThreshold(double value);

  // Fraction left at or below which the tint is critical; kept between
  // minimumCritical and the warning threshold minus thresholdGap. A value
  // that is not finite is ignored.
  double criticalThreshold() const { return criticalThreshold_; }
  void setCriticalThreshold(double value);

  bool tintEnabled() const { return tintEnabled_; }
  void setTintEnabled(bool value);

  // Each provider exactly once, in the user's order. A list that is set is
  // cleaned first: repeats are dropped (the first keeps its place) and the
  // missing providers are appended in their default order.
  const std::vector<ProviderID>& providerOrder() const { return providerOrder_; }
  void setProviderOrder(const std::vector<ProviderID>& value);

  const std::set<ProviderID>& disabledProviders() const { return disabledProviders_; }
  void setDisabledProviders(std::set<ProviderID> value);

  bool claudeLiveLimits() const { return claudeLiveLimits_; }
  void setClaudeLiveLimits(bool value);

  SummaryUnit summaryUnit() const { return summaryUnit_; }
  void setSummaryUnit(SummaryUnit value);

  PopoverTab popoverTab() const { return popoverTab_; }
  void setPopoverTab(PopoverTab value);

  // The provider order without the disabled providers.
  std::vector<ProviderID> enabledProviders() const;

  // Calls `callback` with the property after each real change, until the
  // returned subscription is dropped or cancelled.
  [[nodiscard]] std::shared_ptr<Subscription> observe(std::function<void(Property)> callback);

  // Repeats dropped (the first keeps its place), then every provider not yet
  // named appended in the default order.
  static std::vector<ProviderID> cleanedOrder(const std::vector<ProviderID>& order);

 private:
  template <typename T>
  void update(T& field, T value, Property property, const std::function<void()>& write);
  void writeBool(std::string_view key, bool value);
  // Bounds, stores and writes the critical threshold; tells whether it changed.
  bool applyCritical(double value);

  UserDefaults& defaults_;
  ObserverList<Property> observers_;

  bool showDockIcon_ = false;
  bool hasCompletedOnboarding_ = false;
  MenuBarStyle menuBarStyle_ = MenuBarStyle::provider;
  ProviderID pinnedProvider_ = ProviderID::claude;
  bool showResetTime_ = true;
  std::map<std::string, std::string> menuBarWindows_;
  double warningThreshold_ = 0.25;
  double criticalThreshold_ = 0.1;
  bool tintEnabled_ = true;
  std::vector<ProviderID> providerOrder_;
  std::set<ProviderID> disabledProviders_;
  bool claudeLiveLimits_ = true;
  SummaryUnit summaryUnit_ = SummaryUnit::cost;
  PopoverTab popoverTab_ = PopoverTab::usage;
};

}  // namespace tokvane
