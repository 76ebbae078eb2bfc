#include "Tokvane/Stats/SectionTitle.hpp"

#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {

SectionTitle::SectionTitle(const QString& text, QWidget* parent)
    : TextLabel(Fonts::system(13, QFont::DemiBold), SystemColors::label(), parent) {
  setPlainText(text);
}

}  // namespace tokvane
