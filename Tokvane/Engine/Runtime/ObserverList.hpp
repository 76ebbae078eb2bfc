#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace tokvane {

// Keeps a subscription alive; dropping it (or calling cancel) stops the calls.
class Subscription {
 public:
  virtual ~Subscription() = default;
  virtual void cancel() = 0;
};

// A small observation mechanism for main-thread state: subscribers hear,
// after a real change, which property changed. Calls are made synchronously
// on the thread that made the change (the main thread). A subscriber may
// subscribe or cancel others while being called.
template <typename Property>
class ObserverList {
 public:
  using Callback = std::function<void(Property)>;

  [[nodiscard]] std::shared_ptr<Subscription> subscribe(Callback callback) {
    auto entry = std::make_shared<Entry>(std::move(callback));
    entries_.push_back(entry);
    return entry;
  }

  void notify(Property property) {
    // Work on a copy so that callbacks can change the list.
    const auto snapshot = entries_;
    for (const auto& weak : snapshot) {
      if (auto entry = weak.lock(); entry && entry->active) entry->callback(property);
    }
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [](const std::weak_ptr<Entry>& weak) {
                                    auto entry = weak.lock();
                                    return !entry || !entry->active;
                                  }),
                   entries_.end());
  }

  size_t count() const {
    return static_cast<size_t>(std::count_if(entries_.begin(), entries_.end(), [](const std::weak_ptr<Entry>& weak) {
      auto entry = weak.lock();
      return entry && entry->active;
    }));
  }

 private:
  struct Entry final : Subscription {
    explicit Entry(Callback cb) : callback(std::move(cb)) {}
    void cancel() override { active = false; }
    Callback callback;
    bool active = true;
  };
  std::vector<std::weak_ptr<Entry>> entries_;
};

}  // namespace tokvane
