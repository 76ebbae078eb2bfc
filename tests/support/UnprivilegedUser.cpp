#include "tests/support/UnprivilegedUser.hpp"

#include <sys/fsuid.h>
#include <unistd.h>

#include <thread>

namespace tokvane::testing {

void asUnprivilegedUser(const std::function<void()>& body) {
  if (geteuid() != 0) {
    body();
    return;
  }
  std::thread worker([&] {
    constexpr int nobody = 65534;
    setfsuid(nobody);
    setfsgid(nobody);
    body();
  });
  worker.join();
}

}  // namespace tokvane::testing
