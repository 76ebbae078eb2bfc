#include "Tokvane/Stats/ByTypeBar.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "Tokvane/Stats/FlowLayout.hpp"
#include "Tokvane/Stats/StatsStyle.hpp"
#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {

namespace {

constexpr double shadeTable[] = {0.25, 0.42, 0.6, 0.8, 1.0};

QColor shade(int position, Appearance appearance) {
  QColor colour = SystemColors::label().resolve(appearance);
  colour.setAlphaF(static_cast<float>(colour.alphaF() * ByTypeBar::shadeOpacity(position)));
  return colour;
}

// The bar itself: paints the capsules of its owner's segments.
class BarStrip final : public QWidget {
 public:
  explicit BarStrip(const ByTypeBar& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
    setFixedHeight(static_cast<int>(ByTypeBar::barHeight));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }
  QSize sizeHint() const override { return QSize(100, static_cast<int>(ByTypeBar::barHeight)); }

 protected:
  void paintEvent(QPaintEvent*) override {
    std::vector<double> amounts;
    for (const auto& segment : owner_.segments()) amounts.push_back(segment.amount);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const Appearance appearance = appearanceOf(palette());
    const auto pieces = ByTypeBar::pieces(amounts, width());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      const QRectF rect(pieces[i].x, 0, pieces[i].width, ByTypeBar::barHeight);
      const double radius = std::min(rect.width(), rect.height()) / 2;
      painter.setBrush(shade(static_cast<int>(i), appearance));
      painter.drawRoundedRect(rect, radius, radius);
    }
  }

 private:
  const ByTypeBar& owner_;
};

// One legend entry: swatch, label (secondary), amount; never wraps inside.
class LegendItem final : public QWidget {
 public:
  LegendItem(int position, SummaryDisplay::Segment segment, QWidget* parent)
      : QWidget(parent), position_(position), segment_(std::move(segment)) {
    setAccessibleName(QString::fromStdString(segment_.label + " " + segment_.text));
  }

  QSize sizeHint() const override {
    const QFontMetricsF metrics(Fonts::system(fontSize));
    const double width = swatch + spacing + metrics.horizontalAdvance(label()) + spacing +
                         QFontMetricsF(Fonts::monospacedDigits(fontSize)).horizontalAdvance(text());
    return QSize(static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(std::max(swatch, metrics.height()))));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Appearance appearance = appearanceOf(palette());
    const QFont font = Fonts::system(fontSize);
    const QFontMetricsF metrics(font);
    const double h = height();
    painter.setPen(Qt::NoPen);
    painter.setBrush(shade(position_, appearance));
    painter.drawRoundedRect(QRectF(0, (h - swatch) / 2, swatch, swatch), 2, 2);

    double x = swatch + spacing;
    const double baseline = (h - metrics.height()) / 2 + metrics.ascent();
    painter.setFont(font);
    painter.setPen(SystemColors::secondaryLabel().resolve(appearance));
    painter.drawText(QPointF(x, baseline), label());
    x += metrics.horizontalAdvance(label()) + spacing;
    painter.setFont(Fonts::monospacedDigits(fontSize));
    painter.setPen(SystemColors::label().resolve(appearance));
    painter.drawText(QPointF(x, baseline), text());
  }

 private:
  static constexpr double fontSize = 11;
  static constexpr double swatch = 8;
  static constexpr double spacing = 5;

  QString label() const { return QString::fromStdString(segment_.label); }
  QString text() const { return QString::fromStdString(segment_.text); }

  int position_;
  SummaryDisplay::Segment segment_;
};

}  // namespace

double ByTypeBar::shadeOpacity(int position) {
  const int index = std::clamp(position, 0, static_cast<int>(std::size(shadeTable)) - 1);
  return shadeTable[index];
}

std::vector<ByTypeBar::Piece> ByTypeBar::pieces(const std::vector<double>& amounts, double width) {
  std::vector<Piece> result;
  const std::size_t n = amounts.size();
  if (n == 0) return result;
  double total = 0;
  for (double amount : amounts) total += amount;
  double available = width - gap * static_cast<double>(n - 1);
  if (!(available > 0)) available = 0;
  double x = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double f = total > 0 ? amounts[i] / total : 0;
    const double w = std::max(minimumWidth, available * f);
    result.push_back({x, w, shadeOpacity(static_cast<int>(i))});
    x += w + gap;
  }
  return result;
}

ByTypeBar::ByTypeBar(QWidget* parent) : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(8);
  bar_ = new BarStrip(*this, this);
  column->addWidget(bar_);
  legend_ = new QWidget(this);
  legendLayout_ = new FlowLayout(12, 4, legend_);
  column->addWidget(legend_);
}

void ByTypeBar::setSegments(std::vector<SummaryDisplay::Segment> segments) {
  if (segments == segments_) return;
  segments_ = std::move(segments);
  while (QLayoutItem* item = legendLayout_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  for (std::size_t i = 0; i < segments_.size(); ++i) {
    auto* item = new LegendItem(static_cast<int>(i), segments_[i], legend_);
    legendLayout_->addWidget(item);
    item->show();
  }
  legendLayout_->invalidate();
  bar_->update();
  StatsStyle::relayoutFrom(legend_);
}

}  // namespace tokvane
