#include "tools/screenshots/Scene.hpp"

#include <QApplication>
#include <QLayout>
#include <QWidget>

namespace tokvane::screenshots {

std::vector<Scene>& allScenes() {
  static std::vector<Scene> scenes;
  return scenes;
}

SceneRegistration::SceneRegistration(std::string name, std::function<QImage(Appearance)> render) {
  allScenes().push_back({std::move(name), std::move(render)});
}

QImage grabWidget(QWidget& widget, Appearance appearance, qreal devicePixelRatio) {
  widget.setPalette(paletteFor(appearance));
  widget.ensurePolished();
  if (widget.layout() != nullptr) widget.layout()->activate();
  if (widget.size().isEmpty()) widget.resize(widget.sizeHint());
  QImage image(widget.size() * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(devicePixelRatio);
  image.fill(Qt::transparent);
  widget.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
  return image;
}

}  // namespace tokvane::screenshots
