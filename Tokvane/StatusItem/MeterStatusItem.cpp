#include "Tokvane/StatusItem/MeterStatusItem.hpp"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include "Tokvane/StatusItem/StatusNotifierItem.hpp"
#include "Tokvane/StatusItem/SystemTrayItem.hpp"

namespace tokvane {

MeterStatusItem::MeterStatusItem(AppModel& model, Preferences& preferences, ClickHandler onClick, MenuBuilder menu,
                                 std::unique_ptr<StatusItemBackend> backend)
    : model_(model), preferences_(preferences), onClick_(std::move(onClick)), backend_(std::move(backend)) {
  backend_->setMenuBuilder(std::move(menu));
  connect(backend_.get(), &StatusItemBackend::activated, this, [this](std::optional<QPoint> point) {
    if (point) lastClick_ = *point;
    if (onClick_) onClick_();
  });
  connect(backend_.get(), &StatusItemBackend::scrolled, this,
          [this](double deltaY, double deltaX) { scroll(deltaY, deltaX); });
  // A host that shows labels gets the glyph, one that does not the chip.
  connect(backend_.get(), &StatusItemBackend::hostChanged, this, [this] {
    if (current_) draw();
  });
  apply(StatusTitle::initial());
}

MeterStatusItem::~MeterStatusItem() = default;

std::unique_ptr<StatusItemBackend> MeterStatusItem::makeBackend() {
  if (!StatusNotifierItem::watcherPresent() && SystemTrayItem::trayAvailable())
    return std::make_unique<SystemTrayItem>();
  return std::make_unique<StatusNotifierItem>();
}

void MeterStatusItem::apply(const StatusTitle& title) {
  if (current_ && *current_ == title) return;
  current_ = title;
  draw();
}

void MeterStatusItem::draw() {
  backend_->show(presentStatus(*current_, backend_->hostShowsLabel()));
  ++drawCount_;
}

PopoverAnchor MeterStatusItem::anchor() const {
  PopoverAnchor anchor;
  if (const auto geometry = backend_->geometry())
    anchor.item = *geometry;
  else if (lastClick_)
    anchor.item = QRect(*lastClick_, QSize(1, 1));
  // Only X11 knows where the pointer is; elsewhere it reads 0,0.
  if (QGuiApplication::platformName() == QLatin1String("xcb")) anchor.cursor = QCursor::pos();
  QScreen* screen = nullptr;
  if (anchor.item) screen = QGuiApplication::screenAt(anchor.item->center());
  if (!screen && anchor.cursor) screen = QGuiApplication::screenAt(*anchor.cursor);
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (screen) {
    anchor.screen = screen->geometry();
    anchor.available = screen->availableGeometry();
  }
  return anchor;
}

void MeterStatusItem::scroll(double deltaY, double deltaX, bool precise, bool gestureBegan,
                             ScrollStepper::Clock::time_point now) {
  if (preferences_.menuBarStyle() != MenuBarStyle::provider) return;
  const std::vector<ProviderID> present = model_.present();
  if (present.size() < 2) return;
  const int step = stepper_.feed(deltaY, deltaX, precise, gestureBegan, now);
  if (step == 0) return;
  preferences_.setPinnedProvider(steppedProvider(present, preferences_.pinnedProvider(), step));
}

}  // namespace tokvane
