// Throughput of reading Claude Code logs: the tail reader alone, the
// indexer's path (reader, byte pre-filter, parser in place) and the parser
// on every line. Single-threaded; the file sits in the page cache.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "TokvaneCore/Logs/JSONLTail.hpp"
#include "TokvaneCore/Parsers/ClaudeLogParser.hpp"
#include "TokvaneCore/Parsers/LogLineFilter.hpp"
#include "bench/support/ClaudeLogShape.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

constexpr int64_t chunkSize = int64_t{8} << 20;  // what the indexer asks per read
constexpr size_t logSize = size_t{96} << 20;

struct LogFixture {
  testing::TempDir dir;
  std::filesystem::path path = dir / "session.jsonl";
  size_t bytes = 0;
  size_t lines = 0;
  size_t usageLines = 0;
  size_t usageEvents = 0;

  LogFixture() {
    bench::ClaudeLogShape shape(7);
    std::string log;
    log.reserve(logSize + (1 << 20));
    shape.append(log, logSize);
    testing::writeFile(path, log);
    bytes = log.size();
    lines = shape.lines();
    usageLines = shape.usageLines();
    usageEvents = shape.usageEvents();
  }
};

const LogFixture& fixture() {
  static const LogFixture instance;
  return instance;
}

// Reads the whole file in indexer-sized chunks, handing every line to `visit`.
template <typename Visit>
void readAll(JSONLTail::Reader& reader, const std::filesystem::path& path, Visit&& visit) {
  std::optional<FileCursor> cursor;
  for (;;) {
    const auto& chunk = reader.read(path, cursor, chunkSize);
    for (const std::string_view line : chunk.lines) visit(line);
    if (chunk.atEOF) break;
    cursor = chunk.cursor;
  }
}

void report(benchmark::State& state, const LogFixture& log, size_t events) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * log.bytes));
  state.counters["lines"] = static_cast<double>(log.lines);
  state.counters["bytes_per_usage_line"] = static_cast<double>(log.bytes) / static_cast<double>(log.usageLines);
  state.counters["events"] = static_cast<double>(events);
}

void BM_ReaderAlone(benchmark::State& state) {
  const auto& log = fixture();
  JSONLTail::Reader reader;
  size_t lines = 0;
  for (auto _ : state) {
    lines = 0;
    readAll(reader, log.path, [&](std::string_view line) {
      benchmark::DoNotOptimize(line.data());
      ++lines;
    });
  }
  if (lines != log.lines) state.SkipWithError("line count differs from the generated log");
  report(state, log, 0);
}
BENCHMARK(BM_ReaderAlone)->Unit(benchmark::kMillisecond);

// The indexer's path: only lines holding the needle are parsed, in place.
void BM_ReaderFilterParser(benchmark::State& state) {
  const auto& log = fixture();
  JSONLTail::Reader reader;
  size_t events = 0;
  for (auto _ : state) {
    events = 0;
    readAll(reader, log.path, [&](std::string_view line) {
      if (!LogLineFilter::claude(line)) return;
      if (const auto event = ClaudeLogParser::event(line, /*padded=*/true)) {
        benchmark::DoNotOptimize(event->tokens);
        ++events;
      }
    });
  }
  if (events != log.usageLines) state.SkipWithError("event count differs from the generated log");
  report(state, log, events);
}
BENCHMARK(BM_ReaderFilterParser)->Unit(benchmark::kMillisecond);

void BM_ReaderParserEveryLine(benchmark::State& state) {
  const auto& log = fixture();
  JSONLTail::Reader reader;
  size_t events = 0;
  for (auto _ : state) {
    events = 0;
    readAll(reader, log.path, [&](std::string_view line) {
      if (const auto event = ClaudeLogParser::event(line, /*padded=*/true)) {
        benchmark::DoNotOptimize(event->tokens);
        ++events;
      }
    });
  }
  if (events != log.usageLines) state.SkipWithError("event count differs from the generated log");
  report(state, log, events);
}
BENCHMARK(BM_ReaderParserEveryLine)->Unit(benchmark::kMillisecond);

// The copying form of the reader, for comparison: one string per line.
void BM_CopyingReadFilterParser(benchmark::State& state) {
  const auto& log = fixture();
  size_t events = 0;
  for (auto _ : state) {
    events = 0;
    std::optional<FileCursor> cursor;
    for (;;) {
      const auto result = JSONLTail::read(log.path, cursor, chunkSize);
      for (const auto& line : result.lines) {
        if (!LogLineFilter::claude(line)) continue;
        if (const auto event = ClaudeLogParser::event(line)) {
          benchmark::DoNotOptimize(event->tokens);
          ++events;
        }
      }
      if (result.atEOF) break;
      cursor = result.cursor;
    }
  }
  if (events != log.usageLines) state.SkipWithError("event count differs from the generated log");
  report(state, log, events);
}
BENCHMARK(BM_CopyingReadFilterParser)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tokvane
