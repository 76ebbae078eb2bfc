#include "Tokvane/Usage/ProviderLogo.hpp"

#include <QPainter>
#include <QSvgRenderer>
#include <cmath>

#include "Tokvane/Theme/SymbolImage.hpp"
#include "Tokvane/Theme/SystemColors.hpp"
#include "TokvaneCore/Presentation/ProviderDisplay.hpp"

namespace tokvane {

ProviderLogo::ProviderLogo(ProviderID provider, int size, QWidget* parent)
    : QWidget(parent), provider_(provider), size_(size) {
  setFixedSize(size + 4, size + 4);
  setAccessibleName(QString::fromUtf8(displayName(provider).data(), static_cast<int>(displayName(provider).size())));
}

void ProviderLogo::setProvider(ProviderID provider) {
  if (provider == provider_) return;
  provider_ = provider;
  cached_ = QImage();
  setAccessibleName(QString::fromUtf8(displayName(provider).data(), static_cast<int>(displayName(provider).size())));
  update();
}

QSize ProviderLogo::sizeHint() const { return QSize(size_ + 4, size_ + 4); }

void ProviderLogo::paintEvent(QPaintEvent*) {
  const std::string_view svg = logo(provider_);
  if (svg.empty()) return;
  QPainter painter(this);
  const qreal ratio = devicePixelRatioF();
  const QColor tint = SystemColors::label().resolve(palette());
  if (cached_.isNull() || cached_.devicePixelRatio() != ratio || cachedTint_ != tint.rgba()) {
    QSvgRenderer renderer(QByteArray(svg.data(), static_cast<qsizetype>(svg.size())));
    if (!renderer.isValid()) return;
    const int pixels = static_cast<int>(std::ceil(size_ * ratio));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter imagePainter(&image);
      imagePainter.setRenderHint(QPainter::Antialiasing);
      QSizeF drawn = renderer.defaultSize().toSizeF().scaled(QSizeF(pixels, pixels), Qt::KeepAspectRatio);
      renderer.render(&imagePainter,
                      QRectF(QPointF((pixels - drawn.width()) / 2, (pixels - drawn.height()) / 2), drawn));
    }
    image.setDevicePixelRatio(ratio);
    cached_ = SymbolImage::tinted(image, tint);
    cachedTint_ = tint.rgba();
  }
  painter.drawImage(QRectF(2, 2, size_, size_), cached_);
}

}  // namespace tokvane
