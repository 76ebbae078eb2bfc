#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>

namespace tokvane {

// A row of equally wide segments of which one is chosen, at its ideal size.
class SegmentedControl final : public QWidget {
  Q_OBJECT

 public:
  SegmentedControl(QStringList labels, QWidget* parent = nullptr);

  int current() const { return current_; }
  // Chooses a segment without telling onChange.
  void setCurrent(int index);
  std::function<void(int)> onChange;

  QRect segmentRect(int index) const;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void choose(int index);
  int segmentWidth() const;

  QStringList labels_;
  int current_ = 0;
};

}  // namespace tokvane
