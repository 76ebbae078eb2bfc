#include "Tokvane/Stats/SummarySection.hpp"

#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "Tokvane/Stats/ByTypeBar.hpp"
#include "Tokvane/Stats/DailyChart.hpp"
#include "Tokvane/Stats/IndexingRow.hpp"
#include "Tokvane/Stats/SectionTitle.hpp"
#include "Tokvane/Stats/SegmentedPicker.hpp"
#include "Tokvane/Stats/StatsStyle.hpp"
#include "Tokvane/Stats/TextLabel.hpp"
#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SymbolImage.hpp"
#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {

namespace {

constexpr double headlineSize = 34;
constexpr double headlineMinimumScale = 0.6;

QString qs(const std::string& text) { return QString::fromStdString(text); }

// The big figure: one line, shrunk down to 0.6 of its size to fit, then cut.
class HeadlineText final : public QWidget {
 public:
  explicit HeadlineText(QWidget* parent) : QWidget(parent) { setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed); }

  void setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    setAccessibleName(text_);
    update();
  }
  const QString& text() const { return text_; }

  static QFont font(double size = headlineSize) { return Fonts::monospacedDigits(size, QFont::Bold); }
  QSize sizeHint() const override {
    const QFontMetricsF metrics(font());
    return QSize(static_cast<int>(std::ceil(metrics.horizontalAdvance(text_))), static_cast<int>(std::ceil(metrics.height())));
  }
  QSize minimumSizeHint() const override { return QSize(0, sizeHint().height()); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QFontMetricsF full(font());
    double size = headlineSize;
    const double natural = full.horizontalAdvance(text_);
    if (natural > width() && natural > 0) size = std::max(headlineSize * headlineMinimumScale, headlineSize * width() / natural);
    const QFont shrunk = font(std::floor(size));
    const QFontMetricsF metrics(shrunk);
    painter.setFont(shrunk);
    painter.setPen(SystemColors::label().resolve(palette()));
    const QString shown = metrics.elidedText(text_, Qt::ElideRight, width());
    // Keep the baseline where the full-size text has it.
    painter.drawText(QPointF(0, full.ascent()), shown);
  }

 private:
  QString text_;
};

// The "info.circle" button beside the sessions line.
class InfoButton final : public QWidget {
 public:
  InfoButton(std::function<void()> onPress, QWidget* parent) : QWidget(parent), onPress_(std::move(onPress)) {
    setFixedSize(14, 14);
    setCursor(Qt::PointingHandCursor);
    setToolTip(QString::fromUtf8(SummarySection::apiEstimateExplanation));
    setAccessibleName(QStringLiteral("About the API estimate"));
    setFocusPolicy(Qt::TabFocus);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    SymbolImage::paint(painter, "info.circle", QRectF(1, 1, 12, 12), SystemColors::secondaryLabel().resolve(palette()));
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) onPress_();
  }
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return) {
      onPress_();
    } else {
      QWidget::keyPressEvent(event);
    }
  }

 private:
  std::function<void()> onPress_;
};

// The explanation shown under the info button; tells its owner when it closes.
class InfoPopup final : public QFrame {
 public:
  InfoPopup(std::function<void()> onClose, const QPalette& palette) : QFrame(nullptr, Qt::Popup), onClose_(std::move(onClose)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setPalette(palette);
    setAutoFillBackground(true);
    setFrameShape(QFrame::StyledPanel);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    auto* text = new TextLabel(Fonts::system(12), SystemColors::label(), this);
    text->setWordWrap(true);
    text->setFixedWidth(240 - 24);
    text->setPlainText(QString::fromUtf8(SummarySection::apiEstimateExplanation));
    column->addWidget(text);
    QPalette p = palette;
    p.setColor(QPalette::Window, SystemColors::controlBackground().resolve(palette));
    setPalette(p);
  }

 protected:
  void hideEvent(QHideEvent* event) override {
    QFrame::hideEvent(event);
    if (onClose_) std::exchange(onClose_, nullptr)();
  }

 private:
  std::function<void()> onClose_;
};

