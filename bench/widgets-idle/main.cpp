// tokvane-widgets-idle-bench PROGRAM SECONDS: the widget program's weight
// and idle cost with three widgets (small, medium, large). Needs a display
// and a session bus (run-widgets-idle.sh provides both). Two rounds:
//   countdown: a reset within the hour, so a countdown runs (one tick a second);
//   quiet:     every reset more than a day away (no ticks; only reloads).
// Prints resident memory, CPU time and wake-ups (context switches of all of
// the program's threads) over SECONDS, after a settling time.

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>

#include "TokvaneCore/Foundation/AtomicFile.hpp"
#include "TokvaneCore/Snapshot/SnapshotStore.hpp"

namespace fs = std::filesystem;
using namespace tokvane;

namespace {

struct Sample {
  double cpuSeconds = 0;
  long rssKiB = 0;
  std::map<std::string, std::pair<std::string, long>> threads;  // tid -> name, context switches
};

// Wake-ups over the interval: the context switches of the threads that
// lived through it (a thread that came or went in between is left out).
long wakeUps(const Sample& before, const Sample& after, std::string* detail) {
  long total = 0;
  for (const auto& [tid, thread] : after.threads) {
    const auto old = before.threads.find(tid);
    if (old == before.threads.end()) continue;
    const long delta = thread.second - old->second.second;
    total += delta;
    *detail += " " + thread.first + "=" + std::to_string(delta);
  }
  return total;
}

long field(const std::string& text, const std::string& key) {
  const auto at = text.find(key);
  return at == std::string::npos ? 0 : std::atol(text.c_str() + at + key.size());
}

std::string slurp(const fs::path& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

Sample sample(pid_t pid) {
  Sample s;
  const fs::path proc = "/proc/" + std::to_string(pid);
  std::string stat = slurp(proc / "stat");
  const auto close = stat.rfind(')');
  std::istringstream rest(stat.substr(close + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) rest >> skip;  // fields 3..13
  long utime = 0, stime = 0;
  rest >> utime >> stime;
  s.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  s.rssKiB = field(slurp(proc / "status"), "VmRSS:");
  for (const auto& task : fs::directory_iterator(proc / "task")) {
    const std::string status = slurp(task.path() / "status");
    std::string name = slurp(task.path() / "comm");
    while (!name.empty() && name.back() == '\n') name.pop_back();
    s.threads[task.path().filename().string()] = {
        name, field(status, "\nvoluntary_ctxt_switches:") + field(status, "nonvoluntary_ctxt_switches:")};
  }
  return s;
}

Snapshot snapshot(bool countdown) {
  Snapshot value = Snapshot::placeholder();
  const Date now = Date::now();
  const double shift = now - value.generatedAt;
  value.generatedAt = now;
  for (auto& provider : value.providers) {
    for (auto& window : provider.windows) {
      if (window.resetsAt) window.resetsAt = *window.resetsAt + shift + (countdown ? 0 : 2 * 86'400);
    }
  }
  return value;
}

void round(const char* name, const std::string& program, int seconds, bool countdown, const fs::path& scratch) {
  const fs::path config = scratch / name / "config";
  const fs::path data = scratch / name / "data";
  AtomicFile::write(config / "app.tokvane" / "widgets.json",
                    R"({"widgets": [{"kind": "app.tokvane.small", "x": 1090, "y": 16, "provider": "claude"},)"
                    R"({"kind": "app.tokvane.medium", "x": 700, "y": 16}, {"kind": "app.tokvane.large", "x": 700, "y": 202}]})");
  SnapshotStore(data / std::string(SnapshotStore::appGroup)).write(snapshot(countdown));
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::this_thread::sleep_for(std::chrono::seconds(4));  // start-up and first paint
  const Sample before = sample(pid);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const Sample after = sample(pid);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  const double cpu = after.cpuSeconds - before.cpuSeconds;
  std::string detail;
  const long wakes = wakeUps(before, after, &detail);
  std::printf("%-9s rss %ld KiB  cpu %.2f s in %d s (%.3f %%)  wake-ups %ld (%.2f/s):%s\n", name, after.rssKiB, cpu,
              seconds, 100.0 * cpu / seconds, wakes, static_cast<double>(wakes) / seconds, detail.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tokvane-widgets-idle-bench PROGRAM [SECONDS]\n");
    return 2;
  }
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;
  char pattern[] = "/tmp/tokvane-widgets-idle.XXXXXX";
  const fs::path scratch = mkdtemp(pattern);
  round("countdown", argv[1], seconds, true, scratch);
  round("quiet", argv[1], seconds, false, scratch);
  fs::remove_all(scratch);
  return 0;
}
