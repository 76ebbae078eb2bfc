// Times one index run over a home folder's tool logs, as the application runs
// it: a full run, or with --changed a run over the given changed paths.
//
//   tokvane-index-bench --home DIR --store FILE [--changed PATH]... [--parse-threads N]
//
// Prints one JSON object: the candidate log files under the tool folders
// ("files"), the files the run read and the bytes it consumed (from the
// ledger's cursors before and after), the new events, the run's wall time
// and the process's peak resident size.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Tokvane/Engine/Runtime/Env.hpp"
#include "Tokvane/Engine/Indexing/IndexerService.hpp"
#include "Tokvane/Engine/Indexing/LogFileTree.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Logs/FileCursor.hpp"
#include "TokvaneCore/Providers/CursorProvider.hpp"
#include "TokvaneCore/Providers/ProviderLocations.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/support/InlineEnv.hpp"

namespace {

using namespace tokvane;

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: tokvane-index-bench --home DIR --store FILE [--changed PATH]... [--parse-threads N]\n");
  std::exit(2);
}

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
  IndexerService::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) usage();
    if (arg == "--home") {
      home = argv[++i];
    } else if (arg == "--store") {
      storePath = argv[++i];
    } else if (arg == "--changed") {
      changed.emplace_back(argv[++i]);
    } else if (arg == "--parse-threads") {
      options.parseThreads = std::atoi(argv[++i]);
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
    {
      IndexerService service(store, locations, std::make_shared<CursorProvider>(), std::make_shared<LocalCalendar>(),
                             env, {}, options);
      const auto start = std::chrono::steady_clock::now();
      outcome = changed.empty() ? service.indexAll().get() : service.index(changed).get();
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    std::printf(
        "{\"files\":%zu,\"filesRead\":%zu,\"bytes\":%lld,\"newEvents\":%d,\"seconds\":%.6f,\"peakRSSKiB\":%ld}\n",
        files, filesRead, static_cast<long long>(bytes), outcome.newEvents, seconds, usage.ru_maxrss);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tokvane-index-bench: %s\n", error.what());
    return 1;
  }
}
