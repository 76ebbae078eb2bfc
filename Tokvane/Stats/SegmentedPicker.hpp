#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

namespace tokvane {

// A small segmented control: one segment per option, the chosen one raised.
// A click or the arrow keys choose; `chosen` reports a choice the user made
// (not one set from outside).
class SegmentedPicker : public QWidget {
  Q_OBJECT
 public:
  SegmentedPicker(const QString& accessibleLabel, QStringList options, QWidget* parent = nullptr);

  int selectedIndex() const { return selected_; }
  // Shows `index` as chosen, without telling anyone.
  void setSelectedIndex(int index);
  // The segment under a point, or -1.
  int segmentAt(QPointF point) const;
  // Chooses as the user would: shows it and emits `chosen` when it changed.
  void choose(int index);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 signals:
  void chosen(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  double segmentWidth() const;

  QStringList options_;
  int selected_ = 0;
};

}  // namespace tokvane
