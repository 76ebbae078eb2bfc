#pragma once

#include <QObject>
#include <QTimer>

#include "TokvaneCore/Foundation/Date.hpp"

class QSocketNotifier;

namespace tokvane::widgets {

// A one-shot timer on the wall clock: it fires when the clock reaches the
// given date, also when the machine slept through it (it fires on waking),
// and it fires at once when the clock is set (a change of time or zone
// correction), so the owner can look at the clock again. A timerfd on
// CLOCK_REALTIME with TFD_TIMER_CANCEL_ON_SET; a monotonic QTimer where
// that is not available.
class WallClockTimer : public QObject {
  Q_OBJECT

 public:
  explicit WallClockTimer(QObject* parent = nullptr);
  ~WallClockTimer() override;

  void fireAt(Date when);
  void stop();
  bool isActive() const { return active_; }
  Date deadline() const { return deadline_; }

 signals:
  // The deadline came, or the clock was set.
  void fired();

 private:
  void onReadable();

  int fd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  QTimer fallback_;
  bool active_ = false;
  Date deadline_;
};

}  // namespace tokvane::widgets
