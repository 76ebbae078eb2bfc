#include "Tokvane/Stats/SummaryTabs.hpp"

#include <QVBoxLayout>
#include <memory>

#include "Tokvane/Engine/Model/AppModel.hpp"
#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "Tokvane/Stats/ModelsTabContent.hpp"
#include "Tokvane/Stats/StatsStyle.hpp"
#include "Tokvane/Stats/SummarySection.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"

namespace tokvane {

namespace {

// The calendar the ledger's days are counted in.
std::shared_ptr<const Calendar> localCalendar() {
  static const auto calendar = std::make_shared<const LocalCalendar>();
  return calendar;
}

// A tab whose natural height is its height for its width.
class TabPage : public QWidget {
 public:
  TabPage(AppModel& model, Preferences& preferences, QWidget* parent)
      : QWidget(parent), model_(model), preferences_(preferences) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    modelSubscription_ = model_.observe([this](AppModel::Property property) {
      if (property == AppModel::Property::summary || property == AppModel::Property::indexing) refresh();
    });
    preferencesSubscription_ = preferences_.observe([this](Preferences::Property property) {
      if (property == Preferences::Property::summaryUnit) refresh();
    });
  }

  QSize sizeHint() const override {
    // Until something gave it a size, the tab is measured at the popover's width.
    const int w = testAttribute(Qt::WA_Resized) ? width() : statsContentWidth;
    const int h = heightForWidth(w);
    return QSize(w, h >= 0 ? h : QWidget::sizeHint().height());
  }

 protected:
  virtual void refresh() = 0;

  AppModel& model_;
  Preferences& preferences_;

 private:
  std::shared_ptr<Subscription> modelSubscription_;
  std::shared_ptr<Subscription> preferencesSubscription_;
};

class StatsTab final : public TabPage {
 public:
  StatsTab(AppModel& model, Preferences& preferences, QWidget* parent) : TabPage(model, preferences, parent) {
    setObjectName(QStringLiteral("statsTab"));
    section_ = new SummarySection(localCalendar(), this);
    layout()->addWidget(section_);
    QObject::connect(section_, &SummarySection::unitChosen, this,
                     [this](SummaryUnit unit) { preferences_.setSummaryUnit(unit); });
    refresh();
  }

 protected:
  void refresh() override {
    section_->setContent(model_.summary(), model_.indexing(), preferences_.summaryUnit());
    StatsStyle::relayoutFrom(section_);
  }

 private:
  SummarySection* section_;
};

class ModelsTab final : public TabPage {
 public:
  ModelsTab(AppModel& model, Preferences& preferences, QWidget* parent) : TabPage(model, preferences, parent) {
    setObjectName(QStringLiteral("modelsTab"));
    content_ = new ModelsTabContent(localCalendar(), this);
    layout()->addWidget(content_);
    refresh();
  }

 protected:
  void refresh() override {
    content_->setContent(model_.summary(), model_.indexing(), preferences_.summaryUnit());
    StatsStyle::relayoutFrom(content_);
  }

 private:
  ModelsTabContent* content_;
};

}  // namespace

QWidget* makeStatsTab(AppModel& model, Preferences& preferences, QWidget* parent) {
  return new StatsTab(model, preferences, parent);
}

QWidget* makeModelsTab(AppModel& model, Preferences& preferences, QWidget* parent) {
  return new ModelsTab(model, preferences, parent);
}

}  // namespace tokvane
