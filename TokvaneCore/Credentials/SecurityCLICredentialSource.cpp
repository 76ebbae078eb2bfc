#include "TokvaneCore/Credentials/SecurityCLICredentialSource.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "TokvaneCore/Foundation/CappedFileRead.hpp"
#include "TokvaneCore/Foundation/FileDescriptor.hpp"
#include "TokvaneCore/Foundation/RetryOnEINTR.hpp"

extern char** environ;

namespace tokvane {

namespace {

using Clock = std::chrono::steady_clock;

// Longer waits are pointless and would overflow the clock arithmetic.
constexpr double maxTimeoutSeconds = 7 * 86400;
// How long a tool may take to go after the terminate signal before it is killed.
constexpr auto terminateGrace = std::chrono::milliseconds(250);
// Without a process descriptor, how often the child is checked for.
constexpr int exitPollMilliseconds = 10;

CredentialError notFound() { return CredentialError(CredentialError::Kind::notFound); }
CredentialError denied() { return CredentialError(CredentialError::Kind::denied); }
CredentialError malformed() { return CredentialError(CredentialError::Kind::malformed); }

// A descriptor that becomes readable when the child exits, where the kernel offers one.
int openProcessDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  return fd >= 0 ? static_cast<int>(fd) : -1;
#else
  (void)pid;
  return -1;
#endif
}

// Whether the child has exited, without reaping it, so that its process
// group id stays reserved until we are done with the group.
bool hasExited(pid_t pid) {
  siginfo_t info{};
  if (retryOnEINTR([&] { return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT); }) != 0) {
    return true;  // nothing left to wait for
  }
  return info.si_pid != 0;
}

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1000 * 1000));
}

bool waitForExit(pid_t pid, const FileDescriptor& processFD, Clock::time_point deadline) {
  while (!hasExited(pid)) {
    const int left = millisecondsUntil(deadline);
    if (left <= 0) return false;
    if (processFD.valid()) {
      pollfd entry{processFD.get(), POLLIN, 0};
      ::poll(&entry, 1, left);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, exitPollMilliseconds)));
    }
  }
  return true;
}

int reap(pid_t pid) {
  int status = 0;
  if (retryOnEINTR([&] { return ::waitpid(pid, &status, 0); }) < 0) return -1;
  return status;
}

// Ends the tool and everything it started, then reaps it.
void killAndReap(pid_t pid, const FileDescriptor& processFD) {
  ::kill(-pid, SIGTERM);
  if (!waitForExit(pid, processFD, Clock::now() + terminateGrace)) ::kill(-pid, SIGKILL);
  // Helpers it left behind in its group go as well.
  ::kill(-pid, SIGKILL);
  reap(pid);
}

class SpawnSetup {
 public:
  SpawnSetup() {
    ok_ = posix_spawn_file_actions_init(&actions_) == 0;
    if (!ok_) return;
    ok_ = posix_spawnattr_init(&attributes_) == 0;
    if (!ok_) {
      posix_spawn_file_actions_destroy(&actions_);
      return;
    }
    attributesReady_ = true;
  }
  ~SpawnSetup() {
    if (attributesReady_) {
      posix_spawnattr_destroy(&attributes_);
      posix_spawn_file_actions_destroy(&actions_);
    }
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool configure(int outputFD) {
    if (!ok_) return false;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    // Its own process group, so that a deadline ends whatever it started;
    // no blocked signals and default dispositions, whatever this thread has.
    return posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0 &&
           posix_spawn_file_actions_adddup2(&actions_, outputFD, STDOUT_FILENO) == 0 &&
           posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0) == 0 &&
           posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                      POSIX_SPAWN_SETSIGDEF) == 0 &&
           posix_spawnattr_setpgroup(&attributes_, 0) == 0 && posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
           posix_spawnattr_setsigdefault(&attributes_, &all) == 0;
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attributes_{};
  bool ok_ = false;
  bool attributesReady_ = false;
};

