#include "Tokvane/Engine/Indexing/LogFile.hpp"

#include <sys/stat.h>

#include <charconv>
#include <cstring>
#include <system_error>

namespace tokvane {

std::optional<LogFile> LogFile::at(const std::string& path) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) return std::nullopt;
  return from(path, status);
}

std::optional<LogFile> LogFile::from(std::string path, const struct ::stat& status) {
  if (!S_ISREG(status.st_mode)) return std::nullopt;
  LogFile file;
  file.path = std::move(path);
  file.size = static_cast<int64_t>(status.st_size);
  file.inode = static_cast<uint64_t>(status.st_ino);
  file.modifiedSeconds = static_cast<int64_t>(status.st_mtim.tv_sec);
  file.modifiedNanoseconds = static_cast<int64_t>(status.st_mtim.tv_nsec);
  return file;
}

bool LogFile::modifiedLater(const LogFile& a, const LogFile& b) {
  if (a.modifiedSeconds != b.modifiedSeconds) return a.modifiedSeconds > b.modifiedSeconds;
  return a.modifiedNanoseconds > b.modifiedNanoseconds;
}

std::string_view LogFile::lastComponent() const {
  const std::string_view text = path;
  const size_t slash = text.rfind('/');
  return slash == std::string_view::npos ? text : text.substr(slash + 1);
}

std::string LogFile::modificationTimeText() const {
  const double seconds =
      static_cast<double>(modifiedSeconds) + static_cast<double>(modifiedNanoseconds) / 1'000'000'000.0;
  char text[64];
  // Fixed notation: the shortest round-trip text without an exponent.
  const auto [end, error] = std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed);
  if (error != std::errc{}) return "0.0";
  std::string result(text, end);
  if (result.find('.') == std::string::npos) result += ".0";
  return result;
}

}  // namespace tokvane
