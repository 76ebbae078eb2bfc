#pragma once

#include <QImage>
#include <QWidget>

#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// A provider's mark, `size` pixels square inside a frame 4 pixels larger,
// drawn as a template in the label colour. A provider whose logo did not
// load keeps the frame and draws nothing.
class ProviderLogo final : public QWidget {
  Q_OBJECT

 public:
  ProviderLogo(ProviderID provider, int size, QWidget* parent = nullptr);

  void setProvider(ProviderID provider);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  ProviderID provider_;
  int size_;
  // The last rendering, reused while the provider, colour and ratio stay.
  QImage cached_;
  QRgb cachedTint_ = 0;
};

}  // namespace tokvane
