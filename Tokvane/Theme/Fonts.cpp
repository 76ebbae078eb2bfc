#include "Tokvane/Theme/Fonts.hpp"

#include <cmath>

namespace tokvane::Fonts {

QFont system(qreal pixelSize, QFont::Weight weight) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
  font.setWeight(weight);
  return font;
}

QFont monospacedDigits(qreal pixelSize, QFont::Weight weight) { return system(pixelSize, weight); }

}  // namespace tokvane::Fonts