// One tool: accent dot, logo, tool name, sessions and figure, and under it
// the share and the other unit's figure, right-aligned.
class ToolRow final : public QWidget {
 public:
  explicit ToolRow(SummaryDisplay::ToolLine line, QWidget* parent) : QWidget(parent), line_(std::move(line)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(qs(std::string(toolName(line_.provider)) + ", " + line_.sessions + ", " + line_.value + ", " +
                         line_.detail));
  }
  const SummaryDisplay::ToolLine& line() const { return line_; }

  QSize sizeHint() const override {
    const double h = QFontMetricsF(Fonts::system(14)).height() + 2 + QFontMetricsF(Fonts::system(12)).height();
    return QSize(200, static_cast<int>(std::ceil(h)));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Appearance appearance = appearanceOf(palette());
    const QColor label = SystemColors::label().resolve(appearance);
    const QColor secondary = SystemColors::secondaryLabel().resolve(appearance);
    const QFont nameFont = Fonts::system(14);
    const QFont sessionsFont = Fonts::system(12);
    const QFont valueFont = Fonts::monospacedDigits(14, QFont::Medium);
    const QFont detailFont = Fonts::monospacedDigits(12);
    const QFontMetricsF nameMetrics(nameFont);
    const double baseline = nameMetrics.ascent();

    // The dot's bottom lies 1 px below the first line's baseline.
    painter.setPen(Qt::NoPen);
    painter.setBrush(StatsStyle::accent(line_.provider, appearance));
    painter.drawEllipse(QRectF(0, baseline + 1 - 7, 7, 7));

    const double left = 7 + 8;
    const double right = width();
    const QImage logo = StatsStyle::logo(line_.provider, 13, label, devicePixelRatioF());
    if (!logo.isNull()) painter.drawImage(QPointF(left, baseline - 13), logo);
    double x = left + 13 + 6;

    const QString value = qs(line_.value);
    const double valueWidth = QFontMetricsF(valueFont).horizontalAdvance(value);
    const QString name = QString::fromUtf8(toolName(line_.provider).data(), static_cast<int>(toolName(line_.provider).size()));
    painter.setFont(nameFont);
    painter.setPen(label);
    painter.drawText(QPointF(x, baseline), name);
    x += nameMetrics.horizontalAdvance(name) + 6;
    painter.setFont(sessionsFont);
    painter.setPen(secondary);
    const QFontMetricsF sessionsMetrics(sessionsFont);
    const double room = right - valueWidth - 8 - x;
    painter.drawText(QPointF(x, baseline), sessionsMetrics.elidedText(qs(line_.sessions), Qt::ElideRight, std::max(0.0, room)));
    painter.setFont(valueFont);
    painter.setPen(label);
    painter.drawText(QPointF(right - valueWidth, baseline), value);

    const QFontMetricsF detailMetrics(detailFont);
    const double top = nameMetrics.height() + 2;
    const QString detail = qs(line_.detail);
    painter.setFont(detailFont);
    painter.setPen(secondary);
    painter.drawText(QPointF(right - detailMetrics.horizontalAdvance(detail), top + detailMetrics.ascent()), detail);
  }

 private:
  SummaryDisplay::ToolLine line_;
};

QWidget* column(QWidget* parent, int spacing, QVBoxLayout** layoutOut = nullptr) {
  auto* widget = new QWidget(parent);
  auto* layout = new QVBoxLayout(widget);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(spacing);
  if (layoutOut) *layoutOut = layout;
  return widget;
}

}  // namespace

SummarySection::Content SummarySection::makeContent(const UsageSummary& summary,
                                                    const std::optional<IndexingProgress>& indexing, SummaryUnit unit,
                                                    const Calendar& calendar) {
  Content content;
  content.headline = SummaryDisplay::sectionHeadline(summary, indexing.has_value(), unit);
  content.subline = SummaryDisplay::sublineText(summary.sessions, unit);
  content.showsInfoButton = unit == SummaryUnit::cost;
  content.showsPriceNote = unit == SummaryUnit::cost && summary.hasUnknownPrices;
  if (summary.tools.empty()) {
    if (indexing) {
      content.body = Content::Body::indexing;
      content.indexing = indexing;
    } else {
      content.body = Content::Body::empty;
      content.emptyText = SummaryDisplay::emptyText(summary);
    }
    return content;
  }
  content.body = Content::Body::full;
  for (const auto& tool : summary.tools) content.toolLines.push_back(SummaryDisplay::toolLineDetail(tool, unit));
  content.chart = makeDailyChartModel(summary, unit, calendar);
  content.totals = SummaryDisplay::totalsStats(summary);
  content.byTypeTitle = unit == SummaryUnit::cost ? "Cost by type" : "Tokens by type";
  content.segments = SummaryDisplay::typeSegments(summary, unit);
  return content;
}

