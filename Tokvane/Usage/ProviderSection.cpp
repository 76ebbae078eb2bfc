#include "Tokvane/Usage/ProviderSection.hpp"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QPainter>
#include <QTime>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SystemColors.hpp"
#include "Tokvane/Usage/LimitColors.hpp"
#include "Tokvane/Usage/LimitRow.hpp"
#include "Tokvane/Usage/ProviderCardText.hpp"
#include "Tokvane/Usage/ProviderLogo.hpp"
#include "Tokvane/Usage/TextButton.hpp"
#include "Tokvane/Usage/TintedLabel.hpp"
#include "TokvaneCore/Presentation/LimitBarModel.hpp"

namespace tokvane {

namespace {

QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The plan's capsule: the primary colour at 10 % behind the text.
class PlanBadge final : public QWidget {
 public:
  explicit PlanBadge(QWidget* parent) : QWidget(parent) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = SystemColors::label().resolve(palette());
    fill.setAlphaF(0.1f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    const QRectF box = QRectF(rect());
    painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
  }
};

const LocalCalendar& userCalendar() {
  static const LocalCalendar calendar;
  return calendar;
}

}  // namespace

std::optional<std::string> ProviderSection::statusText(ProviderID provider,
                                                       const std::optional<ProviderLimits>& limits, Date now,
                                                       const QLocale& locale, const Calendar& calendar) {
  if (!limits) return std::nullopt;
  const std::string name(displayName(provider));
  switch (limits->status) {
    case ProviderStatus::ok: {
      std::optional<Date> earliest;
      for (const LimitWindow& window : limits->windows) {
        if (window.source.kind == LimitSource::Kind::live) continue;
        if (!earliest || window.source.asOf < *earliest) earliest = window.source.asOf;
      }
      if (!earliest) return std::nullopt;
      return "as of " + asOfText(*earliest, now, locale, calendar);
    }
    case ProviderStatus::signInNeeded: return "Open " + std::string(toolName(provider)) + " to refresh your login";
    case ProviderStatus::unreachable:
    case ProviderStatus::rateLimited: return "Couldn't reach " + name + " \u2014 showing last known values";
    case ProviderStatus::accessDenied: return "Allow access in Settings \u2192 Providers";
    case ProviderStatus::unavailable: return "Live limits not available for " + name + " yet";
  }
  return std::nullopt;
}

std::string ProviderSection::asOfText(Date date, Date now, const QLocale& locale, const Calendar& calendar) {
  const auto when = calendar.components(date);
  if (!when) return "\u2014";
  const auto today = calendar.components(now);
  const QTime time(when->hour, when->minute);
  const QString timeText = locale.toString(time, QLocale::ShortFormat);
  const bool sameDay = today && today->year == when->year && today->month == when->month && today->day == when->day;
  if (sameDay) return timeText.toStdString();
  const QString day = locale.monthName(when->month, QLocale::ShortFormat) + QLatin1Char(' ') +
                      locale.toString(when->day);
  return (day + QStringLiteral(", ") + timeText).toStdString();
}

ProviderSection::ProviderSection(const Value& value, std::function<void()> onRetry, QWidget* parent)
    : QWidget(parent), value_(value), onRetry_(std::move(onRetry)) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(10);

  auto* header = new QHBoxLayout;
  header->setContentsMargins(0, 0, 0, 0);
  header->setSpacing(6);
  logo_ = new ProviderLogo(value.provider, 14, this);
  name_ = new TintedLabel(QString(), Fonts::system(15), SystemColors::label(), this);
  badge_ = new PlanBadge(this);
  auto* badgeLayout = new QHBoxLayout(badge_);
  badgeLayout->setContentsMargins(7, 2, 7, 2);
  badgeText_ = new TintedLabel(QString(), Fonts::system(11, QFont::Medium), SystemColors::secondaryLabel(), badge_);
  badgeLayout->addWidget(badgeText_);
  manage_ = new TextButton(QStringLiteral("Manage usage \u2197"), Fonts::system(12), SystemColors::secondaryLabel(),
                           this);
  connect(manage_, &QAbstractButton::clicked, this,
          [this] { QDesktopServices::openUrl(QUrl(QString::fromStdString(manageUsageURL(value_.provider)))); });
  header->addWidget(logo_);
  header->addWidget(name_);
  header->addWidget(badge_);
  header->addSpacing(8);
  header->addStretch(1);
  header->addWidget(manage_);
  column->addLayout(header);

