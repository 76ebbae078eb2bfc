#include "TokvaneCore/Foundation/XDGPaths.hpp"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

namespace tokvane::XDGPaths {

std::filesystem::path home() {
  if (const char* home = getenv("HOME"); home && *home) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir) {
    return found->pw_dir;
  }
  return "/";
}

namespace {
std::filesystem::path fromEnvironment(const char* name, const char* fallback) {
  if (const char* value = getenv(name); value && value[0] == '/') return value;
  return home() / fallback;
}
}  // namespace

std::filesystem::path dataHome() { return fromEnvironment("XDG_DATA_HOME", ".local/share"); }
std::filesystem::path configHome() { return fromEnvironment("XDG_CONFIG_HOME", ".config"); }

}  // namespace tokvane::XDGPaths
