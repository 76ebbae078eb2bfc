#pragma once

#include <QLabel>

#include "Tokvane/Theme/DynamicColor.hpp"

namespace tokvane {

// A label whose text colour follows the appearance of the palette it
// inherits (a secondary label turns light grey in the dark appearance
// without being rebuilt).
class TintedLabel final : public QLabel {
  Q_OBJECT

 public:
  TintedLabel(const QString& text, const QFont& font, DynamicColor color, QWidget* parent = nullptr);

  void setColor(DynamicColor color);
  // Sets the text only when it differs (no relayout otherwise).
  void setTextIfChanged(const QString& text);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void applyColor();

  DynamicColor color_;
};

}  // namespace tokvane
