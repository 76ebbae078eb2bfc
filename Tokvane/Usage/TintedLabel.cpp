#include "Tokvane/Usage/TintedLabel.hpp"

#include <QEvent>

namespace tokvane {

TintedLabel::TintedLabel(const QString& text, const QFont& font, DynamicColor color, QWidget* parent)
    : QLabel(text, parent), color_(std::move(color)) {
  setFont(font);
  setTextFormat(Qt::PlainText);
  applyColor();
}

void TintedLabel::setColor(DynamicColor color) {
  if (color_ == color) return;
  color_ = std::move(color);
  applyColor();
}

void TintedLabel::setTextIfChanged(const QString& text) {
  if (this->text() != text) setText(text);
}

void TintedLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) applyColor();
}

void TintedLabel::applyColor() {
  QColor wanted = color_.resolve(palette());
  if (palette().color(QPalette::WindowText) == wanted && palette().color(QPalette::Text) == wanted) return;
  QPalette adjusted = palette();
  adjusted.setColor(QPalette::WindowText, wanted);
  adjusted.setColor(QPalette::Text, wanted);
  setPalette(adjusted);
}

}  // namespace tokvane
