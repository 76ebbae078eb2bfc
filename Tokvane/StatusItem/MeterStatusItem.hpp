#pragma once

#include <QObject>
#include <QPoint>
#include <functional>
#include <memory>
#include <optional>

#include "Tokvane/Engine/Model/AppModel.hpp"
#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "Tokvane/Popover/PopoverAnchor.hpp"
#include "Tokvane/StatusItem/ScrollStepper.hpp"
#include "Tokvane/StatusItem/StatusItemBackend.hpp"
#include "Tokvane/StatusItem/StatusTitle.hpp"

namespace tokvane {

// The status item in the panel: draws a StatusTitle through a tray backend,
// turns a primary click into `onClick`, gives the host the status menu built
// afresh for each opening, and turns scrolling over it into a step of the
// pinned provider through the present providers.
class MeterStatusItem final : public QObject {
  Q_OBJECT
 public:
  using ClickHandler = std::function<void()>;
  using MenuBuilder = StatusItemBackend::MenuBuilder;

  MeterStatusItem(AppModel& model, Preferences& preferences, ClickHandler onClick, MenuBuilder menu,
                  std::unique_ptr<StatusItemBackend> backend);
  ~MeterStatusItem() override;

  // Our own StatusNotifierItem when a watcher is on the bus; else Qt's tray
  // icon when an XEmbed tray exists; else the StatusNotifierItem, waiting
  // for a watcher to appear.
  static std::unique_ptr<StatusItemBackend> makeBackend();

  // Draws the title; nothing when it equals the one shown.
  void apply(const StatusTitle& title);
  const std::optional<StatusTitle>& current() const { return current_; }
  // How many times a title was really drawn.
  int drawCount() const { return drawCount_; }

  StatusItemBackend& backend() { return *backend_; }
  bool hasHost() const { return backend_->isHosted(); }

  // Where the popover opens from: the item's geometry or the point of the
  // last click on it, the pointer, and the screen they are on.
  PopoverAnchor anchor() const;

  // One scroll event over the item.
  void scroll(double deltaY, double deltaX, bool precise = false, bool gestureBegan = false,
              ScrollStepper::Clock::time_point now = ScrollStepper::Clock::now());

 private:
  void draw();

  AppModel& model_;
  Preferences& preferences_;
  ClickHandler onClick_;
  std::unique_ptr<StatusItemBackend> backend_;
  std::optional<StatusTitle> current_;
  ScrollStepper stepper_;
  std::optional<QPoint> lastClick_;
  int drawCount_ = 0;
};

}  // namespace tokvane
