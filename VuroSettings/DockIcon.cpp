#include "VuroSettings/DockIcon.hpp"

#include <QApplication>
#include <QEvent>
#include <QObject>
#include <QWidget>

namespace vuro::DockIcon {

namespace {

// Marks the windows this policy made tool windows, so that the regular policy
// gives back only those (a window that is a tool window of its own keeps it).
constexpr const char* kMadeTool = "vuroDockIconMadeTool";

ActivationPolicy inForce = ActivationPolicy::Regular;

// The window type the policy in force wants for `window`.
Qt::WindowType wantedType(const QWidget& window) {
  const Qt::WindowType type = window.windowType();
  const bool madeTool = window.property(kMadeTool).toBool();
  if (inForce == ActivationPolicy::Accessory && type == Qt::Window) return Qt::Tool;
  if (inForce == ActivationPolicy::Regular && type == Qt::Tool && madeTool) return Qt::Window;
  return type;
}

// A window already on screen (or created) is re-made with its new type, and
// shown again if it was visible.
void conform(QWidget& window) {
  const Qt::WindowType wanted = wantedType(window);
  if (wanted == window.windowType()) return;
  const bool wasVisible = window.isVisible();
  window.setProperty(kMadeTool, wanted == Qt::Tool);
  window.setWindowFlags((window.windowFlags() & ~Qt::WindowType_Mask) | wanted);
  if (wasVisible) window.show();
}

// Gives every window made later the policy's type just before its native
// window exists (the Create event comes first), so it never shows with the
// wrong one.
class WindowWatcher : public QObject {
 public:
  using QObject::QObject;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Create && watched->isWidgetType()) {
      auto* window = static_cast<QWidget*>(watched);
      const Qt::WindowType wanted = window->isWindow() ? wantedType(*window) : window->windowType();
      if (wanted != window->windowType()) {
        window->setProperty(kMadeTool, wanted == Qt::Tool);
        window->overrideWindowFlags((window->windowFlags() & ~Qt::WindowType_Mask) | wanted);
      }
    }
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

ActivationPolicy policy(bool visible) {
  return visible ? ActivationPolicy::Regular : ActivationPolicy::Accessory;
}

ActivationPolicy current() { return inForce; }

void apply(bool visible) {
  const ActivationPolicy wanted = policy(visible);
  if (wanted == inForce) return;
  inForce = wanted;
  static WindowWatcher* watcher = [] {
    auto* w = new WindowWatcher(qApp);
    qApp->installEventFilter(w);
    return w;
  }();
  (void)watcher;
  for (QWidget* window : QApplication::topLevelWidgets()) conform(*window);
}

}  // namespace vuro::DockIcon
