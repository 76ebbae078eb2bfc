// Writes a realistic tree of AI coding tool logs under a home folder, for the
// index benchmark: Claude Code projects with sessions and sub-agent logs,
// Codex rollouts (live by date, and archived), and Grok session folders.
// File sizes are heavy-tailed (many small sessions, a few of many MB), most
// bytes sit in lines without usage, and message ids repeat as in real logs
// (several lines per reply; resumed sessions that start with an earlier
// session's lines). The same seed gives the same tree.
//
//   tokvane-generate-log-tree --home DIR --bytes N [--seed S]
//
// Prints one JSON object with the files and bytes written per tool, and the
// output tokens of the Claude and Codex responses (each counted once).

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "CodexLogShape.hpp"
#include "GrokSessionShape.hpp"
#include "SplitMix.hpp"
#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "bench/support/ClaudeLogShape.hpp"

namespace tokvane::bench {
namespace {

namespace fs = std::filesystem;

// Sessions start within the 90 days before this moment (2026-01-01T00:00:00Z).
const Date latest = Date::fromUnix(1767225600.0);
constexpr double spanSeconds = 90 * 86400.0;

struct Totals {
  size_t files = 0;
  size_t bytes = 0;
  // The output tokens of the tool's responses, each counted once (Claude:
  // the final output of each reply, whatever its earlier lines hold).
  unsigned long long output = 0;
};

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: tokvane-generate-log-tree --home DIR --bytes N [--seed S]\n");
  std::exit(2);
}

void writeLog(const fs::path& path, const std::string& bytes, Date modified, Totals& totals) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "tokvane-generate-log-tree: writing %s failed\n", path.c_str());
    std::exit(1);
  }
  const double unix = modified.unixSeconds();
  const auto seconds = static_cast<time_t>(unix);
  const struct timespec times[2] = {{seconds, static_cast<long>((unix - static_cast<double>(seconds)) * 1e9)},
                                    {seconds, static_cast<long>((unix - static_cast<double>(seconds)) * 1e9)}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
  ++totals.files;
  totals.bytes += bytes.size();
}

// Heavy-tailed session sizes: mostly a few KB to tens of KB, a quarter up to
// a MB, a few of several MB.
size_t sessionSize(SplitMix& random) {
  const double pick = random.unit();
  if (pick < 0.72) return static_cast<size_t>(random.logUniform(3e3, 6e4));
  if (pick < 0.97) return static_cast<size_t>(random.logUniform(6e4, 1e6));
  return static_cast<size_t>(random.logUniform(1e6, 1e7));
}

Date sessionStart(SplitMix& random) { return latest - spanSeconds + random.unit() * (spanSeconds - 86400.0); }

// The lines of `log` up to about `bytes`, cut after a line feed.
std::string linePrefix(const std::string& log, size_t bytes) {
  if (log.size() <= bytes) return log;
  const size_t end = log.rfind('\n', bytes);
  return end == std::string::npos ? std::string() : log.substr(0, end + 1);
}

std::string projectName(SplitMix& random, int index) {
  static constexpr std::string_view names[] = {"tokvane",  "api-gateway", "dotfiles",   "ml-pipeline", "site",
                                               "compiler", "infra",       "mobile-app", "notes",       "scraper"};
  return "-home-dev-projects-" + std::string(names[static_cast<size_t>(index) % std::size(names)]) +
         (index >= static_cast<int>(std::size(names)) ? "-" + random.hex(4) : "");
}

