#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Tokvane/Engine/Runtime/Env.hpp"

namespace tokvane {

// Notifications between the application and its widget program, by name.
class DistributedNotificationCenter {
 public:
  virtual ~DistributedNotificationCenter() = default;
  // Calls `handler` on the main thread for every notification with that name,
  // from any sender, until the returned token is cancelled or dropped.
  virtual std::shared_ptr<Cancellable> observe(const std::string& name, std::function<void()> handler) = 0;
  virtual void post(const std::string& name) = 0;
};

}  // namespace tokvane
