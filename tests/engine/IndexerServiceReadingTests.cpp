// Reading ahead: a chunk read in slices, and chunks handed over by parse
// threads, must be exactly what one tail read per chunk gives.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Tokvane/Engine/Indexing/IndexJob.hpp"
#include "Tokvane/Engine/Indexing/LogChunkProducer.hpp"
#include "Tokvane/Engine/Indexing/LogFile.hpp"
#include "Tokvane/Engine/Indexing/ParsePipeline.hpp"
#include "TokvaneCore/Logs/JSONLTail.hpp"
#include "TokvaneCore/Parsers/ClaudeLogParser.hpp"
#include "TokvaneCore/Parsers/CodexLogParser.hpp"
#include "TokvaneCore/Parsers/LogLineFilter.hpp"
#include "tests/support/LogLines.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::sizedClaudeLine;
using testing::TempDir;
using testing::writeFile;

const Date clock = Date::fromUnix(1767225600.0);

// What one chunk gave, in a form two readings can be compared by.
struct Seen {
  std::vector<std::string> events;  // key, session and model of each event
  std::string limits;
  int64_t offset = 0;
  std::map<std::string, std::string> context;
  bool reset = false;
  bool last = false;
  std::vector<JSONLTail::SkippedLine> skipped;

  friend bool operator==(const Seen&, const Seen&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Seen& seen) {
    out << "{offset " << seen.offset << (seen.last ? " last" : "") << (seen.reset ? " reset" : "") << " events";
    for (const auto& event : seen.events) out << " " << event;
    for (const auto& skipped : seen.skipped) out << " skipped@" << skipped.offset << "+" << skipped.length;
    return out << "}";
  }
};

std::string describe(const UsageEvent& event) { return event.dedupKey + "/" + event.sessionID + "/" + event.model; }

// The reference: one tail read of the whole chunk per call, its lines
// filtered and parsed as the indexer does.
std::vector<Seen> readWhole(const fs::path& path, ProviderID provider, std::optional<FileCursor> cursor, int64_t chunk,
                            int64_t lineCap) {
  std::vector<Seen> chunks;
  for (;;) {
    JSONLTail::Result read = JSONLTail::read(path, cursor, chunk, lineCap);
    Seen seen;
    seen.reset = read.reset;
    seen.last = read.atEOF;
    seen.skipped = read.skipped;
    seen.offset = read.cursor.offset;
    std::optional<ProviderLimits> limits;
    if (provider == ProviderID::codex) {
      CodexLogParser parser(read.cursor.context, clock);
      for (const auto& line : read.lines) {
        if (!LogLineFilter::codex(line)) continue;
        const auto parsed = parser.consume(line);
        if (parsed && parsed->isUsage()) seen.events.push_back(describe(*parsed->usageEvent()));
        if (parsed && parsed->isLimits() && (!limits || parsed->limitsRecord()->fetchedAt > limits->fetchedAt)) {
          limits = *parsed->limitsRecord();
        }
      }
      read.cursor.context = parser.context();
    } else {
      for (const auto& line : read.lines) {
        if (!LogLineFilter::claude(line)) continue;
        if (const auto event = ClaudeLogParser::event(line)) seen.events.push_back(describe(*event));
      }
    }
    if (limits) seen.limits = limits->toJSON(DateCoding::referenceSeconds).dump();
    read.cursor.context["provider"] = std::string(rawValue(provider));
    seen.context = read.cursor.context;
    chunks.push_back(seen);
    if (read.atEOF) return chunks;
    cursor = read.cursor;
  }
}

Seen seenOf(const ChunkResult& result) {
  Seen seen;
  for (const auto& event : result.events) seen.events.push_back(describe(event));
  if (result.limits) seen.limits = result.limits->toJSON(DateCoding::referenceSeconds).dump();
  if (result.cursor) {
    seen.offset = result.cursor->offset;
    seen.context = result.cursor->context;
  }
  seen.reset = result.reset;
  seen.last = result.last;
  seen.skipped = result.skipped;
  return seen;
}

IndexJob jobFor(const fs::path& path, ProviderID provider, std::optional<FileCursor> cursor = {}) {
  IndexJob job;
  job.provider = provider;
  job.file = *LogFile::at(path.string());
  job.cursor = std::move(cursor);
  return job;
}

std::vector<Seen> readInSlices(const IndexJob& job, LogChunkProducer::Settings settings) {
  JSONLTail::Reader reader;
  LogChunkProducer producer(job, settings, reader);
  std::vector<Seen> chunks;
  for (;;) {
    const ChunkResult result = producer.next();
    EXPECT_FALSE(result.error);
    if (result.error) return chunks;
    chunks.push_back(seenOf(result));
    if (result.last) return chunks;
  }
}

