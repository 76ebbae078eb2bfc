#include "Tokvane/Popover/PopoverRoot.hpp"

#include <unistd.h>

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "Tokvane/Engine/Model/AppModel.hpp"
#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "Tokvane/Popover/SegmentedControl.hpp"
#include "Tokvane/Stats/SummaryTabs.hpp"
#include "Tokvane/Theme/DynamicColor.hpp"
#include "Tokvane/Theme/SystemColors.hpp"
#include "Tokvane/Usage/PopoverFooter.hpp"
#include "Tokvane/Usage/UsageTab.hpp"

namespace tokvane {

namespace {

constexpr int headerTop = 12;
constexpr int footerBottom = 12;
constexpr int fadeMilliseconds = 120;
constexpr double cornerRadius = 10;

// The popover's surface.
DynamicColor popoverBackground() { return DynamicColor{QColor(246, 246, 246), QColor(40, 40, 42)}; }

int indexOf(PopoverTab tab) { return static_cast<int>(tab); }

}  // namespace

PopoverRoot::PopoverRoot(AppModel& model, Preferences& preferences, Actions actions, ProviderLocations locations,
                         QWidget* parent)
    : QWidget(parent),
      model_(model),
      preferences_(preferences),
      actions_(std::move(actions)),
      locations_(std::move(locations)),
      clock_([] { return Date::now(); }) {
  setFixedWidth(width);
  auto* stack = new QVBoxLayout(this);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(0);

  header_ = new QWidget(this);
  auto* headerLayout = new QHBoxLayout(header_);
  headerLayout->setContentsMargins(padding, headerTop, padding, 0);
  picker_ = new SegmentedControl({QStringLiteral("Usage"), QStringLiteral("Stats"), QStringLiteral("Models")}, header_);
  headerLayout->addStretch(1);
  headerLayout->addWidget(picker_);
  headerLayout->addStretch(1);
  picker_->onChange = [this](int index) { chooseTab(allPopoverTabs[static_cast<size_t>(index)]); };
  stack->addWidget(header_);

  scroll_ = new QScrollArea(this);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidgetResizable(true);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroll_->viewport()->setAutoFillBackground(false);
  scroll_->setAutoFillBackground(false);
  contentFrame_ = new QWidget;
  contentLayout_ = new QVBoxLayout(contentFrame_);
  contentLayout_->setContentsMargins(padding, padding, padding, padding);
  contentLayout_->setSpacing(0);
  scroll_->setWidget(contentFrame_);
  // The popover's surface shows through (setWidget turned filling on).
  contentFrame_->setAutoFillBackground(false);
  stack->addWidget(scroll_, 1);

  footerFrame_ = new QWidget(this);
  auto* footerLayout = new QVBoxLayout(footerFrame_);
  footerLayout->setContentsMargins(padding, 0, padding, footerBottom);
  footer_ = new PopoverFooter([this] { model_.refresh(true); },
                              [this] {
                                if (actions_.onSettings) actions_.onSettings();
                              },
                              [this] {
                                if (actions_.onQuit) actions_.onQuit();
                                else ::_exit(0);
                              },
                              footerFrame_);
  footerLayout->addWidget(footer_);
  stack->addWidget(footerFrame_);

  for (QWidget* watched : {header_, contentFrame_, footerFrame_}) watched->installEventFilter(this);

  modelSubscription_ = model_.observe([this](AppModel::Property property) {
    if (property == AppModel::Property::lastUpdated || property == AppModel::Property::isRefreshing) updateFooter();
  });
  preferencesSubscription_ = preferences_.observe([this](Preferences::Property property) {
    if (property == Preferences::Property::popoverTab && preferences_.popoverTab() != tab_) {
      showTab(preferences_.popoverTab());
    }
  });
  updateFooter();
  showTab(preferences_.popoverTab());
}

PopoverRoot::~PopoverRoot() = default;

QWidget* PopoverRoot::makeTab(PopoverTab tab) {
  switch (tab) {
    case PopoverTab::usage: {
      auto* usage = new UsageTab(model_, preferences_, locations_, contentFrame_);
      usage->setClock(clock_);
      return usage;
    }
    case PopoverTab::stats: return makeStatsTab(model_, preferences_, contentFrame_);
    case PopoverTab::models: return makeModelsTab(model_, preferences_, contentFrame_);
  }
  return new QWidget(contentFrame_);
}

void PopoverRoot::chooseTab(PopoverTab tab) {
  if (tab == tab_ && tabs_[indexOf(tab)] != nullptr) return;
  showTab(tab);
  preferences_.setPopoverTab(tab);
}

void PopoverRoot::showTab(PopoverTab tab) {
  const bool switching = tabs_[indexOf(tab_)] != nullptr && tab != tab_;
  tab_ = tab;
  picker_->setCurrent(indexOf(tab));
  QWidget*& content = tabs_[indexOf(tab)];
  if (content == nullptr) {
    content = makeTab(tab);
    content->installEventFilter(this);
    contentLayout_->addWidget(content);
  }
  for (QWidget* other : tabs_) {
    if (other != nullptr && other != content) other->hide();
  }
  content->show();
  scroll_->verticalScrollBar()->setValue(0);
  // The new tab fades in; the old one went at once.
  if (switching) {
    auto* effect = new QGraphicsOpacityEffect(content);
    content->setGraphicsEffect(effect);
    auto* fade = new QPropertyAnimation(effect, "opacity", effect);
    fade->setDuration(fadeMilliseconds);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->setEasingCurve(QEasingCurve::OutCubic);
    connect(fade, &QPropertyAnimation::finished, content, [content] { content->setGraphicsEffect(nullptr); });
    fade->start();
  }
  scheduleMeasure();
}

void PopoverRoot::setClock(std::function<Date()> clock) {
  clock_ = std::move(clock);
  if (auto* usage = usageTab()) usage->setClock(clock_);
  footer_->setClock(clock_);
}

QWidget* PopoverRoot::tabContent() const { return tabs_[indexOf(tab_)]; }

UsageTab* PopoverRoot::usageTab() const { return static_cast<UsageTab*>(tabs_[indexOf(PopoverTab::usage)]); }

void PopoverRoot::updateFooter() { footer_->setValue({model_.lastUpdated(), model_.isRefreshing()}); }

bool PopoverRoot::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::LayoutRequest) scheduleMeasure();
  return QWidget::eventFilter(watched, event);
}

