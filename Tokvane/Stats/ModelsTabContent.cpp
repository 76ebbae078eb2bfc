#include "Tokvane/Stats/ModelsTabContent.hpp"

#include <QVBoxLayout>

#include "Tokvane/Stats/IndexingRow.hpp"
#include "Tokvane/Stats/StatsStyle.hpp"
#include "Tokvane/Stats/SummaryDisplay.hpp"
#include "Tokvane/Stats/SummaryTable.hpp"
#include "Tokvane/Stats/TextLabel.hpp"
#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {

ModelsTabContent::ModelsTabContent(std::shared_ptr<const Calendar> calendar, QWidget* parent) : QWidget(parent) {
  auto* stack = new QVBoxLayout(this);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(0);
  table_ = new SummaryTable(std::move(calendar), this);
  indexing_ = new IndexingRow(this);
  empty_ = new TextLabel(Fonts::system(13), SystemColors::secondaryLabel(), this);
  stack->addWidget(table_);
  stack->addWidget(indexing_);
  stack->addWidget(empty_);
  stack->addStretch(1);
  setContent(UsageSummary::empty(), std::nullopt, SummaryUnit::cost);
}

void ModelsTabContent::setContent(const UsageSummary& summary, const std::optional<IndexingProgress>& indexing,
                                  SummaryUnit unit) {
  const bool hasTools = !summary.tools.empty();
  table_->setVisible(hasTools);
  if (hasTools) table_->setSummary(summary, unit);
  indexing_->setVisible(!hasTools && indexing.has_value());
  if (indexing) indexing_->setProgress(*indexing);
  empty_->setVisible(!hasTools && !indexing.has_value());
  empty_->setPlainText(SummaryDisplay::emptyText(summary));
  StatsStyle::relayoutFrom(this);
}

}  // namespace tokvane
