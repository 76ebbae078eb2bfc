#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Snapshot/SnapshotStore.hpp"
#include "TokvaneWidgets/Host/GalleryWindow.hpp"
#include "TokvaneWidgets/Host/WallClockTimer.hpp"
#include "TokvaneWidgets/Host/WidgetInstance.hpp"
#include "TokvaneWidgets/Timeline/Timelines.hpp"

namespace tokvane::widgets {

class DesktopWidgetWindow;

// The host of the desktop widgets: it keeps the placed widgets (and their
// file), gives each its timeline from the snapshot store, shows the entry
// that is due, rebuilds the timelines at their reload dates, when the
// snapshot file is replaced and when asked to, and advances running
// countdowns once a second while there are any.
class WidgetHost : public QObject {
  Q_OBJECT

 public:
  struct Options {
    std::filesystem::path instanceFile;
    std::optional<std::filesystem::path> snapshotDirectory;  // none: no store
    std::optional<std::filesystem::path> autostartEntry;     // none: leave login alone
    std::string program;                                     // started at login
    bool translucent = false;                                // rounded corners over a compositor
    std::function<Date()> clock = [] { return Date::now(); };
  };

  explicit WidgetHost(Options options, QObject* parent = nullptr);
  ~WidgetHost() override;

  // Places the stored widgets; with none, shows the gallery.
  void start();

  void showGallery();
  void addWidget(WidgetKind kind);
  // Reads the store once and rebuilds every timeline.
  void reloadAll();
  // Looks at the clock: shows the entries now due, rebuilds what is due.
  void recheck();

  int widgetCount() const { return static_cast<int>(slots_.size()); }
  DesktopWidgetWindow* window(int index) const;
  const Timeline& timeline(int index) const;
  std::vector<WidgetInstance> instances() const;
  GalleryWindow* gallery() const { return gallery_; }
  // How many times the timelines were rebuilt (for the tests).
  int reloads() const { return reloads_; }
  const WallClockTimer& wakeTimer() const { return wake_; }
  bool ticking() const { return tick_.isActive(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 signals:
  // Nothing left to show: no widget and no gallery.
  void idle();

 private:
  struct Slot;

  void createSlot(const WidgetInstance& instance);
  void removeSlot(Slot* slot);
  void apply(Slot& slot, Date now);
  void schedule(Date now);
  void tick();
  void save();
  void syncAutostart();
  void watchSnapshot();
  void refreshGallery(Date now);

  Options options_;
  SnapshotStore store_;
  std::vector<std::unique_ptr<Slot>> slots_;
  QPointer<GalleryWindow> gallery_;
  WallClockTimer wake_;
  QTimer tick_;
  QTimer fileChange_;
  QFileSystemWatcher watcher_;
  int reloads_ = 0;
};

}  // namespace tokvane::widgets
