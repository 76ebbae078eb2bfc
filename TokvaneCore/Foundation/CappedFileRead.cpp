#include "TokvaneCore/Foundation/CappedFileRead.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "TokvaneCore/Foundation/FileDescriptor.hpp"
#include "TokvaneCore/Foundation/RetryOnEINTR.hpp"

namespace tokvane {

CappedFileRead CappedFileRead::from(const FileDescriptor& file, int64_t cap, bool requireRegular) {
  CappedFileRead result;
  const auto failWith = [&](int error) {
    result.outcome = Outcome::failed;
    result.error = error;
    result.bytes.clear();
    return std::move(result);
  };
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return failWith(errno);
  if (requireRegular && !S_ISREG(info.st_mode)) {
    result.outcome = Outcome::notRegular;
    return result;
  }
  cap = std::max<int64_t>(cap, 0);
  result.size = std::max<int64_t>(info.st_size, 0);
  if (result.size > cap) {
    result.outcome = Outcome::tooLarge;
    return result;
  }

  // One byte beyond the measured size shows the end of the file (or growth)
  // without a second call in the common case.
  std::string& data = result.bytes;
  data.resize(static_cast<size_t>(result.size) + 1);
  size_t have = 0;
  for (;;) {
    if (have == data.size()) {
      if (static_cast<int64_t>(have) > cap) break;
      data.resize(static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(data.size()) * 2, cap + 1)));
    }
    const ssize_t got = retryOnEINTR([&] { return ::read(file.get(), data.data() + have, data.size() - have); });
    if (got < 0) return failWith(errno);
    if (got == 0) break;
    have += static_cast<size_t>(got);
  }
  if (static_cast<int64_t>(have) > cap) {
    result.outcome = Outcome::tooLarge;
    result.size = static_cast<int64_t>(have);
    data.clear();
    data.shrink_to_fit();
    return result;
  }
  data.resize(have);
  result.size = static_cast<int64_t>(have);
  result.outcome = Outcome::read;
  return result;
}

}  // namespace tokvane
