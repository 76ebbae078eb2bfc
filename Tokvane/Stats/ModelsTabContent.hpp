#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "Tokvane/Engine/Indexing/IndexingProgress.hpp"
#include "Tokvane/Engine/Settings/PreferenceValues.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Summary/UsageSummary.hpp"

namespace tokvane {

class IndexingRow;
class SummaryTable;
class TextLabel;

// What the Models tab shows, first match wins: the breakdown table as soon
// as any tool has usage (even while indexing), else the indexing row during
// an index run, else "No usage in the last N days". The table stays the
// same widget throughout, so its mode and fold survive new summaries.
class ModelsTabContent : public QWidget {
  Q_OBJECT
 public:
  explicit ModelsTabContent(std::shared_ptr<const Calendar> calendar, QWidget* parent = nullptr);

  void setContent(const UsageSummary& summary, const std::optional<IndexingProgress>& indexing, SummaryUnit unit);

  SummaryTable* table() const { return table_; }
  IndexingRow* indexingRow() const { return indexing_; }
  TextLabel* emptyText() const { return empty_; }

 private:
  SummaryTable* table_;
  IndexingRow* indexing_;
  TextLabel* empty_;
};

}  // namespace tokvane
