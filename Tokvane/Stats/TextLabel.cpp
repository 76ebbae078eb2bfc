#include "Tokvane/Stats/TextLabel.hpp"

#include <QEvent>

namespace tokvane {

TextLabel::TextLabel(const QFont& font, DynamicColor colour, QWidget* parent)
    : QLabel(parent), colour_(std::move(colour)) {
  setTextFormat(Qt::PlainText);
  setFont(font);
  applyColour();
}

void TextLabel::setPlainText(const QString& text) {
  if (text != this->text()) setText(text);
}

void TextLabel::setColour(DynamicColor colour) {
  if (colour == colour_) return;
  colour_ = std::move(colour);
  applyColour();
}

void TextLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) applyColour();
}

void TextLabel::applyColour() {
  const QColor colour = colour_.resolve(palette());
  if (palette().color(QPalette::WindowText) == colour && palette().color(QPalette::Text) == colour) return;
  QPalette p = palette();
  p.setColor(QPalette::WindowText, colour);
  p.setColor(QPalette::Text, colour);
  setPalette(p);
}

}  // namespace tokvane
