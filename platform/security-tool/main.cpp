// tokvane-security: answers "find-generic-password -s SERVICE -w" the way the
// Keychain's command-line tool does, for the one item Tokvane reads. On Linux
// Claude Code keeps that login in ~/.claude/.credentials.json; this program
// prints that file's bytes unchanged.
//
// Exit status: 0 with the secret on standard output; 44 when the item does not
// exist; 1 when it cannot be read or the arguments are not understood.

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int itemNotFound = 44;
constexpr int failure = 1;
constexpr std::string_view claudeService = "Claude Code-credentials";

int usage() {
  std::fputs("usage: tokvane-security find-generic-password -s SERVICE -w\n", stderr);
  return failure;
}

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir) {
    return found->pw_dir;
  }
  return {};
}

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

int printFile(const std::string& path) {
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return itemNotFound;
    std::fprintf(stderr, "tokvane-security: cannot read the item: %s\n", std::strerror(errno));
    return failure;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    std::fputs("tokvane-security: cannot read the item: not a regular file\n", stderr);
    close(fd);
    return failure;
  }
  // Read it whole before printing, so that a read failure prints nothing.
  std::string bytes;
  char buffer[16384];
  while (true) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "tokvane-security: cannot read the item: %s\n", std::strerror(errno));
      close(fd);
      return failure;
    }
    bytes.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  if (!writeAll(STDOUT_FILENO, bytes.data(), bytes.size())) return failure;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 || std::string_view(argv[1]) != "find-generic-password" || std::string_view(argv[2]) != "-s" ||
      std::string_view(argv[4]) != "-w") {
    return usage();
  }
  if (std::string_view(argv[3]) != claudeService) return itemNotFound;
  const std::string home = homeDirectory();
  if (home.empty()) return itemNotFound;
  return printFile(home + "/.claude/.credentials.json");
}
