#include "tests/engine/support/FakeEnv.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>

namespace tokvane::testing {

namespace {

class Flag final : public Cancellable {
 public:
  void cancel() override { cancelled_ = true; }
  bool isCancelled() const override { return cancelled_; }

 private:
  std::atomic<bool> cancelled_{false};
};

class StreamHandle final : public FileEventStream {
 public:
  explicit StreamHandle(std::shared_ptr<FakeEnv::WatchedStream> stream) : stream_(std::move(stream)) {}
  ~StreamHandle() override { stream_->alive = false; }

 private:
  std::shared_ptr<FakeEnv::WatchedStream> stream_;
};

}  // namespace

struct FakeEnv::Timer {
  Date due;
  uint64_t sequence;
  std::shared_ptr<Flag> flag;
  std::function<void()> work;
};

FakeEnv::FakeEnv(Date start, Background background)
    : mainThread_(std::this_thread::get_id()), now_(start), background_(background) {}

FakeEnv::~FakeEnv() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (auto& thread : threads) thread.join();
}

void FakeEnv::postToMain(std::function<void()> work) {
  std::lock_guard lock(mutex_);
  mainQueue_.push_back(std::move(work));
}

bool FakeEnv::runOneMain() {
  std::function<void()> work;
  {
    std::lock_guard lock(mutex_);
    if (mainQueue_.empty()) return false;
    work = std::move(mainQueue_.front());
    mainQueue_.pop_front();
  }
  work();
  return true;
}

int FakeEnv::drain() {
  int count = 0;
  while (runOneMain()) ++count;
  return count;
}

bool FakeEnv::drainUntil(const std::function<bool()>& predicate, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    drain();
    if (predicate && predicate()) return true;
    bool idle;
    {
      std::lock_guard lock(mutex_);
      idle = mainQueue_.empty() && runningBackground_ == 0;
    }
    if (idle && !predicate) return true;
    if (std::chrono::steady_clock::now() > deadline) return predicate ? predicate() : false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

Date FakeEnv::now() {
  std::lock_guard lock(mutex_);
  return now_;
}

void FakeEnv::setNow(Date date) {
  std::lock_guard lock(mutex_);
  now_ = date;
}

std::shared_ptr<Cancellable> FakeEnv::scheduleOnMain(double delaySeconds, std::function<void()> work) {
  auto flag = std::make_shared<Flag>();
  std::lock_guard lock(mutex_);
  if (!(delaySeconds > 0)) delaySeconds = 0;
  timers_.push_back(std::make_shared<Timer>(Timer{now_ + delaySeconds, timerSequence_++, flag, std::move(work)}));
  return flag;
}

void FakeEnv::advance(double seconds) {
  Date target;
  {
    std::lock_guard lock(mutex_);
    target = now_ + seconds;
  }
  drain();
  while (true) {
    std::shared_ptr<Timer> next;
    {
      std::lock_guard lock(mutex_);
      timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [](const auto& t) { return t->flag->isCancelled(); }),
                    timers_.end());
      for (const auto& timer : timers_) {
        if (timer->due <= target &&
            (!next || timer->due < next->due || (timer->due == next->due && timer->sequence < next->sequence))) {
          next = timer;
        }
      }
      if (!next) {
        now_ = target;
        break;
      }
      timers_.erase(std::find(timers_.begin(), timers_.end(), next));
      if (next->due > now_) now_ = next->due;
    }
    if (!next->flag->isCancelled()) next->work();
    drain();
  }
  drain();
}

size_t FakeEnv::pendingTimers() const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(timers_.begin(), timers_.end(),
                                           [](const auto& t) { return !t->flag->isCancelled(); }));
}

std::vector<double> FakeEnv::pendingTimerDelays() const {
  std::lock_guard lock(mutex_);
  std::vector<double> delays;
  for (const auto& timer : timers_) {
    if (!timer->flag->isCancelled()) delays.push_back(timer->due - now_);
  }
  std::sort(delays.begin(), delays.end());
  return delays;
}

void FakeEnv::runInBackground(std::function<void()> work) {
  if (background_ == Background::inline_) {
    work();
    return;
  }
  std::lock_guard lock(mutex_);
  ++runningBackground_;
  threads_.emplace_back([this, work = std::move(work)] {
    work();
    std::lock_guard inner(mutex_);
    --runningBackground_;
  });
}

void FakeEnv::log(std::string_view line) {
  std::lock_guard lock(mutex_);
  log_.emplace_back(line);
}

std::vector<std::string> FakeEnv::logLines() const {
  std::lock_guard lock(mutex_);
  return log_;
}

std::unique_ptr<FileEventStream> FakeEnv::watchFiles(const std::vector<std::string>& roots, double latencySeconds,
                                                     FileEventCallback onBatch) {
  auto stream = std::make_shared<WatchedStream>(WatchedStream{roots, latencySeconds, std::move(onBatch), true});
  std::lock_guard lock(mutex_);
  lastStream_ = stream;
  ++streamsMade_;
  return std::make_unique<StreamHandle>(stream);
}

std::shared_ptr<FakeEnv::WatchedStream> FakeEnv::lastStream() const {
  std::lock_guard lock(mutex_);
  return lastStream_;
}

int FakeEnv::streamsMade() const {
  std::lock_guard lock(mutex_);
  return streamsMade_;
}

struct FakeNotificationCenter::Observer : Cancellable {
  std::string name;
  std::function<void()> handler;
  std::atomic<bool> cancelled{false};
  void cancel() override { cancelled = true; }
  bool isCancelled() const override { return cancelled; }
};

std::shared_ptr<Cancellable> FakeNotificationCenter::observe(const std::string& name, std::function<void()> handler) {
  auto observer = std::make_shared<Observer>();
  observer->name = name;
  observer->handler = std::move(handler);
  observers_.push_back(observer);
  return observer;
}

void FakeNotificationCenter::post(const std::string& name) {
  for (const auto& observer : observers_) {
    if (observer->name == name && !observer->cancelled) {
      std::weak_ptr<Observer> weak = observer;
      env_.postToMain([weak] {
        if (auto strong = weak.lock(); strong && !strong->cancelled) strong->handler();
      });
    }
  }
}

int FakeNotificationCenter::observers(const std::string& name) const {
  return static_cast<int>(std::count_if(observers_.begin(), observers_.end(), [&](const auto& o) {
    return o->name == name && !o->cancelled;
  }));
}

}  // namespace tokvane::testing
