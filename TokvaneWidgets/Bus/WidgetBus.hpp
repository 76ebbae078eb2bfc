#pragma once

#include <QObject>
#include <QTimer>

namespace tokvane::widgets {

// The widget program on the session bus: it posts the refresh request,
// hears the application's reload request (bursts coalesced into one
// reload), owns the single-instance name and opens the application.
class WidgetBus : public QObject {
  Q_OBJECT

 public:
  explicit WidgetBus(QObject* parent = nullptr);

  // Claims the instance name and serves ShowGallery on it. False when
  // another instance holds the name (or there is no session bus).
  bool claimInstance();
  // Asks the running instance to show its gallery; true when it answered.
  static bool showGalleryOfRunningInstance();

  // Posts Posted("app.tokvane.refresh"); does not wait for anyone.
  static bool postRefresh();
  // Opens "tokvane://open": through the running application's
  // org.freedesktop.Application.Open when it is on the bus, else through
  // the desktop's URL handler.
  static void openApplication();

  // Coalescing of reload requests, in milliseconds.
  static constexpr int reloadCoalesceMs = 100;

 signals:
  void reloadRequested();
  void galleryRequested();

 private slots:
  void onReloadAllTimelines();

 private:
  QTimer coalesce_;
};

}  // namespace tokvane::widgets
