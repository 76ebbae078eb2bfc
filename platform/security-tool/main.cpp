// tokvane-security: answers "find-generic-password -s SERVICE -w" the way the
// Keychain's command-line tool does, for the one item Tokvane reads. On Linux
// Claude Code keeps that login in ~/.claude/.credentials.json; this program
// prints that file's bytes unchanged.
//
// Exit status: 0 with the secret on standard output; 44 when the item does not
// exist; 1 when it cannot be read or the arguments are not understood.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "TokvaneCore/Credentials/SecurityCLICredentialSource.hpp"
#include "TokvaneCore/Foundation/CappedFileRead.hpp"
#include "TokvaneCore/Foundation/FileDescriptor.hpp"
#include "TokvaneCore/Foundation/RetryOnEINTR.hpp"
#include "TokvaneCore/Foundation/XDGPaths.hpp"

namespace {

constexpr int itemNotFound = 44;
constexpr int failure = 1;
constexpr std::string_view claudeService = "Claude Code-credentials";
// Tokvane takes no longer secret, so the helper never reads more.
constexpr int64_t maxItemBytes = tokvane::SecurityCLICredentialSource::maxSecretBytes;

int usage() {
  std::fputs("usage: tokvane-security find-generic-password -s SERVICE -w\n", stderr);
  return failure;
}

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = tokvane::retryOnEINTR([&] { return write(fd, data, size); });
    if (written < 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

int printFile(const std::filesystem::path& path) {
  using tokvane::CappedFileRead;
  const tokvane::FileDescriptor file = tokvane::FileDescriptor::openForReading(path, O_NOCTTY);
  if (!file) {
    if (errno == ENOENT || errno == ENOTDIR) return itemNotFound;
    std::fprintf(stderr, "tokvane-security: cannot read the item: %s\n", std::strerror(errno));
    return failure;
  }
  // Read it whole before printing, so that a read failure prints nothing; its
  // size is checked first, so an oversized file is refused without reading it.
  const CappedFileRead whole = CappedFileRead::from(file, maxItemBytes);
  switch (whole.outcome) {
    case CappedFileRead::Outcome::read: break;
    case CappedFileRead::Outcome::notRegular:
      std::fputs("tokvane-security: cannot read the item: not a regular file\n", stderr);
      return failure;
    case CappedFileRead::Outcome::tooLarge:
      std::fputs("tokvane-security: cannot read the item: larger than 1 MiB\n", stderr);
      return failure;
    case CappedFileRead::Outcome::failed:
      std::fprintf(stderr, "tokvane-security: cannot read the item: %s\n", std::strerror(whole.error));
      return failure;
  }
  if (!writeAll(STDOUT_FILENO, whole.bytes.data(), whole.bytes.size())) return failure;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 || std::string_view(argv[1]) != "find-generic-password" || std::string_view(argv[2]) != "-s" ||
      std::string_view(argv[4]) != "-w") {
    return usage();
  }
  if (std::string_view(argv[3]) != claudeService) return itemNotFound;
  const std::filesystem::path home = tokvane::XDGPaths::home();
  if (home.empty()) return itemNotFound;
  return printFile(home / ".claude" / ".credentials.json");
}
