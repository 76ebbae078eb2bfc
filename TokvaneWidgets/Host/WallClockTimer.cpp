#include "TokvaneWidgets/Host/WallClockTimer.hpp"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cmath>
#include <cstdint>

namespace tokvane::widgets {

WallClockTimer::WallClockTimer(QObject* parent) : QObject(parent) {
  fd_ = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd_ >= 0) {
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &WallClockTimer::onReadable);
  }
  fallback_.setSingleShot(true);
  fallback_.setTimerType(Qt::CoarseTimer);
  connect(&fallback_, &QTimer::timeout, this, [this] {
    active_ = false;
    emit fired();
  });
}

WallClockTimer::~WallClockTimer() {
  if (fd_ >= 0) ::close(fd_);
}

void WallClockTimer::fireAt(Date when) {
  deadline_ = when;
  active_ = true;
  if (fd_ < 0) {
    const double ms = std::max(0.0, (when - Date::now()) * 1000);
    fallback_.start(static_cast<int>(std::min(ms, 2.0e9)));
    return;
  }
  double unix = std::max(1.0, when.unixSeconds());
  itimerspec deadline{};
  deadline.it_value.tv_sec = static_cast<time_t>(std::floor(unix));
  deadline.it_value.tv_nsec = static_cast<long>((unix - std::floor(unix)) * 1e9);
  if (timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &deadline, nullptr) != 0) {
    const double ms = std::max(0.0, (when - Date::now()) * 1000);
    fallback_.start(static_cast<int>(std::min(ms, 2.0e9)));
  }
}

void WallClockTimer::stop() {
  active_ = false;
  fallback_.stop();
  if (fd_ >= 0) {
    itimerspec off{};
    timerfd_settime(fd_, 0, &off, nullptr);
  }
}

void WallClockTimer::onReadable() {
  uint64_t expirations = 0;
  // ECANCELED: the clock was set; either way the owner looks at the clock.
  const ssize_t n = ::read(fd_, &expirations, sizeof expirations);
  if (n < 0 && errno == EAGAIN) return;
  active_ = false;
  emit fired();
}

}  // namespace tokvane::widgets
