#pragma once

#include <QLayout>
#include <QList>
#include <QSize>
#include <optional>
#include <vector>

namespace tokvane {

// A layout that places its items left to right at their ideal sizes and
// starts a new line, below the tallest item of the last one, when the next
// item would pass the width. Items are never shrunk or split: one wider than
// the width takes a line of its own and overflows it.
class FlowLayout : public QLayout {
 public:
  // One line: its items' positions, its top, width (items and gaps) and
  // height (its tallest item).
  struct Row {
    std::vector<int> indices;
    double y = 0;
    double width = 0;
    double height = 0;
    friend bool operator==(const Row&, const Row&) = default;
  };

  // The line breaking over the items' ideal sizes. A candidate line as wide
  // as maxWidth still fits.
  static std::vector<Row> rows(const std::vector<QSizeF>& sizes, double maxWidth, double spacing,
                               double lineSpacing);
  // The size of the whole layout: the proposed width when there is one
  // (else the widest line), by the bottom of the last line.
  static QSizeF sizeThatFits(const std::vector<QSizeF>& sizes, std::optional<double> proposedWidth, double spacing,
                             double lineSpacing);

  FlowLayout(double spacing, double lineSpacing, QWidget* parent = nullptr);
  ~FlowLayout() override;

  void addItem(QLayoutItem* item) override;
  int count() const override;
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  Qt::Orientations expandingDirections() const override { return {}; }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;
  QSize minimumSize() const override;
  void setGeometry(const QRect& rect) override;

 private:
  std::vector<QSizeF> itemSizes() const;

  double spacing_;
  double lineSpacing_;
  QList<QLayoutItem*> items_;
};

}  // namespace tokvane
