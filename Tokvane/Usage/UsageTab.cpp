#include "Tokvane/Usage/UsageTab.hpp"

#include <QTimer>
#include <QVBoxLayout>

#include "Tokvane/Engine/Model/AppModel.hpp"
#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "Tokvane/Usage/NoProvidersView.hpp"
#include "Tokvane/Usage/ProviderCardText.hpp"
#include "Tokvane/Usage/ProviderSection.hpp"

namespace tokvane {

namespace {

constexpr int tickMilliseconds = 30'000;
constexpr int cardSpacing = 24;

}  // namespace

UsageTab::UsageTab(AppModel& model, Preferences& preferences, ProviderLocations locations, QWidget* parent)
    : QWidget(parent),
      model_(model),
      preferences_(preferences),
      locations_(std::move(locations)),
      clock_([] { return Date::now(); }) {
  layout_ = new QVBoxLayout(this);
  layout_->setContentsMargins(0, 0, 0, 0);
  layout_->setSpacing(cardSpacing);
  layout_->setAlignment(Qt::AlignTop);

  ticker_ = new QTimer(this);
  ticker_->setInterval(tickMilliseconds);
  connect(ticker_, &QTimer::timeout, this, &UsageTab::rebuild);

  modelSubscription_ = model_.observe([this](AppModel::Property property) {
    if (property == AppModel::Property::limits || property == AppModel::Property::present) rebuild();
  });
  preferencesSubscription_ = preferences_.observe([this](Preferences::Property property) {
    if (property == Preferences::Property::providerOrder || property == Preferences::Property::disabledProviders) {
      rebuild();
    }
  });
  rebuild();
}

UsageTab::~UsageTab() = default;

void UsageTab::setClock(std::function<Date()> clock) {
  clock_ = std::move(clock);
  rebuild();
}

std::vector<ProviderID> UsageTab::shownProviders() const {
  std::vector<ProviderID> shown;
  for (const ProviderSection* section : sections_) shown.push_back(section->value().provider);
  return shown;
}

void UsageTab::rebuild() {
  const std::vector<ProviderID> visible = visibleProviders(preferences_.enabledProviders(), model_.present());
  if (visible.empty()) {
    ticker_->stop();
    for (ProviderSection* section : sections_) delete section;
    sections_.clear();
    if (empty_ == nullptr) {
      empty_ = new NoProvidersView(locations_, this);
      layout_->addWidget(empty_);
    }
    updateGeometry();
    return;
  }
  if (empty_ != nullptr) {
    delete empty_;
    empty_ = nullptr;
  }
  if (!ticker_->isActive()) ticker_->start();

  const Date now = clock_();
  auto valueFor = [&](ProviderID provider) {
    ProviderSection::Value value{provider, std::nullopt, now};
    const auto found = model_.limits().find(provider);
    if (found != model_.limits().end()) value.limits = found->second;
    return value;
  };
  // Cards keep their place while the list of providers stays the same.
  if (shownProviders() != visible) {
    for (ProviderSection* section : sections_) delete section;
    sections_.clear();
    for (ProviderID provider : visible) {
      auto* section = new ProviderSection(valueFor(provider), [this] { model_.refresh(true); }, this);
      layout_->addWidget(section);
      sections_.push_back(section);
    }
  } else {
    for (ProviderSection* section : sections_) section->setValue(valueFor(section->value().provider));
  }
  // The popover measures its content again.
  updateGeometry();
}

}  // namespace tokvane
