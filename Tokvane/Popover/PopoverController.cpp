#include "Tokvane/Popover/PopoverController.hpp"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <QWidget>

#include "Tokvane/Engine/Model/AppModel.hpp"
#include "Tokvane/Popover/PopoverPlacement.hpp"
#include "Tokvane/Popover/PopoverRoot.hpp"
#include "VuroTheme/Compositor.hpp"

namespace tokvane {

// The popover's top-level window; tells the controller of every close.
class PopoverWindow final : public QWidget {
 public:
  PopoverWindow(PopoverController& controller, bool wayland)
      : QWidget(nullptr, (wayland ? Qt::Tool : Qt::Popup) | Qt::FramelessWindowHint), controller_(controller),
        wayland_(wayland) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(QStringLiteral("Tokvane"));
  }

 protected:
  // Every way the window goes (our close, Qt's outside-click close, the
  // compositor or window manager taking it away) is a close.
  void hideEvent(QHideEvent* event) override {
    QWidget::hideEvent(event);
    controller_.didClose();
  }
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape) {
      close();
      return;
    }
    QWidget::keyPressEvent(event);
  }
  void changeEvent(QEvent* event) override {
    QWidget::changeEvent(event);
    // A tool window gets no grab: losing activation is the outside click.
    if (wayland_ && event->type() == QEvent::ActivationChange && isVisible() && !isActiveWindow()) close();
  }

 private:
  PopoverController& controller_;
  bool wayland_;
};

PopoverController::PopoverController(AppModel& model, Preferences& preferences, std::function<void()> onSettings,
                                     ProviderLocations locations, QObject* parent)
    : QObject(parent), model_(model) {
  wayland_ = QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
  window_ = new PopoverWindow(*this, wayland_);
  auto* layout = new QVBoxLayout(window_);
  layout->setContentsMargins(0, 0, 0, 0);
  PopoverRoot::Actions actions;
  QPointer<PopoverController> self(this);
  actions.onSettings = [self, onSettings = std::move(onSettings)] {
    if (self) self->close();
    if (onSettings) onSettings();
  };
  actions.onHeightChange = [self](double height) {
    if (self) self->contentHeightChanged(height);
  };
  root_ = new PopoverRoot(model, preferences, std::move(actions), std::move(locations), window_);
  layout->addWidget(root_);
  // Rounded translucent corners only where a compositor draws them.
  if (vuro::Compositor::isRunning()) {
    window_->setAttribute(Qt::WA_TranslucentBackground);
    root_->setRoundedCorners(true);
  }
  // Until the content reports a height: 420 x 300.
  window_->resize(PopoverHeight::width, static_cast<int>(PopoverHeight::initialMaxHeight * 0.5));
}

PopoverController::~PopoverController() {
  QObject::disconnect(stateConnection_);
  delete window_;
}

bool PopoverController::isShown() const { return window_->isVisible(); }

QWidget* PopoverController::window() { return window_; }

void PopoverController::show(const PopoverAnchor& anchor) {
  if (isShown()) return;
  anchor_ = anchor;
  if (!anchor.available.isEmpty()) height_.setScreen(anchor.available.height());
  if (auto target = height_.target()) resizeTo(*target);
  if (!wayland_) window_->move(popoverOrigin(anchor, window_->size()));
  window_->show();
  window_->raise();
  window_->activateWindow();
  // Losing focus to another program closes the popover.
  stateConnection_ = connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
    if (s != Qt::ApplicationActive && isShown()) close();
  });
  model_.refreshLimitsIfStale();
}

void PopoverController::close() {
  if (isShown()) window_->close();
}

void PopoverController::contentHeightChanged(double height) {
  if (!height_.report(height)) return;
  if (auto target = height_.target()) resizeTo(*target);
}

void PopoverController::resizeTo(int height) {
  if (window_->size() == QSize(PopoverHeight::width, height)) return;
  window_->resize(PopoverHeight::width, height);
  // A popover that grows or shrinks while open stays against its anchor.
  if (isShown() && anchor_ && !wayland_) window_->move(popoverOrigin(*anchor_, window_->size()));
}

void PopoverController::didClose() {
  closedAt_ = Clock::now();
  QObject::disconnect(stateConnection_);
}

}  // namespace tokvane
