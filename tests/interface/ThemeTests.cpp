#include <gtest/gtest.h>

#include <QPainter>

#include "Tokvane/Theme/Appearance.hpp"
#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SymbolImage.hpp"
#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {
namespace {

TEST(Theme, PaletteOfEachAppearanceReadsBackAsThatAppearance) {
  for (Appearance appearance : {Appearance::light, Appearance::dark}) {
    EXPECT_EQ(appearanceOf(paletteFor(appearance)), appearance);
  }
}

TEST(Theme, DynamicColorResolvesPerAppearance) {
  DynamicColor red = SystemColors::red();
  EXPECT_EQ(red.resolve(Appearance::light), QColor(255, 59, 48));
  EXPECT_EQ(red.resolve(paletteFor(Appearance::dark)), QColor(255, 69, 58));
}

TEST(Theme, FontsArePixelSized) {
  QFont font = Fonts::system(13, QFont::DemiBold);
  EXPECT_EQ(font.pixelSize(), 13);
  EXPECT_EQ(font.weight(), QFont::DemiBold);
}

TEST(Theme, SymbolsRenderTintedAndUnknownOnesAreNull) {
  ASSERT_TRUE(SymbolImage::has("arrow.clockwise"));
  QImage image = SymbolImage::render("arrow.clockwise", QSizeF(16, 16), QColor(255, 0, 0), 2.0);
  ASSERT_EQ(image.size(), QSize(32, 32));
  bool sawTint = false;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      QColor pixel = image.pixelColor(x, y);
      if (pixel.alpha() == 255) {
        EXPECT_EQ(pixel, QColor(255, 0, 0));
        sawTint = true;
      }
    }
  }
  EXPECT_TRUE(sawTint);
  EXPECT_FALSE(SymbolImage::has("no.such.symbol"));
  EXPECT_TRUE(SymbolImage::render("no.such.symbol", QSizeF(16, 16), Qt::black).isNull());
}

}  // namespace
}  // namespace tokvane
