#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "TokvaneCore/Credentials/SecurityCLICredentialSource.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using Kind = CredentialError::Kind;
using Clock = std::chrono::steady_clock;
using testing::TempDir;
using testing::readFile;
using testing::writeFile;

// What a call gave: the text, or the kind of error.
using Outcome = std::variant<std::string, Kind>;

template <typename Call>
Outcome outcomeOf(Call&& call) {
  try {
    return call();
  } catch (const CredentialError& error) {
    return error.kind();
  }
}

std::string describe(const Outcome& outcome) {
  if (const auto* text = std::get_if<std::string>(&outcome)) return "text \"" + *text + "\"";
  switch (std::get<Kind>(outcome)) {
    case Kind::notFound: return "notFound";
    case Kind::denied: return "denied";
    case Kind::malformed: return "malformed";
  }
  return "?";
}

// The child has been reaped: it is no child of ours any more and no
// process (or zombie) of that id remains.
void expectReaped(pid_t pid) {
  int status = 0;
  errno = 0;
  EXPECT_EQ(::waitpid(pid, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid))) << "process " << pid << " still exists";
}

class CredentialSourceTest : public ::testing::Test {
 protected:
  // A fake tool: a shell script with this body.
  fs::path tool(const std::string& name, const std::string& body) {
    const fs::path path = dir_ / name;
    writeFile(path, "#!/bin/sh\n" + body + "\n");
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    return path;
  }

  pid_t pidFrom(const std::string& name) { return static_cast<pid_t>(std::stol(readFile(dir_ / name))); }

  TempDir dir_;
};

TEST_F(CredentialSourceTest, MapsTheToolsExitAndOutput) {
  struct Case {
    const char* script;
    Outcome expected;
  };
  const Case cases[] = {
      {"printf 'secret\\n'", std::string("secret")},
      {"printf 'secret'", std::string("secret")},
      {"printf 'a\\n\\n\\r'", std::string("a")},
      {"printf 'x\\r\\n'", std::string("x")},
      {"printf 'line1\\nline2\\n'", std::string("line1\nline2")},
      {"printf '  spaced  \\n'", std::string("  spaced  ")},
      {"printf 'caf\\303\\251\\n'", std::string("caf\xC3\xA9")},
      {":", std::string()},
      {"printf '\\n\\r\\n'", std::string()},
      {"exit 44", Kind::notFound},
      {"printf 'secret\\n'; exit 44", Kind::notFound},
      {"printf '\\377'; exit 44", Kind::notFound},
      {"exit 1", Kind::denied},
      {"printf 'secret\\n'; exit 2", Kind::denied},
      {"exit 255", Kind::denied},
      {"kill -9 $$", Kind::denied},
      {"kill -TERM $$", Kind::denied},
      {"printf '\\377\\376'", Kind::malformed},
      {"printf 'ok\\300\\257'", Kind::malformed},       // overlong "/"
      {"printf '\\355\\240\\200'", Kind::malformed},     // a surrogate
      {"printf '\\364\\220\\200\\200'", Kind::malformed},  // above U+10FFFF
      {"printf 'cut \\303'", Kind::malformed},           // truncated sequence
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    SecurityCLICredentialSource source(tool("tool" + std::to_string(index++), c.script), 10);
    const Outcome outcome = outcomeOf([&] { return source.keychainSecret("Claude Code-credentials"); });
    EXPECT_EQ(outcome, c.expected) << "got " << describe(outcome);
  }
}

