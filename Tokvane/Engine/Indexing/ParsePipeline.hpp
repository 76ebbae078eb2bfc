#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "Tokvane/Engine/Indexing/ChunkResult.hpp"
#include "Tokvane/Engine/Indexing/IndexJob.hpp"
#include "Tokvane/Engine/Indexing/LogChunkProducer.hpp"
#include "TokvaneCore/Logs/JSONLTail.hpp"
#include "TokvaneCore/Usage/UsageEvent.hpp"

namespace tokvane {

// Reads and parses the files of an index run ahead of the one writer that
// ingests them. The writer takes each file's chunk results in order, file
// after file; parse threads take the files in the same order, one file per
// thread at a time, chunk after chunk, so a file's parsing state flows in
// file order exactly as in a serial read.
//
// Memory stays bounded: a thread stops reading ahead while the results it
// made and the writer has not taken yet hold `eventsAhead` events (a few
// hundred bytes each). The default leaves a thread whose last file still
// waits for the writer room to get well into its next one, so that the
// writer, once there, seldom waits for that file's parsing; its reader
// holds a slice of a chunk at a time, reused from slice to slice and let go
// at the end of a batch. With no threads, the writer reads and parses each
// chunk itself when it asks for it.
class ParsePipeline {
 public:
  explicit ParsePipeline(int threads, size_t eventsAhead = 6144);
  ~ParsePipeline();
  ParsePipeline(const ParsePipeline&) = delete;
  ParsePipeline& operator=(const ParsePipeline&) = delete;

  // Starts a batch over `jobs`, which must stay alive and unchanged until
  // finish(). One batch at a time, driven by one writer thread.
  void start(const std::vector<IndexJob>& jobs, const LogChunkProducer::Settings& settings);

  // The next chunk result of job `index`, waiting for it when needed. The
  // writer asks for the jobs in increasing order and stops asking for a job
  // after its result with `last` (or after abandoning it).
  ChunkResult next(size_t index);

  // Whether next(index) would return without waiting for a parse thread,
  // waiting up to `patience` for the chunk to be parsed. Without threads
  // always true: the writer reads the chunk itself.
  bool ready(size_t index, std::chrono::milliseconds patience = {});

  // The writer gives up on job `index`: its remaining chunks are not read.
  void abandon(size_t index);
  // Events the writer is done with: a parse thread lets go of them before
  // it reads its next chunk, so that the writer spends no time freeing what
  // the parse threads made (without threads they go at once; what is left
  // at the end goes in finish()). A thread that sleeps at a file while the
  // writer catches up wakes to free them, so they do not wait long.
  void release(std::vector<UsageEvent>&& events);

  // Ends the batch: files not begun are not read, and every thread has
  // left the batch when this returns.
  void finish();

 private:
  struct Slot {
    std::deque<ChunkResult> results;
    size_t producer = 0;
    bool abandoned = false;
  };
  // A parse thread's state, guarded by mutex_. Each thread sleeps on its own
  // condition, so taking a result wakes only the thread that made it.
  struct Worker {
    std::condition_variable wake;
    size_t outstanding = 0;  // weight of the results made and not yet taken
    bool sleeping = false;
    bool atFile = false;  // between taking a file and its last chunk
  };

  void threadMain(size_t self);
  void wakeAll();

  // A result weighs its events and one more for itself.
  static size_t weight(const ChunkResult& result) { return result.events.size() + 1; }

  const size_t eventsAhead_;
  std::mutex mutex_;
  std::condition_variable writerWake_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<std::thread> threads_;
  bool stopping_ = false;

  // The batch.
  const std::vector<IndexJob>* jobs_ = nullptr;
  LogChunkProducer::Settings settings_;
  std::vector<Slot> slots_;
  size_t nextJob_ = 0;
  bool closing_ = false;
  size_t busy_ = 0;
  // Released events, waiting for a parse thread to let go of them.
  std::vector<std::vector<UsageEvent>> spent_;
  // The job whose result the writer waits for, if it waits.
  std::optional<size_t> writerWaitsFor_;

  // Without threads: the writer's own reader and the file it is reading.
  JSONLTail::Reader inlineReader_;
  std::optional<LogChunkProducer> inlineProducer_;
  size_t inlineJob_ = 0;
};

}  // namespace tokvane
