#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "VuroTheme/Compositor.hpp"
#include "VuroTheme/GlassSurface.hpp"

namespace vuro {
namespace {

TEST(GlassSurface, TheDesktopTakesTheBranchWithoutGlass) {
  EXPECT_FALSE(GlassSurface::isAvailable());
  EXPECT_DOUBLE_EQ(GlassSurface::panelCornerRadius(), 14.0);
  EXPECT_DOUBLE_EQ(GlassSurface::floatingShadowMargin(), 0.0);
}

TEST(GlassSurface, TheMaskIsASmallStretchableRoundedRectangle) {
  for (qreal radius : {14.0, 22.0, 0.0}) {
    const MaskImage mask = GlassSurface::maskImage(radius);
    const int side = 2 * int(radius) + 1;
    EXPECT_EQ(mask.size(), QSize(side, side));
    EXPECT_EQ(mask.capInsets, QMargins(int(radius), int(radius), int(radius), int(radius)));
    EXPECT_EQ(qAlpha(mask.image.pixel(side / 2, side / 2)), 255);
    EXPECT_EQ(qAlpha(mask.image.pixel(side / 2, 0)), 255);  // the straight edge is full
    if (radius > 0) {
      EXPECT_EQ(qAlpha(mask.image.pixel(0, 0)), 0);  // the corner is cut
    }
  }
}

TEST(GlassSurface, TheMaskIsDrawnAfreshAtThePaintersResolution) {
  const MaskImage mask = GlassSurface::maskImage(14);
  QImage target(QSize(29, 29) * 2, QImage::Format_ARGB32_Premultiplied);
  target.setDevicePixelRatio(2);
  target.fill(Qt::transparent);
  {
    QPainter painter(&target);
    mask.draw(painter, QRect(0, 0, 29, 29));
  }
  // Not the 1x image scaled up: the same as one drawn at 2x.
  const QImage sharp = MaskImage::roundedRect(14, 2).image;
  int worst = 0;
  for (int y = 0; y < 58; ++y) {
    for (int x = 0; x < 58; ++x) {
      worst = std::max(worst, std::abs(qAlpha(target.pixel(x, y)) - qAlpha(sharp.pixel(x, y))));
    }
  }
  EXPECT_LE(worst, 2);
}

TEST(GlassSurface, AFloatingPanelIsItsMaskedSurfaceWithTheWindowsShadow) {
  auto* content = new QLabel(QStringLiteral("content"));
  const auto floating = GlassSurface::floating(content, QSize(300, 200), 22);
  std::unique_ptr<QWidget> owner(floating.view);
  EXPECT_EQ(floating.size, QSize(300, 200));
  EXPECT_TRUE(floating.wantsWindowShadow);
  auto* view = qobject_cast<VisualEffectView*>(floating.view);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->size(), QSize(300, 200));
  EXPECT_EQ(view->content(), content);
  EXPECT_EQ(content->geometry(), QRect(0, 0, 300, 200));
  ASSERT_TRUE(view->maskImage().has_value());
  EXPECT_EQ(*view->maskImage(), GlassSurface::maskImage(22));

  // The content keeps filling the surface when it is resized.
  view->show();
  view->resize(320, 240);
  EXPECT_EQ(content->geometry(), QRect(0, 0, 320, 240));
}

TEST(GlassSurface, AMaskedSurfaceIsCutAtItsCornersOnly) {
  auto* view = GlassSurface::wrap(new QWidget, QSize(60, 40), 10, true);
  std::unique_ptr<QWidget> owner(view);
  view->content()->hide();
  QImage image(60, 40, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  view->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
  EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(image.pixel(59, 39)), 0);
  EXPECT_EQ(qAlpha(image.pixel(30, 20)), 255);  // opaque: the window is not translucent
  EXPECT_EQ(qAlpha(image.pixel(30, 0)), 255);

  auto* square = GlassSurface::wrap(new QWidget, QSize(60, 40), 10, false);
  std::unique_ptr<QWidget> squareOwner(square);
  EXPECT_FALSE(square->maskImage().has_value());
}

TEST(GlassSurface, TheMaterialIsTranslucentOnlyInATranslucentWindow) {
  QPalette palette;
  EXPECT_EQ(VisualEffectView::materialColor(palette, false).alpha(), 255);
  EXPECT_LT(VisualEffectView::materialColor(palette, true).alpha(), 255);
  EXPECT_EQ(VisualEffectView::materialColor(palette, true).rgb(), palette.color(QPalette::Window).rgb());
}

TEST(GlassSurface, ConfigureInstallsTheContentOnAMovableSurfaceOfTheGivenSize) {
  QWidget window;
  auto* content = new QLabel(QStringLiteral("Welcome"));
  GlassSurface::configure(window, content, QSize(500, 400));
  window.show();
  EXPECT_EQ(window.size(), QSize(500, 400));
  auto* view = qobject_cast<VisualEffectView*>(content->parentWidget());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->parentWidget(), &window);
  EXPECT_EQ(view->geometry(), QRect(0, 0, 500, 400));
  EXPECT_EQ(content->geometry(), QRect(0, 0, 500, 400));
  EXPECT_TRUE(view->movesWindow());
  EXPECT_FALSE(view->maskImage().has_value());
  // No compositor offscreen: the window stays opaque.
  EXPECT_FALSE(Compositor::isRunning());
  EXPECT_FALSE(window.testAttribute(Qt::WA_TranslucentBackground));
}

