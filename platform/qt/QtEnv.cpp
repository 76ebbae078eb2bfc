#include "platform/qt/QtEnv.hpp"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>

namespace tokvane {

namespace {

// A scheduled piece of work: a single-shot timer on the main thread that a
// cancel from any thread stops from running.
class QtScheduled final : public Cancellable {
 public:
  void cancel() override { cancelled_.store(true, std::memory_order_release); }
  bool isCancelled() const override { return cancelled_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> cancelled_{false};
};

}  // namespace

QtEnv::QtEnv() : receiver_(new QObject) {}

QtEnv::~QtEnv() {
  // Background work still running posts through postToMain(), which must
  // stay this class's until it is done.
  stopProducers();
  delete receiver_;
}

void QtEnv::postToMain(std::function<void()> work) {
  QMetaObject::invokeMethod(receiver_, std::move(work), Qt::QueuedConnection);
}

bool QtEnv::isMainThread() const { return QThread::currentThread() == receiver_->thread(); }

// QTimer takes an int of milliseconds (about 24 days): a longer delay runs as
// a chain of timers under the one handle.
static void armTimer(QObject* receiver, std::shared_ptr<QtScheduled> handle, double seconds,
                     std::function<void()> work) {
  constexpr double maxMs = 2'000'000'000.0;
  double ms = std::isfinite(seconds) ? std::max(0.0, std::ceil(seconds * 1000.0)) : 0.0;
  int delay = static_cast<int>(std::min(ms, maxMs));
  double remaining = ms > maxMs ? seconds - delay / 1000.0 : 0.0;
  QTimer::singleShot(delay, receiver, [receiver, handle, remaining, work = std::move(work)]() mutable {
    if (handle->isCancelled()) return;
    if (remaining > 0) {
      armTimer(receiver, std::move(handle), remaining, std::move(work));
      return;
    }
    work();
  });
}

std::shared_ptr<Cancellable> QtEnv::scheduleOnMain(double delaySeconds, std::function<void()> work) {
  auto handle = std::make_shared<QtScheduled>();
  if (isMainThread()) {
    armTimer(receiver_, handle, delaySeconds, std::move(work));
  } else {
    QMetaObject::invokeMethod(
        receiver_,
        [receiver = receiver_, handle, delaySeconds, work = std::move(work)]() mutable {
          armTimer(receiver, handle, delaySeconds, std::move(work));
        },
        Qt::QueuedConnection);
  }
  return handle;
}

}  // namespace tokvane
