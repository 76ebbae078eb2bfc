// tokvane-under-test: the tray program exactly as shipped, except that the
// providers' hosts and the login tool can be named on the command line, so a
// test can run it against a local server:
//   tokvane-under-test --claude-base-url=URL --codex-base-url=URL --security-tool=PATH [addresses...]

#include <cstring>
#include <string>
#include <vector>

#include "Tokvane/App/TokvaneApplication.hpp"

int main(int argc, char** argv) {
  tokvane::AppDelegate::Options options;
  std::vector<char*> rest{argv[0]};
  auto value = [](const char* arg, const char* flag) -> const char* {
    const size_t length = std::strlen(flag);
    return std::strncmp(arg, flag, length) == 0 ? arg + length : nullptr;
  };
  for (int i = 1; i < argc; ++i) {
    if (const char* v = value(argv[i], "--claude-base-url=")) {
      options.engine.claudeBaseURL = v;
    } else if (const char* v = value(argv[i], "--codex-base-url=")) {
      options.engine.codexBaseURL = v;
    } else if (const char* v = value(argv[i], "--security-tool=")) {
      options.engine.securityTool = v;
    } else {
      rest.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(rest.size());
  rest.push_back(nullptr);
  return tokvane::runTokvane(count, rest.data(), std::move(options));
}
