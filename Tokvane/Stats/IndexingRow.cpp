#include "Tokvane/Stats/IndexingRow.hpp"

#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

#include "Tokvane/Stats/StatsStyle.hpp"
#include "Tokvane/Stats/SummaryDisplay.hpp"
#include "Tokvane/Stats/TextLabel.hpp"
#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {

namespace {

class ProgressStrip final : public QWidget {
 public:
  ProgressStrip(const IndexingRow& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
    setFixedHeight(4);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const Appearance appearance = appearanceOf(palette());
    const QRectF track(0, 0, width(), height());
    painter.setBrush(SystemColors::fill().resolve(appearance));
    painter.drawRoundedRect(track, 2, 2);
    const double fraction = IndexingRow::filledFraction(owner_.progress());
    if (fraction > 0) {
      painter.setBrush(StatsStyle::accent(owner_.progress().provider, appearance));
      painter.drawRoundedRect(QRectF(0, 0, std::max(track.height(), track.width() * fraction), track.height()), 2, 2);
    }
  }

 private:
  const IndexingRow& owner_;
};

}  // namespace

double IndexingRow::filledFraction(const IndexingProgress& progress) {
  const double total = std::max(static_cast<double>(progress.bytesTotal), 1.0);
  return std::clamp(static_cast<double>(progress.bytesRead) / total, 0.0, 1.0);
}

IndexingRow::IndexingRow(QWidget* parent) : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(6);
  text_ = new TextLabel(Fonts::monospacedDigits(13), SystemColors::secondaryLabel(), this);
  column->addWidget(text_);
  bar_ = new ProgressStrip(*this, this);
  column->addWidget(bar_);
  text_->setPlainText(SummaryDisplay::indexingText(progress_));
}

void IndexingRow::setProgress(const IndexingProgress& progress) {
  if (progress == progress_) return;
  progress_ = progress;
  text_->setPlainText(SummaryDisplay::indexingText(progress_));
  bar_->update();
}

QString IndexingRow::text() const { return text_->text(); }

}  // namespace tokvane
