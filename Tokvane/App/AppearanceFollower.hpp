#pragma once

#include <QObject>
#include <QPalette>

#include "Tokvane/Theme/Appearance.hpp"
#include "platform/qt/ColorSchemePortal.hpp"

namespace tokvane {

// Gives the application the palette of the appearance the desktop asks for
// (its colour-scheme setting, else the lightness of its own palette), and
// again whenever the setting changes.
class AppearanceFollower final : public QObject {
  Q_OBJECT
 public:
  explicit AppearanceFollower(QObject* parent = nullptr);

  Appearance appearance() const { return appearance_; }

 private:
  void apply();

  QPalette desktopPalette_;
  ColorSchemePortal portal_;
  Appearance appearance_ = Appearance::light;
};

}  // namespace tokvane
