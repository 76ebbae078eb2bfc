#pragma once

#include <functional>

namespace tokvane::testing {

// Runs `body` as a user who may not write the files: root passes every
// permission check, so it drops to another file-system user on a thread of
// its own (the file-system user belongs to the calling thread only). Other
// users run `body` as they are.
void asUnprivilegedUser(const std::function<void()>& body);

}  // namespace tokvane::testing
