#pragma once

#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "Tokvane/Engine/Indexing/IndexingProgress.hpp"
#include "Tokvane/Engine/Settings/PreferenceValues.hpp"
#include "Tokvane/Stats/DailyChartModel.hpp"
#include "Tokvane/Stats/SummaryDisplay.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Summary/UsageSummary.hpp"

class QVBoxLayout;

namespace tokvane {

class ByTypeBar;
class DailyChart;
class IndexingRow;
class SectionTitle;
class SegmentedPicker;
class TextLabel;

// The whole Stats tab: the headline figure in the chosen unit with the
// unit switch, the sessions line, then either the indexing row, the empty
// text, or the tool lines, the daily chart, the totals and the by-type
// bar. It shows what it is given; a unit the user picks is reported through
// `unitChosen` and comes back through setContent once stored.
class SummarySection : public QWidget {
  Q_OBJECT
 public:
  // What the section shows, as one comparable value.
  struct Content {
    std::string headline;
    std::string subline;
    bool showsInfoButton = false;
    bool showsPriceNote = false;
    enum class Body { indexing, empty, full } body = Body::empty;
    std::optional<IndexingProgress> indexing;
    std::string emptyText;
    std::vector<SummaryDisplay::ToolLine> toolLines;
    DailyChartModel chart;
    std::vector<SummaryDisplay::Stat> totals;
    std::string byTypeTitle;
    std::vector<SummaryDisplay::Segment> segments;
    friend bool operator==(const Content&, const Content&) = default;
  };
  static Content makeContent(const UsageSummary& summary, const std::optional<IndexingProgress>& indexing,
                             SummaryUnit unit, const Calendar& calendar);

  // The explanation behind the info button (its tooltip and popup).
  static constexpr const char* apiEstimateExplanation =
      "What these tokens would cost on each provider's pay-as-you-go API. Not what your subscription costs.";
  static constexpr const char* priceNote = "Excludes models without a published price";

  SummarySection(std::shared_ptr<const Calendar> calendar, QWidget* parent = nullptr);
  ~SummarySection() override;

  void setContent(const UsageSummary& summary, const std::optional<IndexingProgress>& indexing, SummaryUnit unit);
  const Content& content() const { return content_; }
  SummaryUnit unit() const { return unit_; }

  // The parts, for tests and the screenshot tool.
  SegmentedPicker* unitPicker() const { return unitPicker_; }
  QWidget* infoButton() const { return infoButton_; }
  // The explanation popup while it is open, else null.
  QWidget* infoPopup() const;
  DailyChart* chart() const { return chart_; }
  ByTypeBar* byTypeBar() const { return byType_; }
  QString headlineText() const;

 signals:
  void unitChosen(SummaryUnit unit);

 private:
  void apply(Content content);
  void toggleInfo();

  std::shared_ptr<const Calendar> calendar_;
  SummaryUnit unit_ = SummaryUnit::cost;
  Content content_;
  bool applied_ = false;

  QWidget* headline_;
  TextLabel* subline_;
  QWidget* infoButton_;
  QWidget* infoPopup_ = nullptr;
  TextLabel* priceNote_;
  SegmentedPicker* unitPicker_;
  IndexingRow* indexingRow_;
  TextLabel* emptyText_;
  QWidget* toolLines_;
  QVBoxLayout* toolLinesLayout_;
  DailyChart* chart_;
  QWidget* totals_;
  std::vector<TextLabel*> totalLabels_;
  std::vector<TextLabel*> totalValues_;
  QWidget* byTypeBlock_;
  SectionTitle* byTypeTitle_;
  ByTypeBar* byType_;
};

}  // namespace tokvane
