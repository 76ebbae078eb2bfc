#include "TokvaneCore/Foundation/AtomicFile.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "TokvaneCore/Foundation/RetryOnEINTR.hpp"

namespace tokvane::AtomicFile {

namespace {

[[noreturn]] void fail(const char* what, int error) { throw std::system_error(error, std::generic_category(), what); }

}  // namespace

void write(const std::filesystem::path& path, std::string_view bytes) {
  const auto folder = path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw std::system_error(error, "creating the folder");

  std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) fail("creating a temporary file", errno);
  auto discard = [&](const char* what) {
    const int saved = errno;
    close(fd);
    unlink(temporary.c_str());
    fail(what, saved);
  };
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = retryOnEINTR([&] { return ::write(fd, bytes.data() + written, bytes.size() - written); });
    if (n < 0) discard("writing");
    written += static_cast<size_t>(n);
  }
  if (fchmod(fd, 0644) != 0) discard("setting permissions");
  if (fsync(fd) != 0) discard("syncing");
  if (close(fd) != 0) {
    const int saved = errno;
    unlink(temporary.c_str());
    fail("closing", saved);
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    const int saved = errno;
    unlink(temporary.c_str());
    fail("renaming", saved);
  }
  // Make the rename itself durable; a failure here leaves a complete file.
  if (const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

}  // namespace tokvane::AtomicFile
