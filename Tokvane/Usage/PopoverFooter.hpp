#pragma once

#include <QWidget>
#include <functional>
#include <optional>

#include "TokvaneCore/Foundation/Date.hpp"

class QTimer;

namespace tokvane {

class ProgressSpinner;
class SymbolButton;
class TextButton;
class TintedLabel;

// The popover's bottom strip: a separator, then how long ago the model last
// published, and the refresh (a spinner while a refresh runs), settings and
// quit controls. The age text moves on every 30 seconds by itself.
class PopoverFooter final : public QWidget {
  Q_OBJECT

 public:
  struct Value {
    std::optional<Date> lastUpdated;
    bool isRefreshing = false;

    friend bool operator==(const Value&, const Value&) = default;
  };

  PopoverFooter(std::function<void()> onRefresh, std::function<void()> onSettings, std::function<void()> onQuit,
                QWidget* parent = nullptr);

  void setValue(const Value& value);
  const Value& value() const { return value_; }
  // The clock the age is measured with (the wall clock unless replaced).
  void setClock(std::function<Date()> clock);

  // What the footer shows now, for tests.
  QString statusText() const;
  bool showsRefreshButton() const;

 private:
  void refreshText();

  Value value_;
  std::function<Date()> clock_;
  TintedLabel* status_;
  SymbolButton* refresh_;
  ProgressSpinner* spinner_;
  QTimer* ticker_;
};

}  // namespace tokvane
