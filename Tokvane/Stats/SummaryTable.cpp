#include "Tokvane/Stats/SummaryTable.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "Tokvane/Stats/SectionTitle.hpp"
#include "Tokvane/Stats/SegmentedPicker.hpp"
#include "Tokvane/Stats/StatsStyle.hpp"
#include "Tokvane/Stats/TextLabel.hpp"
#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {

namespace {

constexpr int cellSpacing = 8;
constexpr int rankWidth = 20;
constexpr double rowPadding = 7;
constexpr double barHeight = 2;

QString qs(const std::string& text) { return QString::fromStdString(text); }

// A one-pixel line between rows.
class Divider final : public QWidget {
 public:
  explicit Divider(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), SystemColors::separator().resolve(palette()));
  }
};

// One row: rank, logo and title over the share bar, cost, share, tokens.
class BreakdownRowView final : public QWidget {
 public:
  BreakdownRowView(SummaryDisplay::BreakdownRow row, QWidget* parent) : QWidget(parent), row_(std::move(row)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(qs(std::to_string(row_.rank) + " " + row_.title + " " + row_.cost + " " + row_.share + " " +
                         row_.tokens));
  }

  QSize sizeHint() const override {
    const double h = rowPadding + QFontMetricsF(Fonts::system(13)).height() + 4 + barHeight + rowPadding;
    return QSize(300, static_cast<int>(std::ceil(h)));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Appearance appearance = appearanceOf(palette());
    const QColor label = SystemColors::label().resolve(appearance);
    const QColor secondary = SystemColors::secondaryLabel().resolve(appearance);
    const QFont font = Fonts::monospacedDigits(13);
    const QFontMetricsF metrics(font);
    painter.setFont(font);

    // Cells from the right: tokens, share, cost; the title block takes the rest.
    const double right = width();
    const QRectF tokens(right - SummaryTable::tokensWidth, 0, SummaryTable::tokensWidth, 0);
    const QRectF share(tokens.left() - cellSpacing - SummaryTable::shareWidth, 0, SummaryTable::shareWidth, 0);
    const QRectF cost(share.left() - cellSpacing - SummaryTable::costWidth, 0, SummaryTable::costWidth, 0);
    const double titleLeft = rankWidth + cellSpacing;
    const double titleWidth = std::max(0.0, cost.left() - cellSpacing - titleLeft);

    // The block of title and bar is centred in the row, the other cells on it.
    const double blockHeight = metrics.height() + 4 + barHeight;
    const double blockTop = (height() - blockHeight) / 2;
    const double centreY = height() / 2.0;
    const double cellBaseline = centreY - metrics.height() / 2 + metrics.ascent();

    painter.setPen(secondary);
    painter.drawText(QPointF(0, cellBaseline), QString::number(row_.rank));

    double x = titleLeft;
    const double titleBaseline = blockTop + metrics.ascent();
    if (row_.provider) {
      const QImage logo = StatsStyle::logo(*row_.provider, 11, label, devicePixelRatioF());
      if (!logo.isNull()) painter.drawImage(QPointF(x, blockTop + (metrics.height() - 11) / 2), logo);
      x += 11 + 5;
    }
    painter.setPen(label);
    painter.drawText(QPointF(x, titleBaseline),
                     metrics.elidedText(qs(row_.title), Qt::ElideMiddle, std::max(0.0, titleLeft + titleWidth - x)));

    if (row_.fraction > 0) {
      QColor bar = row_.provider ? StatsStyle::accent(*row_.provider, appearance) : secondary;
      bar.setAlphaF(bar.alphaF() * 0.85f);
      const double w = std::max(2.0, titleWidth * row_.fraction);
      painter.setPen(Qt::NoPen);
      painter.setBrush(bar);
      painter.drawRoundedRect(QRectF(titleLeft, blockTop + metrics.height() + 4, w, barHeight), 1, 1);
    }

    auto trailing = [&](const QRectF& cell, const std::string& text, const QColor& colour) {
      const QString t = qs(text);
      painter.setPen(colour);
      painter.drawText(QPointF(cell.right() - metrics.horizontalAdvance(t), cellBaseline), t);
    };
    trailing(cost, row_.cost, label);
    trailing(share, row_.share, secondary);
    trailing(tokens, row_.tokens, secondary);
  }

 private:
  SummaryDisplay::BreakdownRow row_;
};

TextLabel* headerCell(const QString& text, int width, Qt::Alignment alignment, QWidget* parent) {
  auto* cell = new TextLabel(Fonts::system(11), SystemColors::secondaryLabel(), parent);
  cell->setPlainText(text);
  cell->setAlignment(alignment | Qt::AlignVCenter);
  if (width > 0) cell->setFixedWidth(width);
  return cell;
}

}  // namespace

std::size_t SummaryTable::visibleCount(std::size_t rows, bool showAll) {
  if (showAll || rows <= static_cast<std::size_t>(foldedRows)) return rows;
  return static_cast<std::size_t>(foldedRows);
}