// Lines of many lengths around the slice, the chunk and the line cap, some
// with usage, some ending in CR LF, empty lines, and an unfinished tail.
std::string mixedLog(int64_t slice, int64_t chunk, int64_t lineCap) {
  const std::vector<int64_t> lengths = {5,         120,       slice - 1, slice,         slice + 1,   2 * slice + 3,
                                        chunk - 1, chunk,     chunk + 1, 3 * chunk + 7, lineCap + 9, 300,
                                        150,       chunk / 2, 7,         lineCap - 1,   160,         2 * lineCap};
  std::string log;
  int id = 0;
  for (int round = 0; round < 3; ++round) {
    for (const int64_t length : lengths) {
      const auto size = static_cast<size_t>(std::max<int64_t>(length, 1));
      const bool usage = size >= 110 && (id % 3 != 1);
      log += sizedClaudeLine("id" + std::to_string(id), size, usage, id % 5 == 4 ? "\r\n" : "\n");
      if (id % 7 == 6) log += "\n\n";
      ++id;
    }
  }
  return log + R"({"type":"assistant","unfinished)";
}

TEST(IndexerServiceReading, AChunkReadInSlicesIsTheChunkOfOneTailRead) {
  TempDir dir;
  struct Case {
    int64_t chunk;
    int64_t lineCap;
  };
  for (const Case c : {Case{256, 1000}, Case{256, 100}, Case{1000, 300}, Case{4096, 4096}}) {
    const fs::path path = dir / ("log-" + std::to_string(c.chunk) + "-" + std::to_string(c.lineCap) + ".jsonl");
    writeFile(path, mixedLog(c.chunk / 4, c.chunk, c.lineCap));
    const auto expected = readWhole(path, ProviderID::claude, std::nullopt, c.chunk, c.lineCap);
    ASSERT_GT(expected.size(), 5u);
    for (const int64_t slice : {c.chunk, c.chunk / 2, c.chunk / 4, c.chunk / 16, int64_t{1}}) {
      SCOPED_TRACE(path.filename().string() + " slice " + std::to_string(slice));
      const auto slices = readInSlices(jobFor(path, ProviderID::claude), {c.chunk, c.lineCap, clock, slice});
      EXPECT_EQ(slices, expected);
    }
  }
}

TEST(IndexerServiceReading, SlicesKeepTheCodexContextAndLimitsOfTheChunk) {
  TempDir dir;
  const fs::path path = dir / "rollout.jsonl";
  std::string log;
  for (int turn = 0; turn < 12; ++turn) {
    const std::string t = std::to_string(turn);
    if (turn % 4 == 0)
      log += R"({"timestamp":"2025-12-31T10:00:00Z","type":"session_meta","payload":{"id":"s)" + t + "\"}}\n";
    log += R"({"timestamp":"2025-12-31T10:00:00Z","type":"turn_context","payload":{"model":"m)" + t + "\"}}\n";
    log += R"({"type":"response_item","payload":{"output":")" + std::string(37 * turn + 20, 'o') + "\"}}\n";
    log += R"({"timestamp":"2025-12-31T10:0)" + std::to_string(turn % 10) +
           R"(:00Z","type":"token_usage_record","payload":{"response_id":"r)" + t +
           R"(","usage":{"input_tokens":5}}})" + "\n";
    log += R"({"timestamp":"2025-12-31T10:0)" + std::to_string(9 - turn % 10) +
           R"(:00Z","type":"event_msg","payload":{"type":"token_count","rate_limits":{"primary":{"used_percent":)" + t +
           "}}}}\n";
  }
  writeFile(path, log);
  // Resumed from a cursor that already holds a context.
  const FileCursor start{path.string(), LogFile::at(path.string())->inode, 0, {{"session", "earlier"}, {"x", "y"}}};
  const auto expected = readWhole(path, ProviderID::codex, start, 512, 4096);
  for (const int64_t slice : {int64_t{512}, int64_t{64}, int64_t{8}}) {
    SCOPED_TRACE(slice);
    EXPECT_EQ(readInSlices(jobFor(path, ProviderID::codex, start), {512, 4096, clock, slice}), expected);
  }
}