// Runs the tool to its end (or to the deadline) and returns its output,
// throwing the CredentialError its outcome maps to.
std::string runSecurityTool(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                            double timeoutSeconds) {
  const double bounded = std::isnan(timeoutSeconds) ? 0 : std::clamp(timeoutSeconds, 0.0, maxTimeoutSeconds);
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bounded));

  int pipeFDs[2];
  if (::pipe2(pipeFDs, O_CLOEXEC) != 0) throw denied();
  FileDescriptor output(pipeFDs[0]);
  FileDescriptor outputWriteEnd(pipeFDs[1]);

  SpawnSetup setup;
  if (!setup.configure(outputWriteEnd.get())) throw denied();

  std::string program = executable.string();
  std::vector<std::string> words;
  words.reserve(arguments.size() + 1);
  words.push_back(program);
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, program.c_str(), setup.actions(), setup.attributes(), argv.data(), environ);
  outputWriteEnd.reset();
  if (spawned != 0) throw denied();

  const FileDescriptor processFD(openProcessDescriptor(pid));
  std::string bytes;
  bool outputOpen = true;
  bool exited = false;
  bool tooMuchOutput = false;
  char buffer[16384];

  // Drain the output while waiting for the tool, both under the one deadline.
  while (true) {
    if (!exited) exited = hasExited(pid);
    if (exited && !outputOpen) break;
    const int left = millisecondsUntil(deadline);
    if (left <= 0) break;

    pollfd entries[2];
    nfds_t count = 0;
    if (outputOpen) entries[count++] = pollfd{output.get(), POLLIN, 0};
    if (!exited && processFD.valid()) entries[count++] = pollfd{processFD.get(), POLLIN, 0};
    const int wait = (exited || processFD.valid()) ? left : std::min(left, exitPollMilliseconds);
    const int ready = ::poll(count > 0 ? entries : nullptr, count, wait);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0 || !outputOpen || entries[0].revents == 0) continue;

    const ssize_t got = ::read(output.get(), buffer, sizeof buffer);
    if (got > 0) {
      bytes.append(buffer, static_cast<size_t>(got));
      if (bytes.size() > SecurityCLICredentialSource::maxSecretBytes) {
        tooMuchOutput = true;
        break;
      }
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      outputOpen = false;
      output.reset();
    }
  }

  if (!exited || tooMuchOutput) {
    killAndReap(pid, processFD);
    throw denied();
  }
  if (outputOpen) {
    // The tool is gone but something it started still holds its output:
    // what was read may be incomplete, so none of it is used.
    ::kill(-pid, SIGKILL);
    bytes.clear();
  }
  const int status = reap(pid);
  if (status < 0 || !WIFEXITED(status)) throw denied();
  const int code = WEXITSTATUS(status);
  if (code == SecurityCLICredentialSource::itemNotFoundStatus) throw notFound();
  if (code != 0) throw denied();
  if (!isValidUTF8(bytes)) throw malformed();
  while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r')) bytes.pop_back();
  return bytes;
}

}  // namespace

bool isValidUTF8(std::string_view bytes) {
  size_t i = 0;
  const size_t n = bytes.size();
  while (i < n) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    size_t length;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (n - i < length) return false;
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    if (second < low || second > high) return false;
    for (size_t k = 2; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if (next < 0x80 || next > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

std::filesystem::path SecurityCLICredentialSource::defaultExecutable() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || self.empty()) return {};
  return self.parent_path() / "tokvane-security";
}

SecurityCLICredentialSource::SecurityCLICredentialSource(std::filesystem::path executable, double timeout)
    : executable_(std::move(executable)), timeout_(timeout) {}

std::string SecurityCLICredentialSource::keychainSecret(const std::string& service) {
  return runSecurityTool(executable_, {"find-generic-password", "-s", service, "-w"}, timeout_);
}

std::string SecurityCLICredentialSource::file(const std::filesystem::path& path) {
  const FileDescriptor file = FileDescriptor::openForReading(path, O_NOCTTY);
  if (!file) {
    if (errno == ENOENT || errno == ENOTDIR) throw notFound();
    throw denied();
  }
  // The size is checked before anything is read, so a huge file costs nothing.
  CappedFileRead whole = CappedFileRead::from(file, static_cast<int64_t>(maxSecretBytes));
  if (!whole.ok()) throw denied();
  return std::move(whole.bytes);
}

}  // namespace tokvane
