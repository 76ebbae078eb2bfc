#pragma once

#include <QWidget>
#include <optional>

#include "Tokvane/Theme/DynamicColor.hpp"
#include "TokvaneCore/Presentation/LimitBarModel.hpp"

namespace tokvane {

// One limit window as a bar 22 pixels high: the part left solid in the
// provider's accent, the used part striped, a marker where the bar would end
// had usage followed time, and the reset countdown in a pill at the trailing
// end. A stale window's bar is drawn whole at 60 % opacity.
class LimitBar final : public QWidget {
  Q_OBJECT

 public:
  struct Value {
    LimitBarModel bar;
    DynamicColor accent;
    bool dimmed = false;

    friend bool operator==(const Value&, const Value&) = default;
  };

  explicit LimitBar(QWidget* parent = nullptr);

  // Repaints only when the value differs from the one shown.
  void setValue(const Value& value);
  const std::optional<Value>& value() const { return value_; }

  // Paints a bar into `rect`, in the appearance of `palette`.
  static void paintBar(QPainter& painter, const QRectF& rect, const Value& value, const QPalette& palette);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::optional<Value> value_;
};

}  // namespace tokvane
