#pragma once

#include <QAbstractButton>

#include "Tokvane/Theme/DynamicColor.hpp"

namespace tokvane {

// A borderless button drawn as text (a link or a plain text button), in a
// colour of its own; the pointer turns into a hand over it.
class TextButton final : public QAbstractButton {
  Q_OBJECT

 public:
  TextButton(const QString& text, const QFont& font, DynamicColor color, QWidget* parent = nullptr);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  DynamicColor color_;
};

}  // namespace tokvane
