#pragma once

#include <QWidget>
#include <optional>
#include <string>
#include <utility>

#include "Tokvane/Theme/DynamicColor.hpp"
#include "TokvaneCore/Presentation/LimitBarModel.hpp"

class QHelpEvent;

namespace tokvane {

// The symbol and the tooltip of a pace; none for an unknown pace.
std::optional<QString> paceSymbolName(Pace pace);
std::optional<QString> paceHelpText(Pace pace);

// One limit window of a provider as a card: its name, the share left as a
// large percentage with "left" and the pace symbol, and the window's bar to
// the right. Painted in one pass; repaints only when its value changes.
class LimitRow final : public QWidget {
  Q_OBJECT

 public:
  struct Value {
    std::string label;
    LimitBarModel bar;
    DynamicColor accent;
    bool isStale = false;

    friend bool operator==(const Value&, const Value&) = default;
  };

  // The card's measures.
  static constexpr int padding = 16;
  static constexpr int spacing = 12;
  static constexpr int labelColumnWidth = 132;
  static constexpr double cornerRadius = 12;
  static constexpr double minimumScale = 0.7;

  explicit LimitRow(const Value& value, QWidget* parent = nullptr);

  void setValue(const Value& value);
  const Value& value() const { return value_; }

  // Where the parts go in a row of this width (tested without painting).
  struct Geometry {
    QRectF label;
    QRectF percent;  // the percentage's box, at its shrunk size
    double percentScale = 1;
    QRectF left;     // the word "left"
    std::optional<QRectF> paceSymbol;
    QRectF bar;
  };
  Geometry geometryFor(int width) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return false; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  int rowHeight() const;

  Value value_;
  // The geometry of the last paint and the width it was made for.
  std::optional<std::pair<int, Geometry>> geometryCache_;
};

}  // namespace tokvane
