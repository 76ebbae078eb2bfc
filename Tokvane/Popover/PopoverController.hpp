#pragma once

#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <optional>

#include "Tokvane/Popover/PopoverAnchor.hpp"
#include "Tokvane/Popover/PopoverHeight.hpp"
#include "TokvaneCore/Providers/ProviderLocations.hpp"

class QWidget;

namespace tokvane {

class AppModel;
class Preferences;
class PopoverRoot;
class PopoverWindow;

// Owns the popover window: built once, shown under the status item, sized
// to the height its content reports (at most 80 % of the visible height of
// the item's screen), closed by a click outside it, by Escape or when the
// program loses focus. Each opening asks the model to refresh limits that
// went stale.
//
// On X11 the window is a frameless popup (Qt grabs pointer and keyboard,
// so any click outside closes it), placed by popoverOrigin. On native
// Wayland it is a frameless tool window that the compositor places, closed
// when it loses activation.
class PopoverController final : public QObject {
  Q_OBJECT

 public:
  using Clock = std::chrono::steady_clock;

  PopoverController(AppModel& model, Preferences& preferences, std::function<void()> onSettings,
                    ProviderLocations locations = ProviderLocations::live(), QObject* parent = nullptr);
  ~PopoverController() override;

  bool isShown() const;
  // Sizes, places and shows the popover; does nothing while it is shown.
  void show(const PopoverAnchor& anchor);
  void close();
  // When the popover last closed (steady clock); none before the first
  // close. The status item's click uses it for its reopen guard.
  std::optional<Clock::time_point> closedAt() const { return closedAt_; }

  QWidget* window();
  PopoverRoot* root() const { return root_; }
  const PopoverHeight& height() const { return height_; }

 private:
  friend class PopoverWindow;
  void contentHeightChanged(double height);
  void resizeTo(int height);
  void didClose();

  AppModel& model_;
  PopoverWindow* window_;
  PopoverRoot* root_;
  PopoverHeight height_;
  std::optional<PopoverAnchor> anchor_;
  std::optional<Clock::time_point> closedAt_;
  QMetaObject::Connection stateConnection_;
  bool wayland_ = false;
};

}  // namespace tokvane