void PopoverRoot::scheduleMeasure() {
  if (measurePending_) return;
  measurePending_ = true;
  QTimer::singleShot(0, this, [this] {
    measurePending_ = false;
    measure();
  });
}

void PopoverRoot::measure() {
  Heights heights;
  heights.header = header_->sizeHint().height();
  contentLayout_->activate();
  heights.content = contentLayout_->hasHeightForWidth() ? contentLayout_->totalHeightForWidth(width)
                                                        : contentLayout_->totalSizeHint().height();
  heights.footer = footerFrame_->sizeHint().height();
  if (heights == heights_) return;
  heights_ = heights;
  updateScrolling();
  if (actions_.onHeightChange) actions_.onHeightChange(heights_.total());
}

void PopoverRoot::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  updateScrolling();
}

void PopoverRoot::updateScrolling() {
  // The middle scrolls only when the popover is lower than its content
  // (decided here: a scroll bar that narrows a wrapping text would
  // otherwise keep itself shown).
  const double room = height() - heights_.header - heights_.footer;
  const bool scrolls = heights_.content > room + 0.5;
  scroll_->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

void PopoverRoot::setRoundedCorners(bool rounded) {
  if (rounded_ == rounded) return;
  rounded_ = rounded;
  update();
}

void PopoverRoot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QColor background = popoverBackground().resolve(palette());
  if (!rounded_) {
    painter.fillRect(rect(), background);
    return;
  }
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(background);
  painter.setPen(QPen(SystemColors::separator().resolve(palette()), 1));
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
}

}  // namespace tokvane
