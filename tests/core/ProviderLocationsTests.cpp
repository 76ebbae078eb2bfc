#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "TokvaneCore/Providers/ProviderLocations.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;

TEST(ProviderLocations, DerivesEveryLocationFromTheHomeFolder) {
  const ProviderLocations locations("/home/dev");
  EXPECT_EQ(locations.claudeProjects(), fs::path("/home/dev/.claude/projects"));
  EXPECT_EQ(locations.codexSessions()[0], fs::path("/home/dev/.codex/sessions"));
  EXPECT_EQ(locations.codexSessions()[1], fs::path("/home/dev/.codex/archived_sessions"));
  EXPECT_EQ(locations.grokSessions(), fs::path("/home/dev/.grok/sessions"));
  EXPECT_EQ(locations.cursorStateDB(), fs::path("/home/dev/.config/Cursor/User/globalStorage/state.vscdb"));
  EXPECT_EQ(locations.codexHome(), fs::path("/home/dev/.codex"));
  EXPECT_EQ(locations.grokHome(), fs::path("/home/dev/.grok"));
  using Root = ProviderLocations::LogRoot;
  EXPECT_EQ(locations.logRoots(), (std::vector<Root>{{ProviderID::claude, "/home/dev/.claude/projects"},
                                                     {ProviderID::codex, "/home/dev/.codex/sessions"},
                                                     {ProviderID::codex, "/home/dev/.codex/archived_sessions"},
                                                     {ProviderID::grok, "/home/dev/.grok/sessions"}}));
}

TEST(ProviderLocations, AToolIsPresentWhenItsFilesExistNow) {
  struct Case {
    const char* what;
    std::vector<std::string> folders;
    std::vector<std::string> files;
    std::vector<ProviderID> present;
  };
  const Case cases[] = {
      {"nothing", {}, {}, {}},
      {"every tool",
       {".claude/projects", ".codex/sessions", ".grok/sessions"},
       {".config/Cursor/User/globalStorage/state.vscdb"},
       {ProviderID::claude, ProviderID::codex, ProviderID::grok, ProviderID::cursor}},
      {"a file where Claude's folder should be", {}, {".claude/projects"}, {ProviderID::claude}},
      {"Claude's folder but no projects", {".claude"}, {}, {}},
      {"only archived Codex sessions", {".codex/archived_sessions"}, {}, {}},
      {"only the Codex login", {}, {".codex/auth.json"}, {ProviderID::codex}},
      {"a Grok folder without sessions", {".grok"}, {".grok/settings.json"}, {}},
      {"Cursor's folder without its database", {".config/Cursor/User/globalStorage"}, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir home;
    for (const auto& folder : c.folders) fs::create_directories(home / folder);
    for (const auto& file : c.files) writeFile(home / file, "x");
    const ProviderLocations locations(home.path());
    for (const ProviderID provider : allProviders) {
      const bool expected = std::find(c.present.begin(), c.present.end(), provider) != c.present.end();
      EXPECT_EQ(locations.isPresent(provider), expected) << rawValue(provider);
    }
  }
}

TEST(ProviderLocations, PresenceIsAskedAtEachCall) {
  TempDir home;
  const ProviderLocations locations(home.path());
  EXPECT_FALSE(locations.isPresent(ProviderID::grok));
  fs::create_directories(home / ".grok/sessions");
  EXPECT_TRUE(locations.isPresent(ProviderID::grok));
  fs::remove(home / ".grok/sessions");
  EXPECT_FALSE(locations.isPresent(ProviderID::grok));
}

TEST(ProviderLocations, TheLiveLocationsAreTheUsersHome) {
  const ProviderLocations& live = ProviderLocations::live();
  EXPECT_EQ(&live, &ProviderLocations::live());
  if (const char* home = std::getenv("HOME"); home && *home) {
    EXPECT_EQ(live.home(), fs::path(home));
  } else {
    EXPECT_FALSE(live.home().empty());
  }
}

}  // namespace
}  // namespace tokvane