TEST_F(CredentialSourceTest, RunsTheToolWithSeparateArgumentsAndNullInputAndErrorOutput) {
  const fs::path out = dir_ / "out";
  fs::create_directories(out);
  const std::string o = out.string();
  // Each argument on its own line; the descriptors the tool's own child
  // holds; then an attempt to read input, which must end at once.
  const auto path = tool("inspect", "echo $$ > '" + o + "/pid'\n"
                                    "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + o + "/args'\n"
                                    "ls -l /proc/self/fd > '" + o + "/fds'\n"
                                    "cat > '" + o + "/stdin'\n"
                                    "echo 'to stderr' >&2\n"
                                    "printf 'the-secret\\n'");
  SecurityCLICredentialSource source(path, 10);

  EXPECT_EQ(source.keychainSecret("Claude Code-credentials"), "the-secret");

  EXPECT_EQ(readFile(out / "args"), "find-generic-password\n-s\nClaude Code-credentials\n-w\n");
  EXPECT_EQ(readFile(out / "stdin"), "");
  // Descriptor 0 and 2 are the null device; nothing of ours but descriptors
  // this process already lets every child inherit reaches the tool.
  std::istringstream fds(readFile(out / "fds"));
  std::string line;
  bool sawInput = false;
  bool sawError = false;
  while (std::getline(fds, line)) {
    const auto arrow = line.find(" -> ");
    if (arrow == std::string::npos) continue;
    const std::string target = line.substr(arrow + 4);
    const std::string before = line.substr(0, arrow);
    const int fd = std::stoi(before.substr(before.rfind(' ') + 1));
    if (fd == 0) sawInput = target == "/dev/null";
    if (fd == 2) sawError = target == "/dev/null";
    if (fd <= 2 || target.find("/fd") != std::string::npos) continue;  // ls's own listing
    const int flags = ::fcntl(fd, F_GETFD);
    std::error_code error;
    const auto ours = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    EXPECT_TRUE(flags >= 0 && !(flags & FD_CLOEXEC) && ours.string() == target)
        << "descriptor " << fd << " (" << target << ") leaked into the tool";
  }
  EXPECT_TRUE(sawInput);
  EXPECT_TRUE(sawError);
  expectReaped(pidFrom("out/pid"));
}

TEST_F(CredentialSourceTest, AToolThatCannotStartIsDenied) {
  writeFile(dir_ / "not-executable", "#!/bin/sh\nprintf secret\n");
  const auto noInterpreter = dir_ / "no-interpreter";
  writeFile(noInterpreter, "#!/nonexistent/shell\nprintf secret\n");
  fs::permissions(noInterpreter, fs::perms::owner_all);
  const auto noShebang = dir_ / "no-shebang";
  writeFile(noShebang, "printf secret\n");
  fs::permissions(noShebang, fs::perms::owner_all);
  fs::create_directories(dir_ / "a-directory");

  for (const fs::path& path : {dir_ / "missing", dir_ / "not-executable", noInterpreter, noShebang,
                               dir_ / "a-directory", fs::path()}) {
    SCOPED_TRACE(path.string());
    SecurityCLICredentialSource source(path, 10);
    EXPECT_EQ(outcomeOf([&] { return source.keychainSecret("x"); }), Outcome(Kind::denied));
  }
}

TEST_F(CredentialSourceTest, AToolPastTheDeadlineIsKilledReapedAndDenied) {
  struct Case {
    const char* name;
    std::string script;
  };
  const std::string o = dir_.path().string();
  const Case cases[] = {
      {"sleeps", "echo $$ > '" + o + "/sleeps.pid'\nexec sleep 30"},
      // Ignores the terminate signal (and so do the children it starts).
      {"stubborn", "trap '' TERM\necho $$ > '" + o + "/stubborn.pid'\nwhile :; do sleep 1; done"},
      // Keeps printing without end.
      {"chatty", "echo $$ > '" + o + "/chatty.pid'\nwhile :; do echo partial; sleep 0.05; done"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SecurityCLICredentialSource source(tool(c.name, c.script), 1);
    const auto started = Clock::now();
    EXPECT_EQ(outcomeOf([&] { return source.keychainSecret("x"); }), Outcome(Kind::denied));
    const auto elapsed = Clock::now() - started;
    EXPECT_GE(elapsed, std::chrono::milliseconds(900));
    EXPECT_LT(elapsed, std::chrono::milliseconds(4000));
    expectReaped(pidFrom(std::string(c.name) + ".pid"));
  }
}

TEST_F(CredentialSourceTest, OutputHeldOpenPastTheToolsExitIsNotUsed) {
  // The tool exits at once, but a helper it started keeps its output open.
  const std::string o = dir_.path().string();
  SecurityCLICredentialSource source(
      tool("leaves-helper", "echo $$ > '" + o + "/tool.pid'\nsleep 30 &\necho $! > '" + o +
                                "/helper.pid'\nprintf 'partial'"),
      1);
  const auto started = Clock::now();
  EXPECT_EQ(outcomeOf([&] { return source.keychainSecret("x"); }), Outcome(std::string()));
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(4000));
  expectReaped(pidFrom("tool.pid"));
  // The helper was ended too (it may linger as its new parent's zombie).
  const pid_t helper = pidFrom("helper.pid");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string stat = readFile("/proc/" + std::to_string(helper) + "/stat");
  EXPECT_TRUE(stat.empty() || stat.find(") Z ") != std::string::npos) << stat;
}

