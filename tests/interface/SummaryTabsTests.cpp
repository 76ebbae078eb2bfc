#include <gtest/gtest.h>

#include <QApplication>
#include <QLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <memory>

#include "Tokvane/Popover/PopoverRoot.hpp"
#include "Tokvane/Stats/ByTypeBar.hpp"
#include "Tokvane/Stats/DailyChart.hpp"
#include "Tokvane/Stats/IndexingRow.hpp"
#include "Tokvane/Stats/SegmentedPicker.hpp"
#include "Tokvane/Stats/SummarySection.hpp"
#include "Tokvane/Stats/SummaryTable.hpp"
#include "Tokvane/Stats/SummaryTabs.hpp"
#include "Tokvane/Stats/TextLabel.hpp"
#include "TokvaneCore/Format/MeterFormat.hpp"
#include "tests/interface/support/SummaryModelHarness.hpp"

namespace tokvane {
namespace {

using testing::SummaryModelHarness;

const std::string dash = "\xE2\x80\x94";

// Clicks a point of a widget as the user would.
void click(QWidget* widget, QPointF at) {
  QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
  QApplication::sendEvent(widget, &release);
}

void chooseSegment(SegmentedPicker* picker, int index) {
  const double w = picker->width() / 2.0;
  click(picker, QPointF(w * index + w / 2, picker->height() / 2.0));
}

// Lays a tab out at the popover's content width, as the popover does.
void layOut(QWidget* tab) {
  tab->resize(tab->sizeHint());
  tab->ensurePolished();
  if (tab->layout()) tab->layout()->activate();
}

// Three tools over a few days: Claude and Codex priced, Grok's model not.
void addUsage(SummaryModelHarness& h, int models = 3) {
  h.add(ProviderID::claude, "claude-sonnet-4-5", 0, TokenCounts{100'000, 400'000, 20'000, 0, 30'000, 0}, "c1");
  h.add(ProviderID::claude, "claude-sonnet-4-5", 3, TokenCounts{50'000, 100'000, 0, 0, 10'000, 0}, "c2");
  h.add(ProviderID::codex, "gpt-5", 1, TokenCounts{200'000, 0, 0, 0, 20'000, 5'000}, "x1");
  h.add(ProviderID::grok, "grok-private-build", 2, TokenCounts{80'000, 0, 0, 0, 8'000, 0}, "g1");
  static const char* const more[] = {"claude-opus-4-1", "claude-haiku-4-5", "gpt-5-mini",
                                     "gpt-5-codex", "claude-opus-4-5", "claude-sonnet-4"};
  for (int i = 3; i < models && i - 3 < 6; ++i) {
    const ProviderID provider = more[i - 3][0] == 'g' ? ProviderID::codex : ProviderID::claude;
    h.add(provider, more[i - 3], i, TokenCounts{1000 * i, 0, 0, 0, 100, 0}, "m");
  }
}

template <typename T>
T* only(QWidget* tab) {
  const auto found = tab->findChildren<T*>();
  EXPECT_EQ(found.size(), 1);
  return found.isEmpty() ? nullptr : found.front();
}

TEST(StatsTab, ShowsTheModelsSummaryFromItsLedger) {
  SummaryModelHarness h;
  addUsage(h);
  h.publish();
  const UsageSummary& summary = h.model->summary();
  ASSERT_EQ(summary.tools.size(), 3u);
  ASSERT_TRUE(summary.hasUnknownPrices);

  std::unique_ptr<QWidget> tab(makeStatsTab(*h.model, h.preferences, nullptr));
  layOut(tab.get());
  auto* section = only<SummarySection>(tab.get());
  ASSERT_NE(section, nullptr);
  const auto& content = section->content();
  EXPECT_EQ(section->headlineText().toStdString(), MeterFormat::usd(summary.totalCostUSD));
  EXPECT_EQ(content.subline, "4 sessions \xC2\xB7 API estimate");
  EXPECT_TRUE(content.showsInfoButton);
  EXPECT_TRUE(content.showsPriceNote);
  EXPECT_EQ(content.body, SummarySection::Content::Body::full);
  ASSERT_EQ(content.toolLines.size(), 3u);
  EXPECT_EQ(content.toolLines[0].provider, summary.tools[0].provider);
  EXPECT_EQ(section->chart()->model().title, "Daily cost");
  EXPECT_EQ(section->chart()->model().series.size(), 3u);
  EXPECT_EQ(section->byTypeBar()->segments(), SummaryDisplay::typeSegments(summary, SummaryUnit::cost));
  EXPECT_EQ(content.totals, SummaryDisplay::totalsStats(summary));
  EXPECT_TRUE(section->infoButton()->isVisibleTo(tab.get()));
  // The natural height is the height at the content width.
  EXPECT_EQ(tab->sizeHint(), QSize(statsContentWidth, tab->heightForWidth(statsContentWidth)));
  EXPECT_EQ(tab->width(), statsContentWidth);
  EXPECT_GT(tab->sizeHint().height(), 300);
}

TEST(StatsTab, TheUnitSwitchChangesHeadlineChartAndBarTogetherAndIsRemembered) {
  SummaryModelHarness h;
  addUsage(h);
  h.publish();
  const UsageSummary& summary = h.model->summary();
  std::unique_ptr<QWidget> stats(makeStatsTab(*h.model, h.preferences, nullptr));
  std::unique_ptr<QWidget> models(makeModelsTab(*h.model, h.preferences, nullptr));
  layOut(stats.get());
  auto* section = only<SummarySection>(stats.get());
  ASSERT_NE(section, nullptr);
  const DailyChartModel costChart = section->chart()->model();

  chooseSegment(section->unitPicker(), 1);

  EXPECT_EQ(h.preferences.summaryUnit(), SummaryUnit::tokens);
  EXPECT_EQ(section->unitPicker()->selectedIndex(), 1);
  EXPECT_EQ(section->headlineText().toStdString(), MeterFormat::tokens(summary.tokens.processed()));
  EXPECT_EQ(section->content().subline, "4 sessions");
  EXPECT_FALSE(section->content().showsInfoButton);
  EXPECT_FALSE(section->content().showsPriceNote);
  EXPECT_EQ(section->chart()->model().title, "Daily processed tokens");
  EXPECT_NE(section->chart()->model().series, costChart.series);
  EXPECT_EQ(section->byTypeBar()->segments(), SummaryDisplay::typeSegments(summary, SummaryUnit::tokens));
  EXPECT_EQ(section->content().byTypeTitle, "Tokens by type");

  // The Models tab follows the same preference, and a restart reads it back.
  auto* table = only<SummaryTable>(models.get());
  ASSERT_NE(table, nullptr);
  FixedOffsetCalendar utc;
  EXPECT_EQ(table->rows(), SummaryDisplay::breakdownRows(summary, BreakdownMode::model, SummaryUnit::tokens, *h.calendar));
  Preferences restarted(h.defaults);
  EXPECT_EQ(restarted.summaryUnit(), SummaryUnit::tokens);

  // Back to cost.
  chooseSegment(section->unitPicker(), 0);
  EXPECT_EQ(h.preferences.summaryUnit(), SummaryUnit::cost);
  EXPECT_EQ(section->chart()->model(), costChart);
}

TEST(StatsTab, FollowsIndexingThenTheFirstSummary) {
  SummaryModelHarness h;
  std::unique_ptr<QWidget> stats(makeStatsTab(*h.model, h.preferences, nullptr));
  std::unique_ptr<QWidget> models(makeModelsTab(*h.model, h.preferences, nullptr));
  auto* section = only<SummarySection>(stats.get());
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(section->content().body, SummarySection::Content::Body::empty);
  EXPECT_EQ(section->content().emptyText, "No usage in the last 30 days");
  EXPECT_EQ(section->headlineText().toStdString(), "$0.00");
  const int emptyHeight = stats->sizeHint().height();

  h.model->handleProgress(IndexingProgress{ProviderID::codex, 500'000, 2'000'000});
  EXPECT_EQ(section->content().body, SummarySection::Content::Body::indexing);
  EXPECT_EQ(section->headlineText().toStdString(), dash);
  EXPECT_EQ(section->content().subline, "0 sessions \xC2\xB7 API estimate");
  auto* modelsIndexing = only<IndexingRow>(models.get());
  ASSERT_NE(modelsIndexing, nullptr);
  EXPECT_TRUE(modelsIndexing->isVisibleTo(models.get()));
  EXPECT_EQ(modelsIndexing->text(), QString::fromUtf8("Reading Codex history\xE2\x80\xA6 0.5 / 2.0 MB"));
  EXPECT_FALSE(only<SummaryTable>(models.get())->isVisibleTo(models.get()));

  addUsage(h);
  h.publish();
  EXPECT_EQ(section->content().body, SummarySection::Content::Body::full);
  EXPECT_GT(stats->sizeHint().height(), emptyHeight);
  EXPECT_TRUE(only<SummaryTable>(models.get())->isVisibleTo(models.get()));
  EXPECT_FALSE(modelsIndexing->isVisibleTo(models.get()));

  h.model->handleProgress(std::nullopt);
  EXPECT_EQ(section->content().body, SummarySection::Content::Body::full);
}

TEST(ModelsTab, ShowAllExpandsTheTableAndTheModeSwitchesToDays) {
  SummaryModelHarness h;
  addUsage(h, 8);  // eight models over seven days
  h.publish();
  std::unique_ptr<QWidget> tab(makeModelsTab(*h.model, h.preferences, nullptr));
  layOut(tab.get());
  auto* table = only<SummaryTable>(tab.get());
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->rows().size(), 8u);
  EXPECT_EQ(table->visibleRowCount(), 5);
  EXPECT_TRUE(table->toggleButton()->isVisibleTo(tab.get()));
  EXPECT_EQ(table->toggleButton()->text(), QStringLiteral("Show all 8"));
  EXPECT_EQ(table->titleColumnText(), QStringLiteral("Model"));
  // Unpriced last in the cost unit.
  EXPECT_EQ(table->rows().back().id, "grok/grok-private-build");
  const int folded = tab->sizeHint().height();

  table->toggleButton()->click();
  EXPECT_EQ(table->visibleRowCount(), 8);
  EXPECT_EQ(table->toggleButton()->text(), QStringLiteral("Show less"));
  EXPECT_GT(tab->sizeHint().height(), folded);

  // Days: the show-all switch stays on; seven days with usage.
  layOut(tab.get());
  chooseSegment(table->modePicker(), 1);
  EXPECT_EQ(table->mode(), BreakdownMode::day);
  EXPECT_EQ(table->titleColumnText(), QStringLiteral("Day"));
  EXPECT_EQ(table->rows().size(), 8u);
  EXPECT_EQ(table->visibleRowCount(), 8);
  EXPECT_FALSE(table->rows().front().provider.has_value());
  EXPECT_EQ(table->rows().front().id.rfind("day/", 0), 0u);

  table->toggleButton()->click();
  EXPECT_EQ(table->visibleRowCount(), 5);
  // A new summary keeps the mode and the fold.
  h.add(ProviderID::codex, "gpt-5", 0, TokenCounts{1, 0, 0, 0, 0, 0}, "x2");
  h.publish();
  EXPECT_EQ(table->mode(), BreakdownMode::day);
  EXPECT_FALSE(table->showsAll());
}

TEST(ModelsTab, FewRowsShowNoButtonAndNoUsageShowsTheEmptyText) {
  SummaryModelHarness h;
  std::unique_ptr<QWidget> tab(makeModelsTab(*h.model, h.preferences, nullptr));
  auto* table = only<SummaryTable>(tab.get());
  ASSERT_NE(table, nullptr);
  EXPECT_FALSE(table->isVisibleTo(tab.get()));
  bool sawEmpty = false;
  for (auto* label : tab->findChildren<TextLabel*>()) {
    if (label->isVisibleTo(tab.get()) && label->text() == QStringLiteral("No usage in the last 30 days")) sawEmpty = true;
  }
  EXPECT_TRUE(sawEmpty);

  addUsage(h);
  h.publish();
  EXPECT_TRUE(table->isVisibleTo(tab.get()));
  EXPECT_EQ(table->visibleRowCount(), 3);
  EXPECT_FALSE(table->toggleButton()->isVisibleTo(tab.get()));
  EXPECT_EQ(SummaryTable::toggleTitle(6, false), "Show all 6");
  EXPECT_EQ(SummaryTable::visibleCount(6, false), 5u);
  EXPECT_EQ(SummaryTable::visibleCount(5, false), 5u);
  EXPECT_EQ(SummaryTable::toggleTitle(5, false), "");
}

TEST(StatsTab, TheInfoButtonOpensAndClosesTheExplanation) {
  SummaryModelHarness h;
  addUsage(h);
  h.publish();
  std::unique_ptr<QWidget> tab(makeStatsTab(*h.model, h.preferences, nullptr));
  layOut(tab.get());
  tab->show();
  auto* section = only<SummarySection>(tab.get());
  ASSERT_NE(section, nullptr);
  QWidget* info = section->infoButton();
  EXPECT_EQ(info->toolTip(), QString::fromUtf8(SummarySection::apiEstimateExplanation));
  EXPECT_EQ(info->accessibleName(), QStringLiteral("About the API estimate"));
  click(info, QPointF(5, 5));
  ASSERT_NE(section->infoPopup(), nullptr);
  EXPECT_TRUE(section->infoPopup()->isVisible());
  click(info, QPointF(5, 5));
  EXPECT_EQ(section->infoPopup(), nullptr);
  // Switching to tokens hides the button (and would close an open popup).
  click(info, QPointF(5, 5));
  chooseSegment(section->unitPicker(), 1);
  EXPECT_EQ(section->infoPopup(), nullptr);
  EXPECT_FALSE(info->isVisibleTo(tab.get()));
  // The closed popups delete themselves.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(StatsTab, AnEqualSummaryRepaintsNothing) {
  SummaryModelHarness h;
  addUsage(h);
  h.publish();
  SummarySection section(h.calendar);
  section.setContent(h.model->summary(), std::nullopt, SummaryUnit::cost);
  section.resize(statsContentWidth, section.heightForWidth(statsContentWidth));
  section.show();
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  const int painted = section.chart()->paintCount();
  ASSERT_GT(painted, 0);

  section.setContent(h.model->summary(), std::nullopt, SummaryUnit::cost);
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(section.chart()->paintCount(), painted);

  section.setContent(h.model->summary(), std::nullopt, SummaryUnit::tokens);
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  EXPECT_GT(section.chart()->paintCount(), painted);
}

TEST(PopoverStatsTabs, TheRootShowsBothTabsAndMeasuresTheirContent) {
  SummaryModelHarness h;
  PopoverRoot root(*h.model, h.preferences, {}, h.locations);
  root.chooseTab(PopoverTab::stats);
  auto settle = [&] {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    root.measure();
  };
  settle();
  ASSERT_NE(root.tabContent()->findChild<SummarySection*>(), nullptr);
  const double emptyContent = root.heights().content;
  EXPECT_GT(emptyContent, 0);

  addUsage(h);
  h.publish();
  settle();
  EXPECT_GT(root.heights().content, emptyContent + 300);
  EXPECT_EQ(root.tabContent()->findChild<SummarySection*>()->content().body, SummarySection::Content::Body::full);

  root.chooseTab(PopoverTab::models);
  settle();
  auto* table = root.tabContent()->findChild<SummaryTable*>();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->visibleRowCount(), 3);
}

}  // namespace
}  // namespace tokvane
