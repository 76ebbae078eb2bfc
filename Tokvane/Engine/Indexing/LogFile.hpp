#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct stat;

namespace tokvane {

// A log file as one stat call saw it. An index run stats each file once and
// uses what it saw for ordering, for the unread-byte count and for a Grok
// file's signature.
struct LogFile {
  std::string path;
  int64_t size = 0;
  uint64_t inode = 0;
  // Modification time: whole seconds since 1970 and the nanoseconds past them.
  int64_t modifiedSeconds = 0;
  int64_t modifiedNanoseconds = 0;

  // The regular file at `path`, symbolic links not followed; none when
  // nothing is there, it cannot be stat'ed, or it is not a regular file.
  static std::optional<LogFile> at(const std::string& path);
  // The file at `path` as the stat call that gave `status` saw it; none when
  // it is not a regular file.
  static std::optional<LogFile> from(std::string path, const struct ::stat& status);

  // Newest first: a later modification time orders before an earlier one.
  static bool modifiedLater(const LogFile& a, const LogFile& b);

  std::string_view lastComponent() const;

  // The modification time in seconds since 1970 as the shortest decimal text
  // that reads back as the same double, with at least one digit after the
  // point ("1767225600.0", "1767225600.25").
  std::string modificationTimeText() const;
  // The size in bytes, in decimal.
  std::string sizeText() const { return std::to_string(size); }
};

}  // namespace tokvane
