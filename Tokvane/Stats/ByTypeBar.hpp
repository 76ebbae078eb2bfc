#pragma once

#include <QWidget>
#include <vector>

#include "Tokvane/Stats/SummaryDisplay.hpp"

namespace tokvane {

class FlowLayout;

// How the window's cost or tokens divide by type: a thin bar of one capsule
// per segment, each a shade of the label colour (palest first), and under
// it a wrapping legend naming each segment with its amount.
class ByTypeBar : public QWidget {
  Q_OBJECT
 public:
  // The bar's height and the gap between its capsules.
  static constexpr double barHeight = 8;
  static constexpr double gap = 2;
  static constexpr double minimumWidth = 3;

  // One capsule of the bar.
  struct Piece {
    double x = 0;
    double width = 0;
    double opacity = 0;
    friend bool operator==(const Piece&, const Piece&) = default;
  };

  // The opacity of the shade at a position: 0.25, 0.42, 0.6, 0.8, then 1.
  static double shadeOpacity(int position);
  // The capsules for the amounts within `width`: each its share of the
  // width left after the gaps, but never under 3 (so the bar may run
  // past the width by what the narrow ones gained); all 3 wide when the
  // amounts add up to nothing.
  static std::vector<Piece> pieces(const std::vector<double>& amounts, double width);

  explicit ByTypeBar(QWidget* parent = nullptr);

  void setSegments(std::vector<SummaryDisplay::Segment> segments);
  const std::vector<SummaryDisplay::Segment>& segments() const { return segments_; }

 private:
  std::vector<SummaryDisplay::Segment> segments_;
  QWidget* bar_;
  QWidget* legend_;
  FlowLayout* legendLayout_;
};

}  // namespace tokvane