TEST_F(CredentialSourceTest, OversizedOutputIsDenied) {
  SecurityCLICredentialSource source(tool("flood", "head -c 1100000 /dev/zero | tr '\\0' 'a'"), 10);
  EXPECT_EQ(outcomeOf([&] { return source.keychainSecret("x"); }), Outcome(Kind::denied));
}

TEST_F(CredentialSourceTest, SeveralCallsMayRunAtOnce) {
  // A slow tool alongside fast ones: every call gets its own answer, and a
  // fast call does not wait for the slow tool.
  SecurityCLICredentialSource slow(tool("slow", "sleep 3; printf slow"), 10);
  SecurityCLICredentialSource fast(tool("fast", "printf 'secret of %s' \"$3\""), 10);
  auto slowAnswer = std::async(std::launch::async, [&] { return slow.keychainSecret("s"); });
  std::vector<std::future<std::string>> answers;
  const auto started = Clock::now();
  for (int i = 0; i < 6; ++i) {
    answers.push_back(std::async(std::launch::async, [&, i] { return fast.keychainSecret("item" + std::to_string(i)); }));
  }
  for (int i = 0; i < 6; ++i) EXPECT_EQ(answers[i].get(), "secret of item" + std::to_string(i));
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(2500));
  EXPECT_EQ(slowAnswer.get(), "slow");
}

TEST_F(CredentialSourceTest, ReadsOnlySmallRegularFiles) {
  const size_t limit = SecurityCLICredentialSource::maxSecretBytes;
  const std::string binary("{\"a\":1}\0\xff\n", 10);
  writeFile(dir_ / "auth.json", binary);
  writeFile(dir_ / "empty.json", "");
  writeFile(dir_ / "at-limit", std::string(limit, 'a'));
  writeFile(dir_ / "over-limit", std::string(limit + 1, 'a'));
  writeFile(dir_ / "plain-file", "x");
  fs::create_directories(dir_ / "folder");
  fs::create_symlink(dir_ / "auth.json", dir_ / "link.json");
  fs::create_symlink(dir_ / "nowhere", dir_ / "dangling.json");
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);

  struct Case {
    fs::path path;
    Outcome expected;
  };
  const Case cases[] = {
      {dir_ / "auth.json", binary},
      {dir_ / "link.json", binary},
      {dir_ / "empty.json", std::string()},
      {dir_ / "at-limit", std::string(limit, 'a')},
      {dir_ / "over-limit", Kind::denied},
      {dir_ / "missing.json", Kind::notFound},
      {dir_ / "missing-folder" / "auth.json", Kind::notFound},
      {dir_ / "plain-file" / "auth.json", Kind::notFound},
      {dir_ / "dangling.json", Kind::notFound},
      {fs::path(), Kind::notFound},
      {dir_ / "folder", Kind::denied},
      {dir_ / "fifo", Kind::denied},  // must not wait for a writer
      {"/dev/zero", Kind::denied},    // must not read without end
  };
  SecurityCLICredentialSource source;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    const Outcome outcome = outcomeOf([&] { return source.file(c.path); });
    EXPECT_EQ(outcome, c.expected) << "got " << describe(outcome);
  }
}

TEST_F(CredentialSourceTest, AFileWithoutReadPermissionIsDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop reads";
  writeFile(dir_ / "locked.json", "{}");
  fs::permissions(dir_ / "locked.json", fs::perms::none);
  SecurityCLICredentialSource source;
  EXPECT_EQ(outcomeOf([&] { return source.file(dir_ / "locked.json"); }), Outcome(Kind::denied));
}

TEST(CredentialError, IsEqualByItsKind) {
  EXPECT_EQ(CredentialError(Kind::denied), CredentialError(Kind::denied));
  EXPECT_FALSE(CredentialError(Kind::denied) == CredentialError(Kind::notFound));
  EXPECT_STRNE(CredentialError(Kind::malformed).what(), CredentialError(Kind::notFound).what());
}

}  // namespace
}  // namespace tokvane
