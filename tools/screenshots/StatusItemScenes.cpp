// The status item on a panel, as the hosts draw it: on a dark and a light
// panel (the scene's appearance), in each severity, on a host that shows the
// text beside the icon (the symbolic icon recoloured to the panel's text
// colour, or the tinted glyph) and on one that does not (the chip).

#include <QPainter>
#include <QSvgRenderer>

#include "Tokvane/StatusItem/StatusIcon.hpp"
#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SymbolImage.hpp"
#include "tools/screenshots/Scene.hpp"

namespace tokvane::screenshots {
namespace {

constexpr int panelHeight = 28;
constexpr int iconSize = 22;
constexpr qreal ratio = 2.0;

QColor panelColor(Appearance appearance) {
  return appearance == Appearance::dark ? QColor(24, 24, 26) : QColor(238, 238, 240);
}
QColor panelText(Appearance appearance) { return appearance == Appearance::dark ? Qt::white : QColor(30, 30, 32); }

// The icon as a host shows it: a symbolic icon takes the panel's text colour.
QImage hostIcon(const StatusIcon& icon, Appearance appearance) {
  const int pixels = int(iconSize * ratio);
  if (!icon.isSymbolic()) {
    QImage image = StatusIconArt::render(icon, pixels);
    image.setDevicePixelRatio(ratio);
    return image;
  }
  QSvgRenderer renderer(StatusIconArt::glyphSVG(icon));
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
  }
  image = SymbolImage::tinted(image, panelText(appearance));
  image.setDevicePixelRatio(ratio);
  return image;
}

QImage renderPanel(const StatusTitle& title, bool labelHost, Appearance appearance) {
  const StatusPresentation presentation = presentStatus(title, labelHost);
  const QFont font = Fonts::monospacedDigits(13, QFont::Medium);
  const int textWidth = labelHost && !presentation.label.isEmpty()
                            ? int(QFontMetricsF(font).horizontalAdvance(presentation.label)) + 6
                            : 0;
  // A neighbouring item and a clock, so the item is seen among others.
  const int width = 12 + 18 + 12 + iconSize + textWidth + 16 + 44 + 12;
  QImage image(QSize(width, panelHeight) * ratio, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(ratio);
  image.fill(panelColor(appearance));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  int x = 12;
  painter.setPen(Qt::NoPen);
  painter.setBrush(panelText(appearance));
  painter.drawEllipse(QRectF(x + 3, (panelHeight - 12) / 2.0, 12, 12));
  x += 18 + 12;
  painter.drawImage(QPointF(x, (panelHeight - iconSize) / 2.0), hostIcon(presentation.icon, appearance));
  x += iconSize;
  painter.setFont(font);
  painter.setPen(panelText(appearance));
  if (textWidth > 0) {
    painter.drawText(QRectF(x + 4, 0, textWidth, panelHeight), Qt::AlignVCenter | Qt::AlignLeft, presentation.label);
    x += textWidth;
  }
  x += 16;
  painter.setFont(Fonts::monospacedDigits(13));
  painter.drawText(QRectF(x, 0, 44, panelHeight), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("09:41"));
  return image;
}

StatusTitle sample(Severity severity) {
  switch (severity) {
    case Severity::normal:
      return StatusTitle{"58% · 2h 14m", ProviderID::claude, severity, "Claude · Session 58% left · resets in 2h 14m"};
    case Severity::warning:
      return StatusTitle{"21% · 48m", ProviderID::claude, severity, "Claude · Session 21% left · resets in 48m"};
    case Severity::critical:
      return StatusTitle{"4% · 12m", ProviderID::codex, severity, "Codex · 5h 4% left · resets in 12m"};
  }
  return StatusTitle::initial();
}

#define STATUS_SCENES(host, labels)                                                                             \
  SceneRegistration host##Normal("status-item-" #host "-normal",                                                \
                                 [](Appearance a) { return renderPanel(sample(Severity::normal), labels, a); }); \
  SceneRegistration host##Warning("status-item-" #host "-warning", [](Appearance a) {                           \
    return renderPanel(sample(Severity::warning), labels, a);                                                   \
  });                                                                                                           \
  SceneRegistration host##Critical("status-item-" #host "-critical", [](Appearance a) {                         \
    return renderPanel(sample(Severity::critical), labels, a);                                                  \
  });                                                                                                           \
  SceneRegistration host##Idle("status-item-" #host "-idle",                                                    \
                               [](Appearance a) { return renderPanel(StatusTitle::initial(), labels, a); });

STATUS_SCENES(label, true)
STATUS_SCENES(chip, false)

}  // namespace
}  // namespace tokvane::screenshots
