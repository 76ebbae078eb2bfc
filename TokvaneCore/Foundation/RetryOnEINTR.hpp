#pragma once

#include <cerrno>
#include <utility>

namespace tokvane {

// Calls `call` again for as long as it fails with EINTR (a negative result
// and errno EINTR), and returns its first other result. errno is left as the
// last call set it.
template <typename Call>
auto retryOnEINTR(Call&& call) {
  for (;;) {
    auto result = call();
    if (!(result < 0 && errno == EINTR)) return result;
  }
}

}  // namespace tokvane
