#pragma once

#include <QString>

#include "Tokvane/Stats/TextLabel.hpp"

namespace tokvane {

// The heading of every block of the Stats and Models tabs: plain text at
// 13 px, semibold, in the label colour.
class SectionTitle : public TextLabel {
  Q_OBJECT
 public:
  explicit SectionTitle(const QString& text, QWidget* parent = nullptr);
};

}  // namespace tokvane
