// Times one index run over a home folder's tool logs, as the application runs
// it: a full run, or with --changed a run over the given changed paths.
//
//   tokvane-index-bench --home DIR --store FILE [--changed PATH]... [--parse-threads N]
//                       [--chunk-size BYTES] [--probe-store]
//
// Prints one JSON object: the candidate log files under the tool folders
// ("files"), the files the run read and the bytes it consumed (from the
// ledger's cursors before and after), the new events, the run's wall time
// and the process's peak resident size.
//
// With --probe-store, another thread calls the store as the interface's main
// thread does (reading Codex's stored limits, saving a provider's limits)
// every few milliseconds while the run lasts, and the object also gives how
// many calls it made and the longest and the 99th-percentile time one took
// ("storeCalls", "longestStoreCallMs", "p99StoreCallMs").

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "Tokvane/Engine/Runtime/Env.hpp"
#include "Tokvane/Engine/Indexing/IndexerService.hpp"
#include "Tokvane/Engine/Indexing/LogFileTree.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Limits/ProviderLimits.hpp"
#include "TokvaneCore/Logs/FileCursor.hpp"
#include "TokvaneCore/Providers/CursorProvider.hpp"
#include "TokvaneCore/Providers/ProviderLocations.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/support/InlineEnv.hpp"

namespace {

using namespace tokvane;

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: tokvane-index-bench --home DIR --store FILE [--changed PATH]... [--parse-threads N] "
               "[--chunk-size BYTES] [--probe-store]\n");
  std::exit(2);
}

// Calls the store from a thread of its own, as the main thread would, until
// stopped, timing every call.
class StoreProbe {
 public:
  explicit StoreProbe(UsageStore& store) : store_(store), thread_([this] { run(); }) {}
  ~StoreProbe() { stop(); }

  void stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
  }
  size_t calls() const { return millis_.size(); }
  double longest() const { return millis_.empty() ? 0 : *std::max_element(millis_.begin(), millis_.end()); }
  double percentile(double fraction) const {
    if (millis_.empty()) return 0;
    std::vector<double> sorted = millis_;
    std::sort(sorted.begin(), sorted.end());
    return sorted[std::min(sorted.size() - 1, static_cast<size_t>(fraction * static_cast<double>(sorted.size())))];
  }

 private:
  void run() {
    ProviderLimits limits;
    limits.plan = "probe";
    limits.status = ProviderStatus::ok;
    for (int call = 0; !stopping_; ++call) {
      const auto start = std::chrono::steady_clock::now();
      if (call % 2 == 0) {
        (void)store_.limits(ProviderID::codex);
      } else {
        limits.fetchedAt = Date::now();
        store_.setLimits(limits, ProviderID::claude);
      }
      millis_.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
      std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }
  }

  UsageStore& store_;
  std::atomic<bool> stopping_{false};
  std::vector<double> millis_;
  std::thread thread_;
};

// How many bytes the run consumed of one file, from its cursor before and after.
int64_t consumed(const FileCursor& after, const std::optional<FileCursor>& before) {
  if (after.context.count("lastTurn")) {  // a Grok file is read whole
    return std::strtoll(after.context.count("size") ? after.context.at("size").c_str() : "0", nullptr, 10);
  }
  if (before && before->inode == after.inode && before->offset <= after.offset) return after.offset - before->offset;
  return after.offset;
}

}  // namespace

int main(int argc, char** argv) {
  std::string home;
  std::string storePath;
  std::vector<std::string> changed;
  bool probe = false;
  IndexerService::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--probe-store") {
      probe = true;
      continue;
    }
    if (i + 1 >= argc) usage();
    if (arg == "--home") {
      home = argv[++i];
    } else if (arg == "--store") {
      storePath = argv[++i];
    } else if (arg == "--changed") {
      changed.emplace_back(argv[++i]);
    } else if (arg == "--parse-threads") {
      options.parseThreads = std::atoi(argv[++i]);
    } else if (arg == "--chunk-size") {
      options.chunkSize = std::atoll(argv[++i]);
    } else {
      usage();
    }
  }
  if (home.empty() || storePath.empty()) usage();

  try {
    UsageStore store(storePath);
    const ProviderLocations locations(home);
    size_t files = 0;
    for (const auto& [provider, folder] : locations.logRoots()) {
      files += LogFileTree::candidates(LogFileTree::resolved(folder), provider).size();
    }
    const auto before = store.allCursorTexts();

    testing::InlineEnv env;
    IndexOutcome outcome;
    double seconds = 0;
    std::optional<StoreProbe> prober;
    {
      IndexerService service(store, locations, std::make_shared<CursorProvider>(), std::make_shared<LocalCalendar>(),
                             env, {}, options);
      const auto start = std::chrono::steady_clock::now();
      if (probe) prober.emplace(store);
      outcome = changed.empty() ? service.indexAll().get() : service.index(changed).get();
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (prober) prober->stop();
    }

    size_t filesRead = 0;
    int64_t bytes = 0;
    for (const auto& [path, json] : store.allCursorTexts()) {
      const auto it = before.find(path);
      if (it != before.end() && it->second == json) continue;
      ++filesRead;
      std::optional<FileCursor> earlier;
      if (it != before.end()) {
        try {
          earlier = FileCursor::fromJSONText(it->second);
        } catch (...) {
        }
      }
      bytes += consumed(FileCursor::fromJSONText(json), earlier);
    }

    struct rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("{\"files\":%zu,\"filesRead\":%zu,\"bytes\":%lld,\"newEvents\":%d,\"seconds\":%.6f,\"peakRSSKiB\":%ld",
                files, filesRead, static_cast<long long>(bytes), outcome.newEvents, seconds, usage.ru_maxrss);
    if (prober) {
      std::printf(",\"storeCalls\":%zu,\"longestStoreCallMs\":%.3f,\"p99StoreCallMs\":%.3f", prober->calls(),
                  prober->longest(), prober->percentile(0.99));
    }
    std::printf("}\n");
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tokvane-index-bench: %s\n", error.what());
    return 1;
  }
}
