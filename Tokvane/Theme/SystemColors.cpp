#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane::SystemColors {

namespace {

QColor rgb(int r, int g, int b, double alpha = 1.0) {
  QColor color(r, g, b);
  color.setAlphaF(static_cast<float>(alpha));
  return color;
}

DynamicColor pair(QColor light, QColor dark) { return {light, dark}; }

}  // namespace

DynamicColor label() { return pair(rgb(0, 0, 0, 0.85), rgb(255, 255, 255, 0.85)); }
DynamicColor secondaryLabel() { return pair(rgb(0, 0, 0, 0.50), rgb(255, 255, 255, 0.55)); }
DynamicColor tertiaryLabel() { return pair(rgb(0, 0, 0, 0.26), rgb(255, 255, 255, 0.25)); }
DynamicColor quaternaryLabel() { return pair(rgb(0, 0, 0, 0.10), rgb(255, 255, 255, 0.10)); }

DynamicColor windowBackground() { return pair(rgb(236, 236, 236), rgb(50, 50, 50)); }
DynamicColor controlBackground() { return pair(rgb(255, 255, 255), rgb(30, 30, 30)); }
DynamicColor underPageBackground() { return pair(rgb(150, 150, 150, 0.9), rgb(40, 40, 40)); }
DynamicColor separator() { return pair(rgb(0, 0, 0, 0.10), rgb(255, 255, 255, 0.10)); }
DynamicColor gridLine() { return pair(rgb(230, 230, 230), rgb(26, 26, 26)); }
DynamicColor fill() { return pair(rgb(0, 0, 0, 0.10), rgb(255, 255, 255, 0.10)); }
DynamicColor secondaryFill() { return pair(rgb(0, 0, 0, 0.05), rgb(255, 255, 255, 0.05)); }

DynamicColor red() { return pair(rgb(255, 59, 48), rgb(255, 69, 58)); }
DynamicColor orange() { return pair(rgb(255, 149, 0), rgb(255, 159, 10)); }
DynamicColor yellow() { return pair(rgb(255, 204, 0), rgb(255, 214, 10)); }
DynamicColor green() { return pair(rgb(40, 205, 65), rgb(50, 215, 75)); }
DynamicColor mint() { return pair(rgb(0, 199, 190), rgb(102, 212, 207)); }
DynamicColor teal() { return pair(rgb(89, 173, 196), rgb(106, 196, 220)); }
DynamicColor cyan() { return pair(rgb(85, 190, 240), rgb(90, 200, 245)); }
DynamicColor blue() { return pair(rgb(0, 122, 255), rgb(10, 132, 255)); }
DynamicColor indigo() { return pair(rgb(88, 86, 214), rgb(94, 92, 230)); }
DynamicColor purple() { return pair(rgb(175, 82, 222), rgb(191, 90, 242)); }
DynamicColor pink() { return pair(rgb(255, 45, 85), rgb(255, 55, 95)); }
DynamicColor brown() { return pair(rgb(162, 132, 94), rgb(172, 142, 104)); }
DynamicColor gray() { return pair(rgb(142, 142, 147), rgb(152, 152, 157)); }
DynamicColor accent() { return blue(); }

}  // namespace tokvane::SystemColors
