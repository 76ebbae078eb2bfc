#pragma once

#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Tokvane/Engine/Runtime/Env.hpp"

namespace tokvane::testing {

// The runtime for a program that runs the indexer straight through on one
// thread: work meant for the main queue or the background runs at once, the
// clock is the real one, nothing is scheduled or watched, and each log line
// goes to standard error, flushed (a process may be killed right after it).
class InlineEnv final : public Env {
 public:
  void postToMain(std::function<void()> work) override { work(); }
  bool isMainThread() const override { return true; }
  Date now() override { return Date::now(); }
  std::shared_ptr<Cancellable> scheduleOnMain(double, std::function<void()>) override { return nullptr; }
  void runInBackground(std::function<void()> work) override { work(); }
  void log(std::string_view line) override { std::cerr << line << std::endl; }
  std::unique_ptr<FileEventStream> watchFiles(const std::vector<std::string>&, double, FileEventCallback) override {
    return nullptr;
  }
};

}  // namespace tokvane::testing