TEST(GlassSurface, TheCardsBorderLiesInsideItsShape) {
  const QRectF bounds(0, 0, 100, 50);
  EXPECT_EQ(VuroCard::fillRect(bounds), bounds);
  EXPECT_EQ(VuroCard::borderRect(bounds), QRectF(0.375, 0.375, 99.25, 49.25));
  std::unique_ptr<VuroCard> card(GlassSurface::vuroCard(new QLabel(QStringLiteral("x")), 12));
  EXPECT_DOUBLE_EQ(card->cornerRadius(), 12);
}

TEST(GlassSurface, ThePrimaryButtonIsFilledWithTheAccentAndIsTheDefault) {
  QPushButton primary(QStringLiteral("Continue"));
  QPushButton secondary(QStringLiteral("Back"));
  GlassSurface::primaryGlassButtonStyle(primary);
  GlassSurface::secondaryGlassButtonStyle(secondary);
  EXPECT_TRUE(primary.isDefault());
  EXPECT_EQ(primary.palette().color(QPalette::Button), primary.palette().color(QPalette::Highlight));
  EXPECT_FALSE(secondary.isDefault());
  EXPECT_FALSE(secondary.isFlat());
}

}  // namespace
}  // namespace vuro

namespace vuro {
namespace {

int alphaAt(const QImage& image, qreal x, qreal y) {
  const qreal ratio = image.devicePixelRatio();
  return qAlpha(image.pixel(int(x * ratio), int(y * ratio)));
}

QImage rendered(QWidget& widget) {
  QImage image(widget.size() * 2, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(2);
  image.fill(Qt::transparent);
  widget.render(&image);
  return image;
}

TEST(FloatingShadowContainer, TheShadowLiesAroundTheInsetRectangleAndNeverInsideIt) {
  FloatingShadowContainer container(QRect(0, 0, 356, 256), 28, 22);
  EXPECT_EQ(container.shadowPath().boundingRect(), QRectF(28, 28, 300, 200));
  EXPECT_EQ(container.shadowMask().fillRule(), Qt::OddEvenFill);
  EXPECT_FALSE(container.shadowMask().contains(QPointF(178, 128)));
  EXPECT_TRUE(container.shadowMask().contains(QPointF(10, 128)));

  const QImage image = rendered(container);
  EXPECT_EQ(alphaAt(image, 178, 128), 0);  // under the surface: nothing
  EXPECT_EQ(alphaAt(image, 40, 40), 0);
  const int below = alphaAt(image, 178, 232);  // just under the bottom edge
  const int above = alphaAt(image, 178, 24);   // just over the top edge
  EXPECT_GT(below, 0);
  EXPECT_GT(below, above);  // cast downwards
  EXPECT_LE(below, int(0.28 * 255) + 1);
  EXPECT_EQ(alphaAt(image, 1, 1), 0);  // faded out at the far corner
}

TEST(FloatingShadowContainer, ResizingKeepsTheRectangleTheMarginInside) {
  FloatingShadowContainer container(QRect(0, 0, 356, 256), 28, 22);
  container.resize(500, 300);
  container.show();
  EXPECT_EQ(container.shadowPath().boundingRect(), QRectF(28, 28, 444, 244));
  EXPECT_DOUBLE_EQ(container.margin(), 28);
  EXPECT_DOUBLE_EQ(container.cornerRadius(), 22);
  const QImage image = rendered(container);
  EXPECT_EQ(alphaAt(image, 250, 150), 0);
  EXPECT_GT(alphaAt(image, 250, 276), 0);
}

}  // namespace
}  // namespace vuro
