#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Tokvane/Engine/Runtime/Env.hpp"
#include "Tokvane/Engine/Indexing/IndexOutcome.hpp"
#include "Tokvane/Engine/Indexing/IndexingProgress.hpp"
#include "Tokvane/Engine/Indexing/LogChunkProducer.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Logs/JSONLTail.hpp"
#include "TokvaneCore/Providers/CursorProvider.hpp"
#include "TokvaneCore/Providers/ProviderLocations.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "TokvaneCore/Usage/UsageEvent.hpp"

namespace tokvane {

// Turns the tools' log files into rows of the usage ledger.
//
// One worker thread runs whole index runs, one at a time, in the order they
// were asked for. A run walks Claude, Codex and Grok in that order, lists
// each provider's candidate files newest first, reads each file that still
// holds unread bytes from its stored cursor, and ends by storing the Codex
// limits found in the logs when they are newer than the stored ones.
//
// Reading and parsing may run ahead on parse threads, but only the worker
// ingests events and saves cursors, chunk by chunk in file order: parse,
// ingest, save the cursor, report the bytes. With the store's own ingest the
// worker writes consecutive chunks (across files) in one transaction, the
// bytes reported after it commits; the ledger and its cursors then pass
// through some of the states of a serial read, never any other. So the
// result is that of a serial read, whatever the number of parse threads.
//
// A failing file is written to the system log and the run goes on; a run
// itself never fails.
class IndexerService {
 public:
  // Adds events to the ledger and returns how many of them were new; may
  // throw. Called on the worker thread.
  using IngestEvents = std::function<int(const std::vector<UsageEvent>&, const Calendar&)>;
  // Progress of a full run, called on the worker thread: values during each
  // provider's pass, none once at the end of the run.
  using Progress = std::function<void(const std::optional<IndexingProgress>&)>;
  // The run's outcome, called on the worker thread.
  using Completion = std::function<void(IndexOutcome)>;
  // Where the Cursor import of a full run takes its events from.
  using CursorUsage = std::function<std::vector<UsageEvent>(Date since)>;

  struct Options {
    // Bytes asked of a log file per chunk; each chunk's events are ingested
    // and its cursor saved before the next.
    int64_t chunkSize = LogChunkProducer::Settings{}.chunkSize;
    // The longest line held in memory (longer ones are skipped and logged),
    // and the largest Grok usage file read.
    int64_t lineCap = JSONLTail::defaultLineCap;
    // Threads that read and parse ahead of the worker; 0 reads and parses
    // on the worker itself.
    int parseThreads = defaultParseThreads();
    // With the store's own ingest, the worker writes the chunks of several
    // files in one ledger transaction, committed once it holds about this
    // many events. Each commit writes every ledger page its transaction
    // dirtied (new keys land all over the seen index), so on a first index
    // commits cost more than the rows, and fewer, larger transactions write
    // each page fewer times.
    size_t groupEvents = 16000;
    // The source of Cursor usage events; none asks the Cursor provider.
    CursorUsage cursorUsage;

    // Every core but two: one for the worker's ingest into the ledger, one
    // for the rest of the machine (at least one thread where there are two
    // cores or more).
    static int defaultParseThreads();
  };

  // `ingest` empty: the store's own ingest. The roots are resolved again
  // at the start of every run. `store`, `locations` and `env` must outlive the service.
  IndexerService(UsageStore& store, const ProviderLocations& locations, std::shared_ptr<CursorProvider> cursor,
                 std::shared_ptr<const Calendar> calendar, Env& env, IngestEvents ingest = {});
  IndexerService(UsageStore& store, const ProviderLocations& locations, std::shared_ptr<CursorProvider> cursor,
                 std::shared_ptr<const Calendar> calendar, Env& env, IngestEvents ingest, Options options);
  // Lets the running run finish, then stops; runs still waiting are dropped
  // (their completions are never called).
  ~IndexerService();
  IndexerService(const IndexerService&) = delete;
  IndexerService& operator=(const IndexerService&) = delete;

  // A full run over every log folder, with the Cursor import.
  void indexAll(Progress progress, Completion done);
  // A run over changed files and folders: a file counts when it passes the
  // candidate test, a folder selects every candidate file under it, paths
  // that do not exist are skipped. No progress and no Cursor import.
  void index(std::vector<std::string> paths, Completion done);

  std::future<IndexOutcome> indexAll(Progress progress = {});
  std::future<IndexOutcome> index(std::vector<std::string> paths);

 private:
  struct State;
  class Run;
  void enqueue(std::function<void()> run);

  std::unique_ptr<State> state_;
};

}  // namespace tokvane
