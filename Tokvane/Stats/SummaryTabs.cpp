#include "Tokvane/Stats/SummaryTabs.hpp"

#include <QVBoxLayout>
#include <memory>

#include "Tokvane/Engine/Model/AppModel.hpp"
#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "Tokvane/Stats/IndexingRow.hpp"
#include "Tokvane/Stats/SummarySection.hpp"
#include "Tokvane/Stats/SummaryTable.hpp"
#include "Tokvane/Stats/TextLabel.hpp"
#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SystemColors.hpp"
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
    const int w = width() > 0 ? width() : statsContentWidth;
    return QSize(w, heightForWidth(w));
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
    updateGeometry();
  }

 private:
  SummarySection* section_;
};

class ModelsTab final : public TabPage {
 public:
  ModelsTab(AppModel& model, Preferences& preferences, QWidget* parent) : TabPage(model, preferences, parent) {
    setObjectName(QStringLiteral("modelsTab"));
    table_ = new SummaryTable(localCalendar(), this);
    indexing_ = new IndexingRow(this);
    empty_ = new TextLabel(Fonts::system(13), SystemColors::secondaryLabel(), this);
    layout()->addWidget(table_);
    layout()->addWidget(indexing_);
    layout()->addWidget(empty_);
    static_cast<QVBoxLayout*>(layout())->addStretch(1);
    refresh();
  }

 protected:
  void refresh() override {
    const UsageSummary& summary = model_.summary();
    const bool hasTools = !summary.tools.empty();
    table_->setVisible(hasTools);
    if (hasTools) table_->setSummary(summary, preferences_.summaryUnit());
    indexing_->setVisible(!hasTools && model_.indexing().has_value());
    if (model_.indexing()) indexing_->setProgress(*model_.indexing());
    empty_->setVisible(!hasTools && !model_.indexing().has_value());
    empty_->setPlainText(SummaryDisplay::emptyText(summary));
    updateGeometry();
  }

 private:
  SummaryTable* table_;
  IndexingRow* indexing_;
  TextLabel* empty_;
};

}  // namespace

QWidget* makeStatsTab(AppModel& model, Preferences& preferences, QWidget* parent) {
  return new StatsTab(model, preferences, parent);
}

QWidget* makeModelsTab(AppModel& model, Preferences& preferences, QWidget* parent) {
  return new ModelsTab(model, preferences, parent);
}

}  // namespace tokvane
