#include "Tokvane/Usage/PopoverFooter.hpp"

#include <QHBoxLayout>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SystemColors.hpp"
#include "Tokvane/Usage/ProgressSpinner.hpp"
#include "Tokvane/Usage/ProviderCardText.hpp"
#include "Tokvane/Usage/SymbolButton.hpp"
#include "Tokvane/Usage/TextButton.hpp"
#include "Tokvane/Usage/TintedLabel.hpp"

namespace tokvane {

namespace {

// A one-pixel horizontal separator line.
class SeparatorLine final : public QWidget {
 public:
  explicit SeparatorLine(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), SystemColors::separator().resolve(palette()));
  }
};

constexpr int tickMilliseconds = 30'000;

}  // namespace

PopoverFooter::PopoverFooter(std::function<void()> onRefresh, std::function<void()> onSettings,
                             std::function<void()> onQuit, QWidget* parent)
    : QWidget(parent), clock_([] { return Date::now(); }) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(10);
  column->addWidget(new SeparatorLine(this));

  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(12);
  status_ = new TintedLabel(QString(), Fonts::monospacedDigits(12), SystemColors::secondaryLabel(), this);
  row->addWidget(status_);
  row->addStretch(1);

  refresh_ = new SymbolButton(QStringLiteral("arrow.clockwise"), 16, this);
  refresh_->setToolTip(QStringLiteral("Refresh"));
  refresh_->setAccessibleName(QStringLiteral("Refresh"));
  connect(refresh_, &QAbstractButton::clicked, this, [onRefresh] {
    if (onRefresh) onRefresh();
  });
  spinner_ = new ProgressSpinner(16, this);
  spinner_->hide();
  row->addWidget(refresh_);
  row->addWidget(spinner_);

  auto* settings = new SymbolButton(QStringLiteral("gearshape"), 16, this);
  settings->setToolTip(QStringLiteral("Settings"));
  settings->setAccessibleName(QStringLiteral("Settings"));
  connect(settings, &QAbstractButton::clicked, this, [onSettings] {
    if (onSettings) onSettings();
  });
  row->addWidget(settings);

  auto* quit = new TextButton(QStringLiteral("Quit"), Fonts::system(13), SystemColors::label(), this);
  quit->setToolTip(QStringLiteral("Quit Tokvane"));
  connect(quit, &QAbstractButton::clicked, this, [onQuit] {
    if (onQuit) onQuit();
  });
  row->addWidget(quit);
  column->addLayout(row);

  ticker_ = new QTimer(this);
  ticker_->setInterval(tickMilliseconds);
  connect(ticker_, &QTimer::timeout, this, &PopoverFooter::refreshText);
  ticker_->start();
  refreshText();
}

void PopoverFooter::setValue(const Value& value) {
  if (value_ == value) return;
  const bool refreshingChanged = value_.isRefreshing != value.isRefreshing;
  value_ = value;
  if (refreshingChanged) {
    refresh_->setVisible(!value_.isRefreshing);
    spinner_->setVisible(value_.isRefreshing);
  }
  // A new value restarts the 30-second schedule from now.
  ticker_->start();
  refreshText();
}

void PopoverFooter::setClock(std::function<Date()> clock) {
  clock_ = std::move(clock);
  refreshText();
}

QString PopoverFooter::statusText() const { return status_->text(); }

bool PopoverFooter::showsRefreshButton() const { return !refresh_->isHidden(); }

void PopoverFooter::refreshText() {
  status_->setTextIfChanged(QString::fromStdString(updatedText(value_.lastUpdated, clock_())));
}

}  // namespace tokvane
