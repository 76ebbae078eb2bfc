#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tokvane {

class FileDescriptor;

// A whole file read through an open descriptor, refusing one larger than a
// cap: the size is checked before anything is read, and the read stops as
// soon as it passes the cap (a file that grew since it was measured), so
// neither time nor memory ever goes past the cap.
struct CappedFileRead {
  enum class Outcome {
    read,        // `bytes` holds the whole file
    tooLarge,    // larger than the cap; `size` is as far as it was seen
    notRegular,  // not a regular file (only when one is required)
    failed,      // fstat or read failed; `error` is its errno
  };

  Outcome outcome = Outcome::failed;
  std::string bytes;
  // The file's size as measured, or as far as it was read when it grew past the cap.
  int64_t size = 0;
  int error = 0;

  bool ok() const { return outcome == Outcome::read; }

  static CappedFileRead from(const FileDescriptor& file, int64_t cap, bool requireRegular = true);
};

}  // namespace tokvane
