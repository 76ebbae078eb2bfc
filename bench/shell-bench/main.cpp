// tokvane-shell-bench: starts the tray program over a home of generated logs
// against a StatusNotifierWatcher of our own and measures
//   - start to the item's registration and to its first real title (the
//     first label computed from the model: "—" for a present provider
//     without limits, or a percentage), and the first full index's end (the
//     program goes quiet);
//   - once the program went quiet: its memory and, over an idle period, its
//     CPU time and its threads' context switches (wake-ups).
//   tokvane-shell-bench PROGRAM HOME WORK_DIR [IDLE_SECONDS]
// Run it on a private session bus with a display (run-shell-bench.sh).

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <string>

#include "tests/desktop/support/TestStatusWatcher.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// utime + stime of the process in clock ticks.
long long cpuTicks(qint64 pid) {
  QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!file.open(QIODevice::ReadOnly)) return -1;
  const QByteArray text = file.readAll();
  const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
  return fields.value(11).toLongLong() + fields.value(12).toLongLong();
}

long long statusValue(const QString& path, const QByteArray& key) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : file.readAll().split('\n')) {
    if (line.startsWith(key + ':')) return line.mid(key.size() + 1).trimmed().split(' ').value(0).toLongLong();
  }
  return 0;
}

// Context switches of every thread of the process.
long long switches(qint64 pid) {
  long long total = 0;
  const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
  for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    const QString status = tasks.filePath(task) + QStringLiteral("/status");
    total += statusValue(status, "voluntary_ctxt_switches") + statusValue(status, "nonvoluntary_ctxt_switches");
  }
  return total;
}

// The directory watcher's thread: the engine starts it when the first full
// index has ended.
bool watching(qint64 pid) {
  const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
  for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile comm(tasks.filePath(task) + QStringLiteral("/comm"));
    if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("app.tokvane.dir")) return true;
  }
  return false;
}

void pump(int milliseconds) {
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
  while (Clock::now() < end) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: tokvane-shell-bench PROGRAM HOME WORK_DIR [IDLE_SECONDS]\n");
    return 2;
  }
  const QString program = QString::fromLocal8Bit(argv[1]);
  const QString home = QString::fromLocal8Bit(argv[2]);
  const QString work = QString::fromLocal8Bit(argv[3]);
  const int idleSeconds = argc > 4 ? std::atoi(argv[4]) : 60;
  const long ticksPerSecond = sysconf(_SC_CLK_TCK);

  tokvane::testing::TestStatusWatcher watcher(true);
  QDir(work).removeRecursively();
  QDir().mkpath(work + QStringLiteral("/data"));
  QDir().mkpath(work + QStringLiteral("/config"));
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("HOME"), home);
  environment.insert(QStringLiteral("XDG_DATA_HOME"), work + QStringLiteral("/data"));
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), work + QStringLiteral("/config"));
  QProcess tokvane;
  tokvane.setProcessEnvironment(environment);
  tokvane.setProcessChannelMode(QProcess::ForwardedErrorChannel);

  const auto start = Clock::now();
  tokvane.start(program, {});
  if (!tokvane.waitForStarted()) return 1;
  const qint64 pid = tokvane.processId();

  double registered = -1, firstLabel = -1, firstTitle = -1;  // firstTitle: a percentage
  QString service, label;
  while (since(start) < 600 && firstLabel < 0 && tokvane.state() == QProcess::Running) {
    if (service.isEmpty() && !watcher.registrations().isEmpty()) {
      service = watcher.registrations().constFirst();
      registered = since(start);
    }
    if (!service.isEmpty()) {
      label = watcher.itemProperty(service, QStringLiteral("XAyatanaLabel")).toString();
      if (!label.isEmpty() && firstLabel < 0) firstLabel = since(start);
      if (label.contains(u'%')) firstTitle = since(start);
    }
    pump(5);
  }
  std::printf("start to registration: %.3f s\n", registered);
  std::printf("start to first real title: %.3f s (\"%s\")\n", firstLabel, label.toUtf8().constData());
  std::fflush(stdout);

  // The first full index has ended when the watcher starts; then the
  // program is quiet once it used less than 1 % of one core over three
  // half-second samples (the last publish written).
  double indexed = -1;
  while (since(start) < 1800 && indexed < 0 && tokvane.state() == QProcess::Running) {
    pump(20);
    if (watching(pid)) indexed = since(start);
    if (firstTitle < 0 && watcher.itemProperty(service, QStringLiteral("XAyatanaLabel")).toString().contains(u'%'))
      firstTitle = since(start);
  }
  std::printf("start to the first full index's end: %.1f s, CPU so far %.2f s\n", indexed,
              double(cpuTicks(pid)) / ticksPerSecond);
  int quietSamples = 0;
  long long last = cpuTicks(pid);
  while (since(start) < 1900 && quietSamples < 3) {
    pump(500);
    const long long now = cpuTicks(pid);
    quietSamples = (now - last) * 100.0 / ticksPerSecond / 0.5 < 1.0 ? quietSamples + 1 : 0;
    last = now;
  }
  if (firstTitle >= 0) std::printf("start to a percentage in the title: %.1f s\n", firstTitle);
  std::printf("title then: \"%s\"\n",
              watcher.itemProperty(service, QStringLiteral("XAyatanaLabel")).toString().toUtf8().constData());
  std::fflush(stdout);

  const QString status = QStringLiteral("/proc/%1/status").arg(pid);
  const long long ticksBefore = cpuTicks(pid);
  const long long switchesBefore = switches(pid);
  pump(idleSeconds * 1000);
  const long long ticksAfter = cpuTicks(pid);
  const long long switchesAfter = switches(pid);
  std::printf("memory: resident %.1f MB, peak resident %.1f MB, threads %lld\n",
              statusValue(status, "VmRSS") / 1024.0, statusValue(status, "VmHWM") / 1024.0,
              statusValue(status, "Threads"));
  std::printf("idle %d s: CPU %.3f s (%.3f %% of one core), %lld context switches (%.2f per second)\n", idleSeconds,
              double(ticksAfter - ticksBefore) / ticksPerSecond,
              double(ticksAfter - ticksBefore) / ticksPerSecond / idleSeconds * 100, switchesAfter - switchesBefore,
              double(switchesAfter - switchesBefore) / idleSeconds);

  tokvane.kill();
  tokvane.waitForFinished();
  return 0;
}
