// tokvane-crash-child: runs one full index of a home folder's tool logs into
// a ledger, as the application's first run does, and can kill itself with
// SIGKILL at a chosen moment of that run:
//
//   tokvane-crash-child --home DIR --store FILE [--chunk-size BYTES] [--group-events N]
//                       [--own-ingest] [--kill KIND:N] [--report FILE]
//
// KIND is one of
//   ledger-row        inside an ingest transaction, at the Nth usage row
//                     written in the run (seen, daily, sessions), between
//                     two statements;
//   commit-after-row  just before the COMMIT of the transaction that writes
//                     the Nth usage row, once all its statements ran;
//   cursor-row        at the Nth cursor write: a chunk's events are in, its
//                     cursor is being saved (inside the same transaction
//                     when the indexer groups chunks);
//   ingest-return     right after the Nth ingest returned, before the
//                     indexer saves that chunk's cursor (through an ingest
//                     callable of the child's own, so --own-ingest).
// Without --own-ingest the indexer runs on its default path (the store's
// own ingest). The moments are counted by SQLite hooks on the store's
// connection: rows and cursor writes do not depend on how the indexer groups
// its writes into transactions, so the Nth one comes in every run.
//
// With --report, a run that ends writes its counts as one JSON object, so a
// driver can spread kill moments over a run. Exit status 0 when the run
// ended, 2 on bad arguments, 1 when the ledger could not be opened.

#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Tokvane/Engine/Runtime/Env.hpp"
#include "Tokvane/Engine/Indexing/IndexerService.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Providers/ProviderLocations.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/support/InlineEnv.hpp"

namespace tokvane {

// The store's own connection, for installing the hooks.
struct UsageStoreInspector {
  static sqlite3* db(UsageStore& store) { return store.connection_->handle(); }
};

}  // namespace tokvane

namespace {

using namespace tokvane;

enum class Kind { none, ledgerRow, commitAfterRow, cursorRow, ingestReturn };

[[noreturn]] void die() {
  ::kill(::getpid(), SIGKILL);
  ::_exit(99);  // never reached
}

// Counts the run's moments and kills the process at the chosen one. The
// hooks run on whatever thread steps the statement, one at a time (the store
// serialises its connection).
struct Moments {
  Kind kill = Kind::none;
  long long at = 0;

  long long ledgerRows = 0;
  long long cursorRows = 0;
  long long commits = 0;
  long long ingests = 0;
  // The open transaction wrote the chosen row: kill at its commit.
  bool killAtCommit = false;

  void reached(Kind kind, long long count) {
    if (kill == kind && count == at) die();
  }

  static void onUpdate(void* self, int, const char*, const char* table, sqlite3_int64) {
    auto& moments = *static_cast<Moments*>(self);
    const std::string_view name = table;
    if (name == "seen" || name == "daily" || name == "sessions") {
      ++moments.ledgerRows;
      moments.reached(Kind::ledgerRow, moments.ledgerRows);
      if (moments.kill == Kind::commitAfterRow && moments.ledgerRows == moments.at) moments.killAtCommit = true;
    } else if (name == "cursors") {
      moments.reached(Kind::cursorRow, ++moments.cursorRows);
    }
  }

  // Called before the commit is written; returning 0 lets it go on.
  static int onCommit(void* self) {
    auto& moments = *static_cast<Moments*>(self);
    ++moments.commits;
    if (moments.killAtCommit) die();
    return 0;
  }
};

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: tokvane-crash-child --home DIR --store FILE [--chunk-size BYTES] [--group-events N] [--kill KIND:N] "
               "[--report FILE]\n");
  std::exit(2);
}

Kind kindNamed(std::string_view name) {
  if (name == "ledger-row") return Kind::ledgerRow;
  if (name == "commit-after-row") return Kind::commitAfterRow;
  if (name == "cursor-row") return Kind::cursorRow;
  if (name == "ingest-return") return Kind::ingestReturn;
  usage();
}

}  // namespace

int main(int argc, char** argv) {
  std::string home;
  std::string storePath;
  std::string reportPath;
  Moments moments;
  bool ownIngest = false;
  IndexerService::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--own-ingest") {
      ownIngest = true;
      continue;
    }
    if (i + 1 >= argc) usage();
    const std::string value = argv[++i];
    if (arg == "--home") {
      home = value;
    } else if (arg == "--store") {
      storePath = value;
    } else if (arg == "--report") {
      reportPath = value;
    } else if (arg == "--chunk-size") {
      options.chunkSize = std::atoll(value.c_str());
      if (options.chunkSize < 1) usage();
    } else if (arg == "--group-events") {
      const long long events = std::atoll(value.c_str());
      if (events < 1) usage();
      options.groupEvents = static_cast<size_t>(events);
    } else if (arg == "--kill") {
      const size_t colon = value.find(':');
      if (colon == std::string::npos) usage();
      moments.kill = kindNamed(std::string_view(value).substr(0, colon));
      moments.at = std::atoll(value.c_str() + colon + 1);
      if (moments.at < 1) usage();
    } else {
      usage();
    }
  }
  if (home.empty() || storePath.empty()) usage();
  if (moments.kill == Kind::ingestReturn) ownIngest = true;

  std::unique_ptr<UsageStore> store;
  try {
    store = std::make_unique<UsageStore>(storePath);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tokvane-crash-child: opening %s failed: %s\n", storePath.c_str(), error.what());
    return 1;
  }
  sqlite3* db = UsageStoreInspector::db(*store);
  sqlite3_update_hook(db, Moments::onUpdate, &moments);
  sqlite3_commit_hook(db, Moments::onCommit, &moments);

  IndexerService::IngestEvents ingest;
  if (ownIngest) {
    ingest = [&](const std::vector<UsageEvent>& events, const Calendar& calendar) {
      const int added = store->ingest(events, calendar);
      moments.reached(Kind::ingestReturn, ++moments.ingests);
      return added;
    };
  }

  testing::InlineEnv env;
  IndexOutcome outcome;
  {
    IndexerService service(*store, ProviderLocations(home), nullptr, std::make_shared<LocalCalendar>(), env,
                           std::move(ingest), options);
    outcome = service.indexAll().get();
  }

  if (!reportPath.empty()) {
    std::ofstream report(reportPath, std::ios::trunc);
    report << "{\"ledgerRows\":" << moments.ledgerRows << ",\"cursorRows\":" << moments.cursorRows
           << ",\"commits\":" << moments.commits << ",\"ingests\":" << moments.ingests
           << ",\"newEvents\":" << outcome.newEvents << "}\n";
  }
  store.reset();
  return 0;
}
