#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Credentials/SecurityCLICredentialSource.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::readFile;
using testing::writeFile;

const fs::path tool = TOKVANE_SECURITY_TOOL;
const std::string claudeService = "Claude Code-credentials";

struct ToolRun {
  int exitStatus = -1;
  std::string out;
  std::string err;
};

// Runs the tool with `arguments` and HOME set to `home` (or unset), its
// output and error output captured in files.
ToolRun runTool(const std::vector<std::string>& arguments, const std::optional<fs::path>& home, const TempDir& scratch) {
  const std::string outPath = (scratch / "stdout").string();
  const std::string errPath = (scratch / "stderr").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> words{tool.string()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::string homeEntry = home ? "HOME=" + home->string() : "NO_HOME=1";
  char* envp[] = {homeEntry.data(), nullptr};
  pid_t pid = -1;
  ToolRun run;
  if (posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), envp) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = readFile(outPath);
  run.err = readFile(errPath);
  return run;
}

class SecurityToolTest : public ::testing::Test {
 protected:
  fs::path home() const { return home_.path(); }
  fs::path credentialsFile() const { return home_ / ".claude/.credentials.json"; }
  ToolRun find(const std::string& service) {
    return runTool({"find-generic-password", "-s", service, "-w"}, home(), scratch_);
  }

  TempDir home_;
  TempDir scratch_;
};

TEST_F(SecurityToolTest, PrintsTheClaudeLoginFileUnchanged) {
  const std::string login =
      "{\"claudeAiOauth\":{\"accessToken\":\"sk-\xC3\xA9\",\"expiresAt\":1760000000000}}\n\n";
  writeFile(credentialsFile(), login);
  const ToolRun run = find(claudeService);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, login);
  EXPECT_EQ(run.err, "");
}

TEST_F(SecurityToolTest, AMissingLoginOrAnotherServiceIsNotFound) {
  // No ".claude" folder at all.
  ToolRun run = find(claudeService);
  EXPECT_EQ(run.exitStatus, 44);
  EXPECT_EQ(run.out, "");
  // The folder without the file.
  fs::create_directories(home() / ".claude");
  EXPECT_EQ(find(claudeService).exitStatus, 44);
  // ".claude" is a file, so the path cannot exist.
  fs::remove(home() / ".claude");
  writeFile(home() / ".claude", "x");
  EXPECT_EQ(find(claudeService).exitStatus, 44);
  // Any other item does not exist, whatever the file holds.
  fs::remove(home() / ".claude");
  writeFile(credentialsFile(), "{}");
  for (const char* other : {"Codex-credentials", "claude code-credentials", "Claude Code-credentials ", ""}) {
    SCOPED_TRACE(other);
    run = find(other);
    EXPECT_EQ(run.exitStatus, 44);
    EXPECT_EQ(run.out, "");
  }
}

TEST_F(SecurityToolTest, AnUnreadableLoginFails) {
  // A folder where the file should be cannot be read, even by root.
  fs::create_directories(credentialsFile());
  ToolRun run = find(claudeService);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err, "");
  fs::remove(credentialsFile());

  if (::geteuid() == 0) {
    std::cout << "note: running as root, the permission case is not exercised\n";
    return;
  }
  writeFile(credentialsFile(), "{}");
  fs::permissions(credentialsFile(), fs::perms::none);
  run = find(claudeService);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.out, "");
}

TEST_F(SecurityToolTest, ALoginLargerThanTheLimitIsRefusedUnread) {
  struct Case {
    const char* name;
    int64_t size;
    int exitStatus;
  };
  constexpr int64_t limit = SecurityCLICredentialSource::maxSecretBytes;
  const Case cases[] = {
      {"at the limit", limit, 0},
      {"one byte over", limit + 1, 1},
      // Sparse: reading it would take seconds and gigabytes.
      {"two gigabytes", int64_t{2} << 30, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::create_directories(credentialsFile().parent_path());
    writeFile(credentialsFile(), "");
    fs::resize_file(credentialsFile(), static_cast<std::uintmax_t>(c.size));
    const auto started = std::chrono::steady_clock::now();
    const ToolRun run = find(claudeService);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(run.exitStatus, c.exitStatus);
    if (c.exitStatus == 0) {
      EXPECT_EQ(run.out.size(), static_cast<size_t>(c.size));
    } else {
      EXPECT_EQ(run.out, "");
      EXPECT_NE(run.err.find("larger than 1 MiB"), std::string::npos) << run.err;
      // Refused from its size alone (reading 2 GB takes seconds).
      EXPECT_LT(took, std::chrono::seconds(2));
    }
  }
}

TEST_F(SecurityToolTest, OtherArgumentShapesPrintUsage) {
  writeFile(credentialsFile(), "{}");
  const std::vector<std::string> shapes[] = {
      {},
      {"find-generic-password"},
      {"find-generic-password", "-s", claudeService},
      {"find-generic-password", "-s", claudeService, "-w", "extra"},
      {"find-generic-password", "-w", claudeService, "-s"},
      {"find-internet-password", "-s", claudeService, "-w"},
      {"find-generic-password", "-a", claudeService, "-w"},
  };
  for (const auto& arguments : shapes) {
    SCOPED_TRACE(arguments.size());
    const ToolRun run = runTool(arguments, home(), scratch_);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage"), std::string::npos) << run.err;
  }
}

TEST_F(SecurityToolTest, ServesTheCredentialSource) {
  // The tool and the credential source together, as the application uses them.
  const char* previous = std::getenv("HOME");
  const std::optional<std::string> saved = previous ? std::optional<std::string>(previous) : std::nullopt;
  ::setenv("HOME", home().c_str(), 1);
  SecurityCLICredentialSource source(tool, 10);
  std::optional<CredentialError::Kind> missing;
  try {
    source.keychainSecret(claudeService);
  } catch (const CredentialError& error) {
    missing = error.kind();
  }
  writeFile(credentialsFile(), "{\"claudeAiOauth\":{\"accessToken\":\"abc\"}}\r\n");
  const std::string secret = source.keychainSecret(claudeService);
  if (saved) {
    ::setenv("HOME", saved->c_str(), 1);
  } else {
    ::unsetenv("HOME");
  }
  EXPECT_EQ(missing, CredentialError::Kind::notFound);
  EXPECT_EQ(secret, "{\"claudeAiOauth\":{\"accessToken\":\"abc\"}}");
}

}  // namespace
}  // namespace tokvane
