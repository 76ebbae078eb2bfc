#include "Tokvane/Engine/Indexing/ParsePipeline.hpp"

namespace tokvane {

ParsePipeline::ParsePipeline(int threads, size_t eventsAhead) : eventsAhead_(eventsAhead < 1 ? 1 : eventsAhead) {
  const size_t count = threads > 0 ? static_cast<size_t>(threads) : 0;
  for (size_t i = 0; i < count; ++i) workers_.push_back(std::make_unique<Worker>());
  threads_.reserve(count);
  for (size_t i = 0; i < count; ++i) threads_.emplace_back([this, i] { threadMain(i); });
}

ParsePipeline::~ParsePipeline() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    closing_ = true;
    wakeAll();
  }
  for (auto& thread : threads_) thread.join();
}

void ParsePipeline::wakeAll() {
  for (auto& worker : workers_) worker->wake.notify_one();
}

void ParsePipeline::start(const std::vector<IndexJob>& jobs, const LogChunkProducer::Settings& settings) {
  if (threads_.empty()) {
    jobs_ = &jobs;
    settings_ = settings;
    inlineProducer_.reset();
    return;
  }
  std::lock_guard lock(mutex_);
  jobs_ = &jobs;
  settings_ = settings;
  slots_.clear();
  slots_.resize(jobs.size());
  nextJob_ = 0;
  closing_ = false;
  wakeAll();
}

ChunkResult ParsePipeline::next(size_t index) {
  if (threads_.empty()) {
    if (!inlineProducer_ || inlineJob_ != index) {
      inlineProducer_.emplace((*jobs_)[index], settings_, inlineReader_);
      inlineJob_ = index;
    }
    ChunkResult result = inlineProducer_->next();
    if (result.last) inlineProducer_.reset();
    return result;
  }
  std::unique_lock lock(mutex_);
  Slot& slot = slots_[index];
  if (slot.results.empty()) {
    writerWaitsFor_ = index;
    writerWake_.wait(lock, [&] { return !slot.results.empty(); });
    writerWaitsFor_.reset();
  }
  ChunkResult result = std::move(slot.results.front());
  slot.results.pop_front();
  Worker& producer = *workers_[slot.producer];
  producer.outstanding -= weight(result);
  if (producer.sleeping) producer.wake.notify_one();
  return result;
}

bool ParsePipeline::ready(size_t index, std::chrono::milliseconds patience) {
  if (threads_.empty()) return true;
  std::unique_lock lock(mutex_);
  Slot& slot = slots_[index];
  if (slot.results.empty() && patience.count() > 0) {
    writerWaitsFor_ = index;
    writerWake_.wait_for(lock, patience, [&] { return !slot.results.empty(); });
    writerWaitsFor_.reset();
  }
  return !slot.results.empty();
}

void ParsePipeline::abandon(size_t index) {
  if (threads_.empty()) {
    if (inlineProducer_ && inlineJob_ == index) inlineProducer_.reset();
    return;
  }
  std::deque<ChunkResult> dropped;
  std::lock_guard lock(mutex_);
  Slot& slot = slots_[index];
  slot.abandoned = true;
  Worker& producer = *workers_[slot.producer];
  for (const ChunkResult& result : slot.results) producer.outstanding -= weight(result);
  dropped.swap(slot.results);
  producer.wake.notify_one();
}

void ParsePipeline::release(std::vector<UsageEvent>&& events) {
  if (!threads_.empty() && !events.empty()) {
    std::lock_guard lock(mutex_);
    // Only a thread still at a file frees them; once none is, nothing would
    // until finish(), and they go here.
    if (busy_ > 0) {
      spent_.push_back(std::move(events));
      // The first since the threads last freed: one that sleeps at a file,
      // its results not taken yet, wakes to free them.
      if (spent_.size() == 1) {
        for (auto& worker : workers_) {
          if (worker->sleeping && worker->atFile) {
            worker->wake.notify_one();
            break;
          }
        }
      }
      return;
    }
  }
  std::vector<UsageEvent>().swap(events);
}

void ParsePipeline::finish() {
  if (threads_.empty()) {
    inlineProducer_.reset();
    inlineReader_ = JSONLTail::Reader();  // lets go of the buffer
    jobs_ = nullptr;
    return;
  }
  std::unique_lock lock(mutex_);
  closing_ = true;
  wakeAll();
  writerWake_.wait(lock, [&] { return busy_ == 0; });
  slots_.clear();
  for (auto& worker : workers_) worker->outstanding = 0;
  jobs_ = nullptr;
  closing_ = false;
  // What the threads did not get to is freed here, outside the lock.
  std::vector<std::vector<UsageEvent>> spent;
  spent.swap(spent_);
  lock.unlock();
}

void ParsePipeline::threadMain(size_t self) {
  Worker& me = *workers_[self];
  std::unique_ptr<JSONLTail::Reader> reader;
  std::unique_lock lock(mutex_);
  const auto sleepUntil = [&](const auto& predicate) {
    me.sleeping = true;
    me.wake.wait(lock, predicate);
    me.sleeping = false;
  };
  const auto workWaiting = [&] { return stopping_ || (jobs_ && !closing_ && nextJob_ < jobs_->size()); };
  for (;;) {
    if (!workWaiting() && reader) {
      // Nothing more to read for now: let go of the buffer.
      lock.unlock();
      reader.reset();
      lock.lock();
    }
    sleepUntil(workWaiting);
    if (stopping_) return;

    const size_t index = nextJob_++;
    Slot* slot = &slots_[index];
    slot->producer = self;
    ++busy_;
    me.atFile = true;
    const IndexJob& job = (*jobs_)[index];
    const LogChunkProducer::Settings settings = settings_;
    if (!reader) reader = std::make_unique<JSONLTail::Reader>();
    LogChunkProducer producer(job, settings, *reader);
    for (;;) {
      const auto stopped = [&] { return closing_ || slot->abandoned; };
      sleepUntil([&] { return stopped() || me.outstanding < eventsAhead_ || !spent_.empty(); });
      if (!spent_.empty()) {
        std::vector<std::vector<UsageEvent>> spent;
        spent.swap(spent_);
        lock.unlock();
        spent.clear();
        lock.lock();
      }
      if (stopped()) break;
      if (me.outstanding >= eventsAhead_) continue;  // woken only to free
      lock.unlock();
      ChunkResult result = producer.next();
      lock.lock();
      if (stopped()) break;
      const bool last = result.last;
      me.outstanding += weight(result);
      slot->results.push_back(std::move(result));
      if (writerWaitsFor_ == index) writerWake_.notify_one();
      if (last) break;
    }
    me.atFile = false;
    --busy_;
    if (busy_ == 0 && closing_) writerWake_.notify_one();
  }
}

}  // namespace tokvane