SummarySection::SummarySection(std::shared_ptr<const Calendar> calendar, QWidget* parent)
    : QWidget(parent), calendar_(std::move(calendar)) {
  auto* stack = new QVBoxLayout(this);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(20);

  // Header: the figures on the left, the unit switch on the right, the
  // switch's text on the headline's baseline.
  auto* header = new QWidget(this);
  auto* headerRow = new QHBoxLayout(header);
  headerRow->setContentsMargins(0, 0, 0, 0);
  headerRow->setSpacing(12);
  QVBoxLayout* figures = nullptr;
  QWidget* figuresColumn = column(header, 4, &figures);
  headline_ = new HeadlineText(figuresColumn);
  figures->addWidget(headline_);
  auto* sublineRow = new QWidget(figuresColumn);
  auto* sublineLayout = new QHBoxLayout(sublineRow);
  sublineLayout->setContentsMargins(0, 0, 0, 0);
  sublineLayout->setSpacing(4);
  subline_ = new TextLabel(Fonts::system(13), SystemColors::secondaryLabel(), sublineRow);
  sublineLayout->addWidget(subline_);
  infoButton_ = new InfoButton([this] { toggleInfo(); }, sublineRow);
  sublineLayout->addWidget(infoButton_, 0, Qt::AlignVCenter);
  sublineLayout->addStretch(1);
  figures->addWidget(sublineRow);
  priceNote_ = new TextLabel(Fonts::system(11), SystemColors::tertiaryLabel(), figuresColumn);
  priceNote_->setPlainText(QString::fromUtf8(priceNote));
  figures->addWidget(priceNote_);
  headerRow->addWidget(figuresColumn, 1);

  unitPicker_ = new SegmentedPicker(QStringLiteral("Unit"), {QStringLiteral("$"), QStringLiteral("Tokens")}, header);
  const double headlineBaseline = QFontMetricsF(HeadlineText::font()).ascent();
  const QFontMetricsF pickerMetrics(Fonts::system(11, QFont::Medium));
  const double pickerBaseline = (unitPicker_->sizeHint().height() + pickerMetrics.ascent() - pickerMetrics.descent()) / 2;
  auto* pickerColumn = new QVBoxLayout;
  pickerColumn->setContentsMargins(0, std::max(0, static_cast<int>(std::lround(headlineBaseline - pickerBaseline))), 0, 0);
  pickerColumn->addWidget(unitPicker_);
  pickerColumn->addStretch(1);
  headerRow->addLayout(pickerColumn);
  connect(unitPicker_, &SegmentedPicker::chosen, this,
          [this](int index) { emit unitChosen(index == 0 ? SummaryUnit::cost : SummaryUnit::tokens); });
  stack->addWidget(header);

  indexingRow_ = new IndexingRow(this);
  stack->addWidget(indexingRow_);
  emptyText_ = new TextLabel(Fonts::system(13), SystemColors::secondaryLabel(), this);
  stack->addWidget(emptyText_);
  toolLines_ = column(this, 12, &toolLinesLayout_);
  stack->addWidget(toolLines_);
  chart_ = new DailyChart(this);
  stack->addWidget(chart_);

  QVBoxLayout* totalsLayout = nullptr;
  totals_ = column(this, 10, &totalsLayout);
  totalsLayout->addWidget(new SectionTitle(QStringLiteral("Totals"), totals_));
  auto* grid = new QGridLayout;
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(12);
  grid->setVerticalSpacing(12);
  for (int i = 0; i < 5; ++i) {
    QVBoxLayout* cellLayout = nullptr;
    QWidget* cell = column(totals_, 2, &cellLayout);
    cell->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* label = new TextLabel(Fonts::system(11), SystemColors::secondaryLabel(), cell);
    auto* value = new TextLabel(Fonts::monospacedDigits(16, QFont::Medium), SystemColors::label(), cell);
    cellLayout->addWidget(label);
    cellLayout->addWidget(value);
    totalLabels_.push_back(label);
    totalValues_.push_back(value);
    grid->addWidget(cell, i / 3, i % 3);
  }
  for (int c = 0; c < 3; ++c) grid->setColumnStretch(c, 1);
  totalsLayout->addLayout(grid);
  stack->addWidget(totals_);

  QVBoxLayout* byTypeLayout = nullptr;
  byTypeBlock_ = column(this, 10, &byTypeLayout);
  byTypeTitle_ = new SectionTitle(QString(), byTypeBlock_);
  byTypeLayout->addWidget(byTypeTitle_);
  byType_ = new ByTypeBar(byTypeBlock_);
  byTypeLayout->addWidget(byType_);
  stack->addWidget(byTypeBlock_);
  stack->addStretch(1);

  setContent(UsageSummary::empty(), std::nullopt, SummaryUnit::cost);
}

