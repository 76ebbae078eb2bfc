#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <optional>

#include "Tokvane/StatusItem/StatusTitle.hpp"

namespace tokvane {

// The picture of the status item, as a value. Panels never say whether they
// are dark or light, so every form reads on both:
// - glyph: the provider's logo or the application's symbol. In the normal
//   state it is symbolic (the host recolours it to the panel's text colour;
//   a host that takes the pixmap instead gets a white glyph with a dark
//   rim); warning and critical tint it orange or red.
// - chip: for hosts that show no text beside the icon, the number (or, with
//   no number, the application's symbol) in white on a rounded square
//   filled in the severity's colour.
struct StatusIcon {
  enum class Kind { glyph, chip };
  Kind kind = Kind::glyph;
  std::optional<ProviderID> provider;  // glyph: whose logo; none: the application's symbol
  Severity severity = Severity::normal;
  QString chipText;                    // chip: the number; empty: the symbol

  bool isSymbolic() const { return kind == Kind::glyph && severity == Severity::normal; }

  friend bool operator==(const StatusIcon&, const StatusIcon&) = default;
};

// Everything a tray host is given for one title.
struct StatusPresentation {
  StatusIcon icon;
  QString label;    // the text beside the icon; empty: none
  QString tooltip;

  friend bool operator==(const StatusPresentation&, const StatusPresentation&) = default;
};

// The presentation of a title on a host that shows a text beside the icon,
// or on one that does not.
StatusPresentation presentStatus(const StatusTitle& title, bool hostShowsLabel);

// The number a chip shows for a title's text: the percent before any
// " · " part, without its "%" ("58% · 2h 14m" gives "58"); "—" stays.
QString chipNumber(const std::string& text);

namespace StatusIconArt {

// The chip's fill per severity, and the glyph's tint.
QColor chipColor(Severity severity);
QColor glyphTint(Severity severity);

// The icon drawn into a square of `pixels` (premultiplied ARGB32).
QImage render(const StatusIcon& icon, int pixels);

// The glyph as SVG of black filled shapes only, for a symbolic icon file
// that the host recolours; empty when the icon is not a glyph.
QByteArray glyphSVG(const StatusIcon& icon);

}  // namespace StatusIconArt

}  // namespace tokvane
