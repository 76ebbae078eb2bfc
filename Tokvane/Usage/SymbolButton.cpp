#include "Tokvane/Usage/SymbolButton.hpp"

#include <QPainter>

#include "Tokvane/Usage/SymbolCache.hpp"
#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {

SymbolButton::SymbolButton(const QString& symbol, int size, QWidget* parent)
    : QAbstractButton(parent), symbol_(symbol), size_(size) {
  setCursor(Qt::PointingHandCursor);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SymbolButton::sizeHint() const { return QSize(size_, size_); }

void SymbolButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const DynamicColor tint = isDown() ? SystemColors::label() : SystemColors::secondaryLabel();
  QRectF box((width() - size_) / 2.0, (height() - size_) / 2.0, size_, size_);
  SymbolCache::paint(painter, symbol_, box, tint.resolve(palette()));
}

}  // namespace tokvane
