#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "Tokvane/Engine/Runtime/ObserverList.hpp"

namespace tokvane {

// Keeps one derived value current: `compute` makes it, `apply` receives it.
// Once armed, every change the `track` function reports leads to one new
// pass on a later turn of the main queue (changes that arrive while a pass
// is pending are covered by it), so the value is computed from the state
// after the change. Main thread only.
template <typename T>
class ObservingUpdater {
 public:
  using Compute = std::function<T()>;
  using Apply = std::function<void(const T&)>;
  // Subscribes `changed` to everything `compute` depends on.
  using Track = std::function<std::vector<std::shared_ptr<Subscription>>(std::function<void()> changed)>;
  using Post = std::function<void(std::function<void()>)>;

  ObservingUpdater(Compute compute, Apply apply, Track track, Post postToMain)
      : state_(std::make_shared<State>(State{std::move(compute), std::move(apply)})),
        track_(std::move(track)),
        post_(std::move(postToMain)) {}

  ObservingUpdater(const ObservingUpdater&) = delete;
  ObservingUpdater& operator=(const ObservingUpdater&) = delete;

  // The first pass: starts tracking, computes and applies at once. Does
  // nothing when already armed.
  void arm() {
    if (state_->isArmed) return;
    state_->isArmed = true;
    std::weak_ptr<State> weak = state_;
    Post post = post_;
    subscriptions_ = track_([weak, post] {
      auto state = weak.lock();
      if (!state || state->passPending) return;
      state->passPending = true;
      post([weak] {
        if (auto state = weak.lock()) {
          state->passPending = false;
          state->pass();
        }
      });
    });
    state_->pass();
  }

  // Computes and applies outside tracking (a clock-driven refresh).
  void refresh() const { state_->apply(state_->compute()); }

  bool isArmed() const { return state_->isArmed; }
  int armCount() const { return state_->armCount; }

 private:
  struct State {
    Compute compute;
    Apply apply;
    bool isArmed = false;
    bool passPending = false;
    int armCount = 0;

    void pass() {
      ++armCount;
      apply(compute());
    }
  };

  std::shared_ptr<State> state_;
  Track track_;
  Post post_;
  std::vector<std::shared_ptr<Subscription>> subscriptions_;
};

}  // namespace tokvane
