#pragma once

#include <QFont>

namespace tokvane {

// The interface's fonts. Sizes are logical pixels (setPixelSize, never
// points). DejaVu Sans has tabular digits, so counts and countdowns that
// change in place keep their width.
namespace Fonts {

QFont system(qreal pixelSize, QFont::Weight weight = QFont::Normal);
// The same face, asked for where the digits must keep one width.
QFont monospacedDigits(qreal pixelSize, QFont::Weight weight = QFont::Normal);

}  // namespace Fonts

}  // namespace tokvane
