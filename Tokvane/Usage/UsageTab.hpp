#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Providers/ProviderLocations.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

class QTimer;
class QVBoxLayout;

namespace tokvane {

class AppModel;
class NoProvidersView;
class Preferences;
class ProviderSection;
class Subscription;

// The Usage tab: one card per enabled provider whose files were found, in
// the user's order, or the empty state listing the watched folders. The
// cards follow the model and the preferences, and their countdowns move on
// every 30 seconds.
class UsageTab final : public QWidget {
  Q_OBJECT

 public:
  UsageTab(AppModel& model, Preferences& preferences, ProviderLocations locations, QWidget* parent = nullptr);
  ~UsageTab() override;

  // The clock the cards are drawn for (the wall clock unless replaced).
  void setClock(std::function<Date()> clock);

  // The providers with a card, in order; empty while the empty state shows.
  std::vector<ProviderID> shownProviders() const;
  const std::vector<ProviderSection*>& sections() const { return sections_; }
  bool showsEmptyState() const { return empty_ != nullptr; }

 private:
  void rebuild();

  AppModel& model_;
  Preferences& preferences_;
  ProviderLocations locations_;
  std::function<Date()> clock_;
  QVBoxLayout* layout_;
  std::vector<ProviderSection*> sections_;
  NoProvidersView* empty_ = nullptr;
  QTimer* ticker_;
  std::shared_ptr<Subscription> modelSubscription_;
  std::shared_ptr<Subscription> preferencesSubscription_;
};

}  // namespace tokvane