TEST(IndexerServiceReading, ParseThreadsHandOverEveryFilesChunksInOrder) {
  TempDir dir;
  std::vector<IndexJob> jobs;
  for (int file = 0; file < 24; ++file) {
    const fs::path path = dir / ("f" + std::to_string(file) + ".jsonl");
    std::string log;
    for (int line = 0; line < 3 + file * 5 % 17; ++line) {
      log += sizedClaudeLine("f" + std::to_string(file) + "-" + std::to_string(line), 120 + line * 13, true);
    }
    writeFile(path, log);
    jobs.push_back(jobFor(path, ProviderID::claude));
  }
  jobs.push_back(jobFor(dir / "f0.jsonl", ProviderID::claude));
  jobs.back().file.path = (dir / "gone.jsonl").string();  // fails to open
  const LogChunkProducer::Settings settings{300, 4096, clock, 64};

  const auto readAll = [&](ParsePipeline& pipeline, std::optional<size_t> abandonAt) {
    std::vector<std::vector<Seen>> files;
    pipeline.start(jobs, settings);
    for (size_t index = 0; index < jobs.size(); ++index) {
      files.emplace_back();
      for (;;) {
        ChunkResult result = pipeline.next(index);
        if (result.error) {
          files.back().push_back(Seen{{"error"}});
          break;
        }
        files.back().push_back(seenOf(result));
        // As the writer does: the events go back to be freed off its path.
        pipeline.release(std::move(result.events));
        if (result.last) break;
        if (abandonAt == index) {
          pipeline.abandon(index);
          break;
        }
      }
    }
    pipeline.finish();
    return files;
  };
  ParsePipeline serial(0);
  const auto expected = readAll(serial, std::nullopt);
  ASSERT_EQ(expected.back().front().events, std::vector<std::string>{"error"});
  for (const size_t eventsAhead : {size_t{1}, size_t{8}, size_t{4096}}) {
    SCOPED_TRACE(eventsAhead);
    ParsePipeline parallel(3, eventsAhead);
    EXPECT_EQ(readAll(parallel, std::nullopt), expected);
    // A file given up after its first chunk: the files after it are whole.
    auto abandoned = readAll(parallel, 7);
    ASSERT_EQ(abandoned[7].size(), 1u);
    EXPECT_EQ(abandoned[7][0], expected[7][0]);
    abandoned[7] = expected[7];
    EXPECT_EQ(abandoned, expected);
  }
}

TEST(IndexerServiceReading, AChunkIsReadyOnlyOnceAParseThreadHasMadeIt) {
  // The writer asks whether the next chunk is there before it decides to
  // wait for it; the answer must not wait itself, nor say yes too early.
  TempDir dir;
  std::vector<IndexJob> jobs;
  for (int file = 0; file < 2; ++file) {
    const fs::path path = dir / ("f" + std::to_string(file) + ".jsonl");
    writeFile(path, sizedClaudeLine("f" + std::to_string(file), 150, true));
    jobs.push_back(jobFor(path, ProviderID::claude));
  }
  const LogChunkProducer::Settings settings{4096, 4096, clock, 4096};
  const auto eventually = [](ParsePipeline& pipeline, size_t index) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!pipeline.ready(index) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pipeline.ready(index);
  };

  // One thread that reads no further ahead while one event waits for the writer.
  ParsePipeline pipeline(1, 1);
  pipeline.start(jobs, settings);
  ASSERT_TRUE(eventually(pipeline, 0));
  EXPECT_FALSE(pipeline.ready(1)) << "the second file waits until the first file's chunk is taken";
  EXPECT_EQ(pipeline.next(0).events.at(0).dedupKey, "f0");
  ASSERT_TRUE(eventually(pipeline, 1));
  EXPECT_EQ(pipeline.next(1).events.at(0).dedupKey, "f1");
  pipeline.finish();

  // Without threads the writer reads each chunk itself when it asks.
  ParsePipeline serial(0);
  serial.start(jobs, settings);
  EXPECT_TRUE(serial.ready(0));
  EXPECT_TRUE(serial.ready(1));
  EXPECT_EQ(serial.next(0).events.at(0).dedupKey, "f0");
  serial.finish();
}

TEST(IndexerServiceReading, AGrokCursorsLastTurnTextParsesOnlyAsAStrictDecimal) {
  const std::vector<std::pair<const char*, std::optional<int64_t>>> cases = {
      {"0", 0},
      {"42", 42},
      {"+7", 7},
      {"-3", -3},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {" 1", std::nullopt},
      {"1 ", std::nullopt},
      {"1.0", std::nullopt},
      {"0x10", std::nullopt},
      {"+-1", std::nullopt},
      {"seven", std::nullopt},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(LogChunkProducer::parseTurn(text), expected) << text;
}

}  // namespace
}  // namespace tokvane