  statusLine_ = new QWidget(this);
  auto* statusLayout = new QHBoxLayout(statusLine_);
  statusLayout->setContentsMargins(0, 0, 0, 0);
  statusLayout->setSpacing(8);
  statusText_ = new TintedLabel(QString(), Fonts::system(12), SystemColors::secondaryLabel(), statusLine_);
  statusText_->setWordWrap(true);
  retry_ = new TextButton(QStringLiteral("Retry"), Fonts::system(12), SystemColors::accent(), statusLine_);
  connect(retry_, &QAbstractButton::clicked, this, [this] {
    if (onRetry_) onRetry_();
  });
  statusLayout->addWidget(statusText_, 1);
  statusLayout->addWidget(retry_, 0, Qt::AlignVCenter);
  column->addWidget(statusLine_);

  rowsLayout_ = new QVBoxLayout;
  rowsLayout_->setContentsMargins(0, 0, 0, 0);
  rowsLayout_->setSpacing(10);
  column->addLayout(rowsLayout_);

  credits_ = new QWidget(this);
  auto* creditsLayout = new QHBoxLayout(credits_);
  creditsLayout->setContentsMargins(0, 0, 0, 0);
  creditsLabel_ = new TintedLabel(QString(), Fonts::system(13), SystemColors::secondaryLabel(), credits_);
  creditsValue_ = new TintedLabel(QString(), Fonts::monospacedDigits(13), SystemColors::label(), credits_);
  creditsLayout->addWidget(creditsLabel_);
  creditsLayout->addStretch(1);
  creditsLayout->addWidget(creditsValue_);
  column->addWidget(credits_);

  apply();
}

void ProviderSection::setValue(const Value& value) {
  if (value_ == value) return;
  value_ = value;
  apply();
}

void ProviderSection::apply() {
  const ProviderID provider = value_.provider;
  const auto& limits = value_.limits;
  logo_->setProvider(provider);
  name_->setTextIfChanged(qs(displayName(provider)));

  const bool hasPlan = limits && limits->plan && !limits->plan->empty();
  if (hasPlan) badgeText_->setTextIfChanged(QString::fromStdString(*limits->plan));
  badge_->setVisible(hasPlan);

  const auto status = statusText(provider, limits, value_.now, QLocale(), userCalendar());
  if (status) statusText_->setTextIfChanged(QString::fromStdString(*status));
  statusLine_->setVisible(status.has_value());
  retry_->setVisible(limits && limits->status == ProviderStatus::accessDenied);

  const std::vector<LimitWindow> none;
  const std::vector<LimitWindow>& windows = limits ? limits->windows : none;
  const DynamicColor accent = accentColor(provider);
  auto rowValue = [&](const LimitWindow& window) {
    return LimitRow::Value{window.label, LimitBarModel(window, value_.now), accent, window.source.isStale()};
  };
  // Rows are kept and given new values while the windows' count stays.
  if (rows_.size() != windows.size()) {
    for (LimitRow* row : rows_) delete row;
    rows_.clear();
    for (const LimitWindow& window : windows) {
      auto* row = new LimitRow(rowValue(window), this);
      rowsLayout_->addWidget(row);
      rows_.push_back(row);
    }
  } else {
    for (size_t i = 0; i < windows.size(); ++i) rows_[i]->setValue(rowValue(windows[i]));
  }

  const bool hasCredits = limits && limits->credits;
  if (hasCredits) {
    creditsLabel_->setTextIfChanged(QString::fromStdString(limits->credits->label));
    creditsValue_->setTextIfChanged(QString::fromStdString(tokvane::creditsText(*limits->credits)));
    credits_->setAccessibleName(creditsLabel_->text() + QLatin1Char(' ') + creditsValue_->text());
  }
  credits_->setVisible(hasCredits);
}

QString ProviderSection::nameText() const { return name_->text(); }

std::optional<QString> ProviderSection::planText() const {
  if (badge_->isHidden()) return std::nullopt;
  return badgeText_->text();
}

std::optional<QString> ProviderSection::statusLineText() const {
  if (statusLine_->isHidden()) return std::nullopt;
  return statusText_->text();
}

bool ProviderSection::showsRetry() const { return !statusLine_->isHidden() && !retry_->isHidden(); }

std::vector<const LimitRow*> ProviderSection::rows() const { return {rows_.begin(), rows_.end()}; }

std::optional<QString> ProviderSection::creditsText() const {
  if (credits_->isHidden()) return std::nullopt;
  return creditsValue_->text();
}

void ProviderSection::clickRetry() {
  if (showsRetry()) retry_->click();
}

}  // namespace tokvane
