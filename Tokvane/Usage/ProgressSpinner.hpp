#pragma once

#include <QWidget>

namespace tokvane {

// A small indeterminate progress indicator: a turning arc, animated only
// while shown.
class ProgressSpinner final : public QWidget {
  Q_OBJECT

 public:
  explicit ProgressSpinner(int size, QWidget* parent = nullptr);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  int size_;
  int angle_ = 0;
  int timer_ = 0;
};

}  // namespace tokvane
