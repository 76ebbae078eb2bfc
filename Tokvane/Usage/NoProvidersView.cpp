#include "Tokvane/Usage/NoProvidersView.hpp"

#include <QVBoxLayout>

#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SystemColors.hpp"
#include "Tokvane/Usage/ProviderCardText.hpp"
#include "Tokvane/Usage/TintedLabel.hpp"

namespace tokvane {

namespace {

QFont monospaced(int pixelSize) {
  QFont font(QStringLiteral("DejaVu Sans Mono"));
  font.setStyleHint(QFont::Monospace);
  font.setPixelSize(pixelSize);
  return font;
}

}  // namespace

NoProvidersView::NoProvidersView(const ProviderLocations& locations, QWidget* parent) : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(8);
  column->addWidget(new TintedLabel(QStringLiteral("No AI coding tools found yet"), Fonts::system(15, QFont::Medium),
                                    SystemColors::label(), this));
  column->addWidget(new TintedLabel(QStringLiteral("Tokvane watches these folders:"), Fonts::system(12),
                                    SystemColors::secondaryLabel(), this));
  auto* folders = new QVBoxLayout;
  folders->setContentsMargins(0, 0, 0, 0);
  folders->setSpacing(3);
  for (const std::string& folder : watchedFolders(locations)) {
    auto* label = new TintedLabel(QString::fromStdString(folder), monospaced(11), SystemColors::secondaryLabel(), this);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setCursor(Qt::IBeamCursor);
    folders->addWidget(label);
  }
  column->addLayout(folders);
  column->addStretch(1);
}

QStringList NoProvidersView::texts() const {
  QStringList texts;
  for (auto* label : findChildren<TintedLabel*>(QString(), Qt::FindDirectChildrenOnly)) texts << label->text();
  return texts;
}

}  // namespace tokvane
