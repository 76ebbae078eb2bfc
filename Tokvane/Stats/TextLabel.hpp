#pragma once

#include <QFont>
#include <QLabel>
#include <QString>

#include "Tokvane/Theme/DynamicColor.hpp"

namespace tokvane {

// Plain text in one font and one named colour, resolved against the
// label's own palette each time the appearance changes. setText skips
// equal texts, so an unchanged value never relays out.
class TextLabel : public QLabel {
  Q_OBJECT
 public:
  TextLabel(const QFont& font, DynamicColor colour, QWidget* parent = nullptr);

  void setPlainText(const QString& text);
  void setPlainText(const std::string& text) { setPlainText(QString::fromStdString(text)); }
  void setColour(DynamicColor colour);
  const DynamicColor& colour() const { return colour_; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void applyColour();

  DynamicColor colour_;
};

}  // namespace tokvane
