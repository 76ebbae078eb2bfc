#include "Tokvane/Engine/Indexing/IndexerService.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "Tokvane/Engine/Runtime/ErrorText.hpp"
#include "Tokvane/Engine/Indexing/IndexJob.hpp"
#include "Tokvane/Engine/Indexing/LogFileTree.hpp"
#include "Tokvane/Engine/Indexing/ParsePipeline.hpp"
#include "Tokvane/Engine/Indexing/StoredCursors.hpp"

namespace tokvane {

namespace {

constexpr ProviderID logProviders[] = {ProviderID::claude, ProviderID::codex, ProviderID::grok};

// A change run that looks at more files than this loads all stored cursors
// in one scan instead of one lookup per file.
constexpr size_t perPathLookupLimit = 32;

// A group of chunks is written in one transaction once it holds
// Options::groupEvents events or this many chunks. Most log files are one
// small chunk of a few dozen events, so the chunk bound sits well above what
// the event bound allows of such chunks, and groups of small files still
// fill up by their events.
constexpr size_t groupChunkLimit = 1024;

// How long the writer waits for the next chunk to be parsed before it
// writes the group it holds: longer than parsing takes while it keeps up
// (a commit made for every short wait would cost more than the wait), short
// enough that what was read is committed while a slow read goes on.
constexpr std::chrono::milliseconds groupPatience{20};

std::string_view lastComponent(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Whether any folder of a relative path is hidden.
bool hasHiddenComponent(std::string_view relative) {
  size_t start = 0;
  while (start <= relative.size()) {
    const size_t end = std::min(relative.find('/', start), relative.size());
    if (end > start && relative[start] == '.') return true;
    start = end + 1;
  }
  return false;
}

void addSaturating(int& total, int value) {
  const int64_t sum = int64_t{total} + value;
  total = static_cast<int>(std::clamp<int64_t>(sum, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

}  // namespace

int IndexerService::Options::defaultParseThreads() {
  // One core for the writer, one for the rest of the machine.
  const int hardware = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  return std::max(hardware - 2, hardware > 1 ? 1 : 0);
}

struct IndexerService::State {
  State(UsageStore& store, std::shared_ptr<CursorProvider> cursor, std::shared_ptr<const Calendar> calendar, Env& env,
        IngestEvents ingest, Options options)
      : store(store),
        cursor(std::move(cursor)),
        calendar(std::move(calendar)),
        env(env),
        ingest(std::move(ingest)),
        options(std::move(options)),
        pipeline(this->options.parseThreads) {}

  UsageStore& store;
  std::shared_ptr<CursorProvider> cursor;
  std::shared_ptr<const Calendar> calendar;
  Env& env;
  IngestEvents ingest;
  Options options;
  // The roots as the locations give them, and as the file system resolves
  // them at the start of the current run: a root made after launch (or made
  // again through another link) is found under its real path.
  std::string claudeFolder;
  std::vector<std::string> codexFolders;
  std::string grokFolder;
  std::string claudeRoot;
  std::vector<std::string> codexRoots;
  std::string grokRoot;

  void resolveRoots() {
    claudeRoot = LogFileTree::resolved(claudeFolder);
    codexRoots.clear();
    for (const auto& folder : codexFolders) codexRoots.push_back(LogFileTree::resolved(folder));
    grokRoot = LogFileTree::resolved(grokFolder);
  }
  ParsePipeline pipeline;
  // Folders under the roots already logged as unreadable: each is logged
  // once while it stays so; a full run that can read it again forgets it.
  std::set<std::string> unreadableLogged;

  std::mutex mutex;
  std::condition_variable queueChanged;
  std::deque<std::function<void()>> queue;
  bool stopping = false;
  std::thread worker;
};

// One index run, on the worker thread.
class IndexerService::Run {
 public:
  explicit Run(State& state) : s_(state), now_(state.env.now()) { s_.resolveRoots(); }

  IndexOutcome all(const Progress& progress) {
    const StoredCursors cursors = StoredCursors::scanned(s_.store);
    for (const ProviderID provider : logProviders) {
      std::vector<LogFile> files;
      for (const std::string& root : roots(provider)) {
        auto listed = list(root, provider);
        files.insert(files.end(), std::make_move_iterator(listed.begin()), std::make_move_iterator(listed.end()));
      }
      addPass(provider, std::move(files), cursors);
    }
    forgetReadableFolders();
    readPasses(progress);
    if (s_.cursor) importCursorUsage();
    outcome_.codexLimitsUpdated = storeCodexLimits();
    report(progress, std::nullopt);
    return outcome_;
  }

  IndexOutcome changed(const std::vector<std::string>& paths) {
    std::map<ProviderID, std::map<std::string, LogFile>> selected;
    const auto select = [&](ProviderID provider, LogFile file) {
      auto& files = selected[provider];
      std::string path = file.path;
      files.emplace(std::move(path), std::move(file));
    };
    for (const std::string& path : std::set<std::string>(paths.begin(), paths.end())) {
      const std::string resolved = LogFileTree::resolved(path);
      struct stat status;
      if (resolved.empty() || ::stat(resolved.c_str(), &status) != 0) continue;
      if (S_ISDIR(status.st_mode)) {
        for (const ProviderID provider : logProviders) {
          for (LogFile& file : candidatesUnder(resolved, provider)) select(provider, std::move(file));
        }
      } else if (const auto provider = providerForFile(resolved)) {
        // The one stat of the file in this run.
        if (auto file = LogFile::from(resolved, status)) {
          namedFiles_.insert(file->path);
          select(*provider, std::move(*file));
        }
      }
    }

    size_t count = 0;
    for (const auto& [provider, files] : selected) count += files.size();
    const StoredCursors cursors =
        count > perPathLookupLimit ? StoredCursors::scanned(s_.store) : StoredCursors::perPath(s_.store);
    for (const ProviderID provider : logProviders) {
      const auto it = selected.find(provider);
      if (it == selected.end()) continue;
      std::vector<LogFile> files;
      files.reserve(it->second.size());
      for (auto& [path, file] : it->second) files.push_back(std::move(file));
      addPass(provider, std::move(files), cursors);
    }
    readPasses({});
    outcome_.codexLimitsUpdated = storeCodexLimits();
    return outcome_;
  }

 private:
  struct Pass {
    ProviderID provider;
    size_t begin = 0;
    size_t end = 0;
    int64_t total = 0;
  };

  std::vector<std::string> roots(ProviderID provider) const {
    switch (provider) {
      case ProviderID::claude:
        return {s_.claudeRoot};
      case ProviderID::codex:
        return s_.codexRoots;
      case ProviderID::grok:
        return {s_.grokRoot};
      case ProviderID::cursor:
        break;
    }
    return {};
  }

  // The candidate test of a single changed file.
  std::optional<ProviderID> providerForFile(const std::string& path) const {
    const std::string_view name = lastComponent(path);
    if (LogFileTree::isCandidateName(ProviderID::claude, name)) {
      if (path.starts_with(s_.claudeRoot + "/")) return ProviderID::claude;
      for (const std::string& root : s_.codexRoots) {
        if (path.starts_with(root + "/")) return ProviderID::codex;
      }
    }
    if (LogFileTree::isCandidateName(ProviderID::grok, name) && path.starts_with(s_.grokRoot + "/")) {
      return ProviderID::grok;
    }
    return std::nullopt;
  }

  // The provider's candidate files whose path begins with `folder` + "/":
  // what filtering the listing of every root would give, walking only the
  // part of the trees under the folder.
  std::vector<LogFile> candidatesUnder(const std::string& folder, ProviderID provider) {
    const std::string prefix = folder + "/";
    std::vector<LogFile> files;
    for (const std::string& root : roots(provider)) {
      std::vector<LogFile> listed;
      if (root == folder || root.starts_with(prefix)) {
        listed = list(root, provider);
      } else if (folder.starts_with(root + "/")) {
        // The root's walk never enters a hidden folder.
        if (hasHiddenComponent(std::string_view(folder).substr(root.size() + 1))) continue;
        listed = list(folder, provider);
      }
      for (LogFile& file : listed) {
        if (file.path.starts_with(prefix)) files.push_back(std::move(file));
      }
    }
    return files;
  }

  // The provider's candidates under `folder`; a folder there that cannot be
  // read is logged, like a file that cannot be, once while it stays so. It
  // is read by a later run once it can be: the next full run, or the run
  // the watcher asks for when its permissions change.
  std::vector<LogFile> list(const std::string& folder, ProviderID provider) {
    std::vector<LogFileTree::UnreadableFolder> unreadable;
    // Listed on the parse threads' share of the cores, idle until the
    // listing is done.
    std::vector<LogFile> files =
        LogFileTree::candidates(folder, provider, &unreadable, std::max(1, s_.options.parseThreads));
    for (const auto& failed : unreadable) {
      unreadable_.insert(failed.path);
      if (!s_.unreadableLogged.insert(failed.path).second) continue;
      s_.env.log("Tokvane: indexing " + failed.path + " failed: " +
                 std::system_error(failed.error, std::generic_category(), "open").what());
    }
    return files;
  }

  // After a full run's listing: a folder logged before and readable now
  // (or gone) is logged again should it fail again.
  void forgetReadableFolders() {
    for (auto it = s_.unreadableLogged.begin(); it != s_.unreadableLogged.end();) {
      it = unreadable_.count(*it) ? std::next(it) : s_.unreadableLogged.erase(it);
    }
  }

  // What a file still holds unread, from the run's stat and its stored cursor.
  static int64_t pendingBytes(const IndexJob& job) {
    const LogFile& file = job.file;
    if (job.provider == ProviderID::grok) {
      if (job.cursor) {
        const auto& context = job.cursor->context;
        const auto mtime = context.find("mtime");
        const auto size = context.find("size");
        if (mtime != context.end() && size != context.end() && mtime->second == file.modificationTimeText() &&
            size->second == file.sizeText()) {
          return 0;
        }
      }
      return std::max<int64_t>(file.size, 1);
    }
    if (job.cursor && job.cursor->inode == file.inode && job.cursor->offset >= 0 && job.cursor->offset <= file.size) {
      return file.size - job.cursor->offset;
    }
    return file.size;
  }

  // A log the watcher named as changed that holds exactly as many bytes as
  // were read, under the same inode, but other ones: made again or saved
  // in place at its old size. Only named files are looked at: that costs
  // one small read each, which every file of a full run should not pay.
  static bool rewrittenToItsOldSize(const IndexJob& job) {
    if (job.provider == ProviderID::grok || !job.cursor) return false;
    const FileCursor& cursor = *job.cursor;
    if (cursor.inode != job.file.inode || cursor.offset != job.file.size || cursor.offset <= 0) return false;
    const auto stored = cursor.context.find(JSONLTail::fingerprintKey);
    if (stored == cursor.context.end()) return false;
    const auto now = JSONLTail::fingerprintOfFile(job.file.path, cursor.inode, cursor.offset);
    return now && *now != stored->second;
  }

  // Orders the files newest first and keeps, as jobs of one pass, those
  // with unread bytes.
  void addPass(ProviderID provider, std::vector<LogFile> files, const StoredCursors& cursors) {
    std::stable_sort(files.begin(), files.end(), LogFile::modifiedLater);
    Pass pass{provider, jobs_.size(), jobs_.size(), 0};
    for (LogFile& file : files) {
      IndexJob job;
      job.provider = provider;
      StoredCursors::Lookup lookup = cursors.find(file.path);
      job.cursor = std::move(lookup.cursor);
      job.cursorError = std::move(lookup.error);
      job.file = std::move(file);
      job.pendingBytes = pendingBytes(job);
      if (job.pendingBytes <= 0 && namedFiles_.count(job.file.path) && rewrittenToItsOldSize(job)) {
        job.pendingBytes = job.file.size;
      }
      if (job.pendingBytes <= 0) continue;
      pass.total += job.pendingBytes;
      jobs_.push_back(std::move(job));
    }
    pass.end = jobs_.size();
    if (pass.end > pass.begin) passes_.push_back(pass);
  }

  void readPasses(const Progress& progress) {
    if (jobs_.empty()) return;
    failed_.assign(jobs_.size(), 0);
    s_.pipeline.start(jobs_, LogChunkProducer::Settings{s_.options.chunkSize, s_.options.lineCap, now_});
    struct Finish {
      ParsePipeline& pipeline;
      ~Finish() { pipeline.finish(); }
    } finish{s_.pipeline};
    for (const Pass& pass : passes_) readPass(pass, progress);
  }

  // A chunk taken from the pipeline and not written yet, with what writing
  // it involves, worked out in file order when it was taken.
  struct Taken {
    size_t job = 0;
    ChunkResult chunk;
    // Its cursor differs from the file's previous one (a Grok file's is
    // always written).
    bool saveCursor = false;
    // The bytes it moves its pass on by.
    int64_t advanced = 0;
  };

  // The bytes read in one provider's pass and its throttled reports.
  struct PassProgress {
    State& s;
    const Pass& pass;
    const Progress& progress;
    int64_t bytesRead = 0;
    Date lastReport;

    void throttle() {
      if (!progress) return;
      const Date now = s.env.now();
      // 0.1 s or more since the last report; exactly 0.1 s counts.
      if (now - lastReport < 0.1 - 1e-9) return;
      lastReport = now;
      report(progress, IndexingProgress{pass.provider, std::min(bytesRead, pass.total), pass.total});
    }
  };

  // Whether the writer groups chunks into one ledger transaction: only with
  // the store's own ingest, which can write several chunks at once.
  bool grouped() const { return !s_.ingest; }

  void readPass(const Pass& pass, const Progress& progress) {
    PassProgress state{s_, pass, progress, 0, s_.env.now()};
    report(progress, IndexingProgress{pass.provider, 0, pass.total});
    for (size_t index = pass.begin; index < pass.end; ++index) {
      try {
        readFile(index, state);
      } catch (...) {
        // Nothing but a failing allocation gets here; the file stops as at any failure.
        if (!failed_[index]) fail(index, std::current_exception(), state);
      }
    }
    flush(state);
    report(progress, IndexingProgress{pass.provider, pass.total, pass.total});
  }

  // Takes a file's chunks in order. Each is written at once (a custom
  // ingest), or added to the group, which is written when it is full, when
  // the next chunk is not parsed within groupPatience (a group never waits
  // long for parsing, so what was read is committed while the writer would
  // otherwise be idle), and at the end of the pass.
  void readFile(size_t index, PassProgress& progress) {
    std::optional<FileCursor> cursor = jobs_[index].cursor;
    for (;;) {
      if (!group_.empty() && !s_.pipeline.ready(index, groupPatience)) flush(progress);
      if (failed_[index]) return;  // an earlier chunk of the file failed in that write
      ChunkResult chunk = s_.pipeline.next(index);
      if (chunk.error) {
        // The chunks before it are written first, as a serial read would have.
        flush(progress);
        if (!failed_[index]) fail(index, chunk.error, progress);
        return;
      }
      const bool last = chunk.last;
      Taken taken = take(index, std::move(chunk), cursor);
      if (grouped()) {
        groupEvents_ += taken.chunk.events.size();
        group_.push_back(std::move(taken));
        if (groupEvents_ >= s_.options.groupEvents || group_.size() >= groupChunkLimit) flush(progress);
      } else {
        writeAlone(taken, progress);
      }
      if (last || failed_[index]) return;
    }
  }

  Taken take(size_t index, ChunkResult chunk, std::optional<FileCursor>& cursor) const {
    const IndexJob& job = jobs_[index];
    Taken taken;
    taken.job = index;
    if (job.provider == ProviderID::grok) {
      taken.saveCursor = true;
      taken.advanced = job.pendingBytes;
    } else {
      const int64_t previousOffset = chunk.reset || !cursor ? 0 : cursor->offset;
      const FileCursor& next = *chunk.cursor;
      taken.saveCursor = !cursor || next != *cursor;
      taken.advanced = next.offset - previousOffset;
      cursor = next;
    }
    taken.chunk = std::move(chunk);
    return taken;
  }

  // What a chunk leaves in the run before its events go in: its over-long
  // lines logged, its Codex limits noted.
  void noteChunk(Taken& taken) {
    ChunkResult& chunk = taken.chunk;
    for (const auto& skipped : chunk.skipped) {
      s_.env.log("Tokvane: reading " + jobs_[taken.job].file.path + " failed: line of " +
                 std::to_string(skipped.length) + " bytes longer than " + LogChunkProducer::capText(s_.options.lineCap) +
                 " skipped");
    }
    if (chunk.limits && (!found_ || chunk.limits->fetchedAt > found_->fetchedAt)) found_ = std::move(chunk.limits);
  }

  // A written chunk's bytes, reported through the throttle; a file's last
  // chunk ends the file, which applies the throttle once more.
  void advance(const Taken& taken, PassProgress& progress) {
    progress.bytesRead += taken.advanced;
    if (jobs_[taken.job].provider != ProviderID::grok) progress.throttle();
    if (taken.chunk.last) progress.throttle();
  }

  // Writes one chunk on its own, in the fixed order of a serial read: its
  // events in one ingest, then its cursor when it changed, then its bytes.
  // A failure fails the file.
  void writeAlone(Taken& taken, PassProgress& progress) {
    try {
      noteChunk(taken);
      if (!taken.chunk.events.empty()) addSaturating(outcome_.newEvents, ingest(taken.chunk.events));
      if (taken.saveCursor) s_.store.save(*taken.chunk.cursor);
    } catch (...) {
      fail(taken.job, std::current_exception(), progress);
      return;
    }
    advance(taken, progress);
  }

  // Writes the group: every chunk's events and changed cursor, in order, in
  // one transaction, then each chunk's bytes in order.
  //
  // The ledger stays as sound as with one write per chunk. A transaction is
  // all or nothing, so every state a stop can leave is a group boundary, and
  // each group boundary is a state that writing chunk by chunk passes
  // through: the one right after the group's last chunk (its events in, its
  // cursor saved when it changed). Within the group a chunk's events still
  // come before its cursor, so the ledger never holds a cursor past events
  // it lacks; lines read again after a stop are absorbed by the seen keys.
  //
  // When another caller comes to wait for the store, the store commits the
  // group so far at a chunk boundary and lets that caller go first (so no
  // caller waits longer than one chunk's write): that too leaves only states
  // that writing chunk by chunk passes through.
  //
  // When a transaction fails, nothing of it stays, and the chunks it held
  // and those after them are written again chunk by chunk: a chunk that
  // fails on its own fails only its file (logged, its later chunks not
  // taken), and every other chunk is written exactly as a serial read
  // writes it. Chunks of transactions committed before it count as written.
  void flush(PassProgress& progress) {
    if (group_.empty()) return;
    std::vector<Taken> group = std::move(group_);
    group_.clear();
    groupEvents_ = 0;
    std::vector<int> counts;
    std::vector<int> committed;
    try {
      std::vector<UsageStore::ChunkWrite> writes;
      writes.reserve(group.size());
      for (const Taken& taken : group) {
        writes.push_back({taken.chunk.events.empty() ? nullptr : &taken.chunk.events,
                          taken.saveCursor ? &*taken.chunk.cursor : nullptr});
      }
      counts = s_.store.ingestChunks(writes, *s_.calendar, &committed);
    } catch (...) {
      for (size_t i = 0; i < group.size(); ++i) {
        if (i < committed.size()) {
          written(group[i], committed[i], progress);
        } else if (!failed_[group[i].job]) {
          writeAlone(group[i], progress);
        }
      }
      release(group);
      return;
    }
    for (size_t i = 0; i < group.size(); ++i) written(group[i], counts[i], progress);
    release(group);
  }

  // The group's events go back to the parse threads to be freed there.
  void release(std::vector<Taken>& group) {
    for (Taken& taken : group) s_.pipeline.release(std::move(taken.chunk.events));
  }

  void written(Taken& taken, int newEvents, PassProgress& progress) {
    noteChunk(taken);
    addSaturating(outcome_.newEvents, newEvents);
    advance(taken, progress);
  }

  // A file stops at a failure: the rest of it is not read, the failure goes
  // to the log and the throttle is applied, as after any file.
  void fail(size_t index, std::exception_ptr error, PassProgress& progress) {
    failed_[index] = 1;
    s_.pipeline.abandon(index);
    // The whole path: logs of the same name sit in many project folders.
    s_.env.log("Tokvane: indexing " + jobs_[index].file.path + " failed: " + errorText(std::move(error)));
    progress.throttle();
  }

  int ingest(const std::vector<UsageEvent>& events) {
    return s_.ingest ? s_.ingest(events, *s_.calendar) : s_.store.ingest(events, *s_.calendar);
  }

  void importCursorUsage() {
    const Date now = s_.env.now();
    const Date since = s_.calendar->addingDays(now, -30).value_or(now);
    try {
      const std::vector<UsageEvent> events =
          s_.options.cursorUsage ? s_.options.cursorUsage(since) : s_.cursor->usageEvents(since);
      if (!events.empty()) addSaturating(outcome_.newEvents, ingest(events));
    } catch (...) {
      s_.env.log("Tokvane: storing Cursor usage failed: " + errorText(std::current_exception()));
    }
  }

  // Stores the Codex limits found in the logs when they are strictly newer
  // than the stored ones; whether they were stored.
  bool storeCodexLimits() {
    if (!found_) return false;
    std::optional<ProviderLimits> stored;
    try {
      stored = s_.store.limits(ProviderID::codex);
    } catch (...) {
      stored.reset();  // an unreadable entry counts as none
    }
    if (stored && !(found_->fetchedAt > stored->fetchedAt)) return false;
    try {
      s_.store.setLimits(*found_, ProviderID::codex);
      return true;
    } catch (...) {
      return false;
    }
  }

  static void report(const Progress& progress, const std::optional<IndexingProgress>& value) {
    if (!progress) return;
    try {
      progress(value);
    } catch (...) {
      // The caller's own failure; the run goes on.
    }
  }

  State& s_;
  const Date now_;
  // The folders this run found unreadable.
  std::set<std::string> unreadable_;
  // The files a change run was given by name (not found in a folder).
  std::set<std::string> namedFiles_;
  std::vector<IndexJob> jobs_;
  std::vector<Pass> passes_;
  // Per job: the file failed and is read no further.
  std::vector<char> failed_;
  // Chunks taken and not written yet, in order, and their events.
  std::vector<Taken> group_;
  size_t groupEvents_ = 0;
  IndexOutcome outcome_;
  // The newest Codex limits read so far; of equal times the first stays.
  std::optional<ProviderLimits> found_;
};

IndexerService::IndexerService(UsageStore& store, const ProviderLocations& locations,
                               std::shared_ptr<CursorProvider> cursor, std::shared_ptr<const Calendar> calendar,
                               Env& env, IngestEvents ingest)
    : IndexerService(store, locations, std::move(cursor), std::move(calendar), env, std::move(ingest), Options{}) {}

IndexerService::IndexerService(UsageStore& store, const ProviderLocations& locations,
                               std::shared_ptr<CursorProvider> cursor, std::shared_ptr<const Calendar> calendar,
                               Env& env, IngestEvents ingest, Options options)
    : state_(std::make_unique<State>(store, std::move(cursor), std::move(calendar), env, std::move(ingest),
                                     std::move(options))) {
  for (const auto& [provider, folder] : locations.logRoots()) {
    switch (provider) {
      case ProviderID::claude: state_->claudeFolder = folder.string(); break;
      case ProviderID::codex: state_->codexFolders.push_back(folder.string()); break;
      case ProviderID::grok: state_->grokFolder = folder.string(); break;
      case ProviderID::cursor: break;
    }
  }
  state_->resolveRoots();

  State& state = *state_;
  state.worker = std::thread([&state] {
    for (;;) {
      std::function<void()> run;
      {
        std::unique_lock lock(state.mutex);
        state.queueChanged.wait(lock, [&] { return state.stopping || !state.queue.empty(); });
        if (state.stopping) return;
        run = std::move(state.queue.front());
        state.queue.pop_front();
      }
      try {
        run();
      } catch (...) {
        // A completion that threw; the next run still goes.
      }
    }
  });
}

IndexerService::~IndexerService() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    dropped.swap(state_->queue);
  }
  state_->queueChanged.notify_all();
  dropped.clear();  // waiting runs go now, while the running one finishes
  state_->worker.join();
}

void IndexerService::enqueue(std::function<void()> run) {
  {
    std::lock_guard lock(state_->mutex);
    state_->queue.push_back(std::move(run));
  }
  state_->queueChanged.notify_all();
}

void IndexerService::indexAll(Progress progress, Completion done) {
  enqueue([state = state_.get(), progress = std::move(progress), done = std::move(done)] {
    const IndexOutcome outcome = Run(*state).all(progress);
    if (done) done(outcome);
  });
}

void IndexerService::index(std::vector<std::string> paths, Completion done) {
  enqueue([state = state_.get(), paths = std::move(paths), done = std::move(done)] {
    const IndexOutcome outcome = Run(*state).changed(paths);
    if (done) done(outcome);
  });
}

std::future<IndexOutcome> IndexerService::indexAll(Progress progress) {
  auto promise = std::make_shared<std::promise<IndexOutcome>>();
  auto future = promise->get_future();
  indexAll(std::move(progress), [promise](IndexOutcome outcome) { promise->set_value(outcome); });
  return future;
}

std::future<IndexOutcome> IndexerService::index(std::vector<std::string> paths) {
  auto promise = std::make_shared<std::promise<IndexOutcome>>();
  auto future = promise->get_future();
  index(std::move(paths), [promise](IndexOutcome outcome) { promise->set_value(outcome); });
  return future;
}

}  // namespace tokvane
