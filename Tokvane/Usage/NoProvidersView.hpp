#pragma once

#include <QWidget>

#include "TokvaneCore/Providers/ProviderLocations.hpp"

namespace tokvane {

// The Usage tab when no enabled tool was found: a title, and the folders the
// program watches, each selectable so it can be copied.
class NoProvidersView final : public QWidget {
  Q_OBJECT

 public:
  explicit NoProvidersView(const ProviderLocations& locations, QWidget* parent = nullptr);

  // The texts shown, top to bottom.
  QStringList texts() const;
};

}  // namespace tokvane
