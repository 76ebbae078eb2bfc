#pragma once

#include <QLocale>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Limits/ProviderLimits.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

class QVBoxLayout;

namespace tokvane {

class LimitRow;
class ProviderLogo;
class TextButton;
class TintedLabel;

// The card of one provider in the Usage tab: logo, name, plan badge and a
// link to the provider's usage page; a status line (with Retry when access
// was denied); one limit row per window; the credits row.
class ProviderSection final : public QWidget {
  Q_OBJECT

 public:
  struct Value {
    ProviderID provider = ProviderID::claude;
    std::optional<ProviderLimits> limits;
    Date now;

    friend bool operator==(const Value&, const Value&) = default;
  };

  // The status line for these limits, or none: "as of …" for an ok answer
  // with local or stale windows, a sign-in, unreachable, access or
  // availability note otherwise.
  static std::optional<std::string> statusText(ProviderID provider, const std::optional<ProviderLimits>& limits,
                                               Date now, const QLocale& locale, const Calendar& calendar);
  // A time ("3:07 PM") on the day of `now`, otherwise month, day and time
  // ("Mar 5, 3:07 PM"), in `calendar`'s zone and `locale`'s forms.
  static std::string asOfText(Date date, Date now, const QLocale& locale, const Calendar& calendar);

  ProviderSection(const Value& value, std::function<void()> onRetry, QWidget* parent = nullptr);

  // Rebuilds what changed; nothing when the value equals the one shown.
  void setValue(const Value& value);
  const Value& value() const { return value_; }

  // What the card shows, for tests.
  QString nameText() const;
  std::optional<QString> planText() const;
  std::optional<QString> statusLineText() const;
  bool showsRetry() const;
  std::vector<const LimitRow*> rows() const;
  std::optional<QString> creditsText() const;
  // Clicks the Retry button (when shown).
  void clickRetry();

 private:
  void apply();

  Value value_;
  std::function<void()> onRetry_;
  ProviderLogo* logo_;
  TintedLabel* name_;
  QWidget* badge_;
  TintedLabel* badgeText_;
  TextButton* manage_;
  QWidget* statusLine_;
  TintedLabel* statusText_;
  TextButton* retry_;
  QVBoxLayout* rowsLayout_;
  std::vector<LimitRow*> rows_;
  QWidget* credits_;
  TintedLabel* creditsLabel_;
  TintedLabel* creditsValue_;
};

}  // namespace tokvane
