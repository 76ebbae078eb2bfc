#pragma once

#include <QWidget>

#include "Tokvane/Stats/DailyChartModel.hpp"
#include "Tokvane/Theme/Appearance.hpp"

class QPainter;

namespace tokvane {

class SectionTitle;

// The Stats tab's daily chart: its title over a 140 px plot of one
// translucent area with an outline per provider, the value axis on the left
// and three day labels below. It paints its DailyChartModel and nothing
// else; an equal model changes nothing.
class DailyChart : public QWidget {
  Q_OBJECT
 public:
  explicit DailyChart(QWidget* parent = nullptr);

  void setModel(DailyChartModel model);
  const DailyChartModel& model() const { return model_; }
  // How often the plot was painted (for tests of needless repaints).
  int paintCount() const;

 private:
  DailyChartModel model_;
  SectionTitle* title_;
  QWidget* plot_;
};

// Paints a chart model into `rect` (what the plot widget does; the
// benchmark paints through it too).
void paintDailyChart(QPainter& painter, const QRectF& rect, const DailyChartModel& model, Appearance appearance);

}  // namespace tokvane