void writeClaude(const fs::path& home, size_t budget, SplitMix& random, Totals& totals) {
  const fs::path root = home / ".claude/projects";
  std::vector<std::string> projects;
  for (int i = 0; i < 24; ++i) projects.push_back(projectName(random, i));
  std::map<std::string, std::string> lastPrefix;  // per project: the start of its last session
  while (totals.bytes < budget) {
    const std::string& project = projects[random.below(projects.size())];
    const std::string session = random.uuid();
    const Date start = sessionStart(random);
    ClaudeLogShape shape(random.next(), start);
    std::string log;
    const size_t size = sessionSize(random);
    log.reserve(size + (64 << 10));
    // A resumed session begins with the lines of an earlier one.
    if (random.chance(0.08) && lastPrefix.count(project)) log = lastPrefix[project];
    shape.append(log, size);
    totals.output += shape.finalOutput();
    writeLog(root / project / (session + ".jsonl"), log, shape.now(), totals);
    lastPrefix[project] = linePrefix(log, 200 << 10);

    // Sub-agents: their own logs beside the session.
    if (random.chance(0.3)) {
      const int agents = 1 + static_cast<int>(random.below(3));
      for (int a = 0; a < agents; ++a) {
        ClaudeLogShape agent(random.next(), start + random.unit() * 600);
        std::string agentLog;
        agent.append(agentLog, std::max<size_t>(4000, size / 10 + random.below(size / 5 + 1)));
        totals.output += agent.finalOutput();
        writeLog(root / project / session / "subagents" / ("agent-" + random.hex(8) + ".jsonl"), agentLog, agent.now(),
                 totals);
      }
    }
  }
}

void writeCodex(const fs::path& home, size_t budget, SplitMix& random, Totals& totals) {
  while (totals.bytes < budget) {
    const Date start = sessionStart(random);
    CodexLogShape shape(random.next(), start);
    std::string log;
    const size_t size = sessionSize(random);
    log.reserve(size + (64 << 10));
    shape.append(log, size);
    totals.output += shape.totalOutput();

    // rollout-2025-11-03T14-22-01-<uuid>.jsonl, under the day's folder or archived.
    std::string stamp = ISO8601::format(start);  // 2025-11-03T14:22:01Z
    stamp.pop_back();
    for (char& c : stamp) {
      if (c == ':') c = '-';
    }
    const std::string name = "rollout-" + stamp + "-" + shape.sessionID() + ".jsonl";
    const fs::path folder =
        random.chance(0.2) ? home / ".codex/archived_sessions"
                           : home / ".codex/sessions" / stamp.substr(0, 4) / stamp.substr(5, 2) / stamp.substr(8, 2);
    writeLog(folder / name, log, shape.now(), totals);
  }
}

void writeGrok(const fs::path& home, size_t budget, SplitMix& random, Totals& totals) {
  while (totals.bytes < budget) {
    Date modified;
    const std::string text =
        GrokSessionShape::make(random.next(), sessionStart(random), static_cast<size_t>(random.logUniform(1e3, 8e4)),
                               random.chance(0.1), modified);
    writeLog(home / ".grok/sessions" / random.uuid() / "usage.json", text, modified, totals);
  }
}

}  // namespace
}  // namespace tokvane::bench

int main(int argc, char** argv) {
  using namespace tokvane::bench;
  std::string home;
  long long bytes = -1;
  unsigned long long seed = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) usage();
    if (arg == "--home") {
      home = argv[++i];
    } else if (arg == "--bytes") {
      bytes = std::atoll(argv[++i]);
    } else if (arg == "--seed") {
      seed = std::strtoull(argv[++i], nullptr, 10);
    } else {
      usage();
    }
  }
  if (home.empty() || bytes <= 0) usage();

  SplitMix random(seed);
  const auto total = static_cast<size_t>(bytes);
  Totals claude, codex, grok;
  // Each tool gets what is left of its share once the ones before it wrote
  // theirs (a large last session may overshoot a share).
  const auto left = [](size_t target, size_t written) { return target > written ? target - written : 0; };
  writeClaude(home, total * 68 / 100, random, claude);
  writeCodex(home, left(total * 98 / 100, claude.bytes), random, codex);
  writeGrok(home, left(total, claude.bytes + codex.bytes), random, grok);
  std::printf(
      "{\"files\":%zu,\"bytes\":%zu,\"claude\":{\"files\":%zu,\"bytes\":%zu,\"output\":%llu},"
      "\"codex\":{\"files\":%zu,\"bytes\":%zu,\"output\":%llu},\"grok\":{\"files\":%zu,\"bytes\":%zu}}\n",
      claude.files + codex.files + grok.files, claude.bytes + codex.bytes + grok.bytes, claude.files, claude.bytes,
      claude.output, codex.files, codex.bytes, codex.output, grok.files, grok.bytes);
  return 0;
}
