#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "Tokvane/Engine/Settings/PreferenceValues.hpp"
#include "Tokvane/Stats/SummaryDisplay.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Summary/UsageSummary.hpp"

class QPushButton;
class QVBoxLayout;

namespace tokvane {

class SegmentedPicker;
class TextLabel;

// The Models tab's breakdown: a ranked list of the window's usage by model
// or by day in the chosen unit, each row with its cost, share and tokens
// and a thin bar of its share. Five rows show until "Show all" is pressed.
// The mode and the show-all switch belong to this table (they start as
// model and off) and survive new summaries and unit changes.
class SummaryTable : public QWidget {
  Q_OBJECT
 public:
  // The widths of the three right-hand columns.
  static constexpr int costWidth = 78;
  static constexpr int shareWidth = 48;
  static constexpr int tokensWidth = 50;
  // Rows shown while the list is folded.
  static constexpr int foldedRows = 5;

  // The rows shown: all when `showAll` or when there are fewer than six,
  // else the first five.
  static std::size_t visibleCount(std::size_t rows, bool showAll);
  // "Show less", or "Show all <n>"; empty when no button shows (under six).
  static std::string toggleTitle(std::size_t rows, bool showAll);

  SummaryTable(std::shared_ptr<const Calendar> calendar, QWidget* parent = nullptr);

  void setSummary(const UsageSummary& summary, SummaryUnit unit);
  BreakdownMode mode() const { return mode_; }
  void setMode(BreakdownMode mode);
  bool showsAll() const { return showAll_; }
  void setShowAll(bool showAll);

  const std::vector<SummaryDisplay::BreakdownRow>& rows() const { return rows_; }
  // The row widgets shown now.
  int visibleRowCount() const;
  SegmentedPicker* modePicker() const { return modePicker_; }
  QPushButton* toggleButton() const { return toggle_; }
  QString titleColumnText() const;

 private:
  void rebuild();

  std::shared_ptr<const Calendar> calendar_;
  UsageSummary summary_ = UsageSummary::empty();
  SummaryUnit unit_ = SummaryUnit::cost;
  BreakdownMode mode_ = BreakdownMode::model;
  bool showAll_ = false;
  std::vector<SummaryDisplay::BreakdownRow> rows_;
  std::size_t shownCount_ = 0;
  bool built_ = false;

  SegmentedPicker* modePicker_;
  TextLabel* titleColumn_;
  QWidget* rowsBox_;
  QVBoxLayout* rowsLayout_;
  QPushButton* toggle_;
};

}  // namespace tokvane