std::string SummaryTable::toggleTitle(std::size_t rows, bool showAll) {
  if (rows <= static_cast<std::size_t>(foldedRows)) return {};
  return showAll ? "Show less" : "Show all " + std::to_string(rows);
}

SummaryTable::SummaryTable(std::shared_ptr<const Calendar> calendar, QWidget* parent)
    : QWidget(parent), calendar_(std::move(calendar)) {
  auto* stack = new QVBoxLayout(this);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(8);

  auto* header = new QHBoxLayout;
  header->setContentsMargins(0, 0, 0, 0);
  header->addWidget(new SectionTitle(QStringLiteral("Breakdown"), this), 0, Qt::AlignVCenter);
  header->addStretch(1);
  modePicker_ = new SegmentedPicker(QStringLiteral("Breakdown"), {QStringLiteral("Model"), QStringLiteral("Day")}, this);
  header->addWidget(modePicker_, 0, Qt::AlignVCenter);
  connect(modePicker_, &SegmentedPicker::chosen, this,
          [this](int index) { setMode(index == 0 ? BreakdownMode::model : BreakdownMode::day); });
  stack->addLayout(header);

  auto* table = new QVBoxLayout;
  table->setContentsMargins(0, 0, 0, 0);
  table->setSpacing(0);
  auto* columns = new QHBoxLayout;
  columns->setContentsMargins(0, 0, 0, 6);
  columns->setSpacing(cellSpacing);
  columns->addWidget(headerCell(QStringLiteral("#"), rankWidth, Qt::AlignLeft, this));
  titleColumn_ = headerCell(QStringLiteral("Model"), 0, Qt::AlignLeft, this);
  titleColumn_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  columns->addWidget(titleColumn_, 1);
  columns->addWidget(headerCell(QStringLiteral("Cost"), costWidth, Qt::AlignRight, this));
  columns->addWidget(headerCell(QStringLiteral("Share"), shareWidth, Qt::AlignRight, this));
  columns->addWidget(headerCell(QStringLiteral("Tokens"), tokensWidth, Qt::AlignRight, this));
  table->addLayout(columns);
  rowsBox_ = new QWidget(this);
  rowsLayout_ = new QVBoxLayout(rowsBox_);
  rowsLayout_->setContentsMargins(0, 0, 0, 0);
  rowsLayout_->setSpacing(0);
  table->addWidget(rowsBox_);
  stack->addLayout(table);

  toggle_ = new QPushButton(this);
  toggle_->setFlat(true);
  toggle_->setCursor(Qt::PointingHandCursor);
  toggle_->setFont(Fonts::system(12));
  toggle_->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; text-align: left; }"));
  toggle_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  connect(toggle_, &QPushButton::clicked, this, [this] { setShowAll(!showAll_); });
  stack->addWidget(toggle_, 0, Qt::AlignLeft);
  stack->addStretch(1);

  rebuild();
}

void SummaryTable::setSummary(const UsageSummary& summary, SummaryUnit unit) {
  if (built_ && summary == summary_ && unit == unit_) return;
  summary_ = summary;
  unit_ = unit;
  rebuild();
}

void SummaryTable::setMode(BreakdownMode mode) {
  modePicker_->setSelectedIndex(mode == BreakdownMode::model ? 0 : 1);
  if (mode == mode_) return;
  mode_ = mode;
  rebuild();
}

void SummaryTable::setShowAll(bool showAll) {
  if (showAll == showAll_) return;
  showAll_ = showAll;
  rebuild();
}

int SummaryTable::visibleRowCount() const { return static_cast<int>(shownCount_); }

QString SummaryTable::titleColumnText() const { return titleColumn_->text(); }

void SummaryTable::rebuild() {
  std::vector<SummaryDisplay::BreakdownRow> rows = SummaryDisplay::breakdownRows(summary_, mode_, unit_, *calendar_);
  const std::size_t count = visibleCount(rows.size(), showAll_);
  titleColumn_->setPlainText(QString::fromUtf8(breakdownModeLabel(mode_).data()));
  const std::string toggleText = toggleTitle(rows.size(), showAll_);
  toggle_->setVisible(!toggleText.empty());
  toggle_->setText(qs(toggleText));
  QPalette link = toggle_->palette();
  link.setColor(QPalette::ButtonText, SystemColors::accent().resolve(palette()));
  toggle_->setPalette(link);
  StatsStyle::relayoutFrom(toggle_);

  if (built_ && rows == rows_ && count == shownCount_) return;
  rows_ = std::move(rows);
  shownCount_ = count;
  built_ = true;
  rowsBox_->setUpdatesEnabled(false);
  while (QLayoutItem* item = rowsLayout_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  for (std::size_t i = 0; i < shownCount_; ++i) {
    rowsLayout_->addWidget(new Divider(rowsBox_));
    rowsLayout_->addWidget(new BreakdownRowView(rows_[i], rowsBox_));
  }
  rowsBox_->setUpdatesEnabled(true);
  StatsStyle::relayoutFrom(rowsBox_);
}

}  // namespace tokvane