void SummarySection::setContent(const UsageSummary& summary, const std::optional<IndexingProgress>& indexing,
                                SummaryUnit unit) {
  unit_ = unit;
  apply(makeContent(summary, indexing, unit, *calendar_));
}

void SummarySection::apply(Content content) {
  if (applied_ && content == content_) return;
  const bool toolsChanged = !applied_ || content.toolLines != content_.toolLines;
  content_ = std::move(content);
  applied_ = true;

  static_cast<HeadlineText*>(headline_)->setText(qs(content_.headline));
  subline_->setPlainText(content_.subline);
  infoButton_->setVisible(content_.showsInfoButton);
  if (!content_.showsInfoButton && infoPopup_ != nullptr) infoPopup_->close();
  priceNote_->setVisible(content_.showsPriceNote);
  unitPicker_->setSelectedIndex(unit_ == SummaryUnit::cost ? 0 : 1);

  const bool full = content_.body == Content::Body::full;
  indexingRow_->setVisible(content_.body == Content::Body::indexing);
  if (content_.indexing) indexingRow_->setProgress(*content_.indexing);
  emptyText_->setVisible(content_.body == Content::Body::empty);
  emptyText_->setPlainText(content_.emptyText);

  if (toolsChanged) {
    while (QLayoutItem* item = toolLinesLayout_->takeAt(0)) {
      delete item->widget();
      delete item;
    }
    for (const auto& line : content_.toolLines) toolLinesLayout_->addWidget(new ToolRow(line, toolLines_));
  }
  toolLines_->setVisible(full);
  chart_->setVisible(full);
  chart_->setModel(content_.chart);
  totals_->setVisible(full);
  for (std::size_t i = 0; i < totalLabels_.size(); ++i) {
    const bool present = i < content_.totals.size();
    totalLabels_[i]->setPlainText(present ? content_.totals[i].label : std::string());
    totalValues_[i]->setPlainText(present ? content_.totals[i].value : std::string());
    totalLabels_[i]->parentWidget()->setAccessibleName(
        present ? qs(content_.totals[i].label + " " + content_.totals[i].value) : QString());
  }
  byTypeBlock_->setVisible(full);
  byTypeTitle_->setPlainText(content_.byTypeTitle);
  byType_->setSegments(content_.segments);
  for (QWidget* part : {toolLines_, static_cast<QWidget*>(totals_), byTypeBlock_, priceNote_->parentWidget()}) {
    StatsStyle::relayoutFrom(part);
  }
}

SummarySection::~SummarySection() {
  if (infoPopup_ != nullptr) {
    // The popup is a window of its own; it must not call back into a gone section.
    auto* popup = std::exchange(infoPopup_, nullptr);
    popup->hide();
    popup->deleteLater();
  }
}

QWidget* SummarySection::infoPopup() const { return infoPopup_; }

QString SummarySection::headlineText() const { return static_cast<HeadlineText*>(headline_)->text(); }

void SummarySection::toggleInfo() {
  if (infoPopup_ != nullptr) {
    infoPopup_->close();
    return;
  }
  auto* popup = new InfoPopup([this] { infoPopup_ = nullptr; }, palette());
  infoPopup_ = popup;
  popup->adjustSize();
  const QPoint anchor = infoButton_->mapToGlobal(QPoint(infoButton_->width() / 2, infoButton_->height()));
  popup->move(anchor.x() - popup->width() / 2, anchor.y() + 4);
  popup->show();
}

}  // namespace tokvane
