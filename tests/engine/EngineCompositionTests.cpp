#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Tokvane/Engine/Model/EngineComposition.hpp"
#include "tests/engine/support/FakeEnv.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/UnprivilegedUser.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakeEnv;
using testing::readFile;
using testing::TempDir;
using testing::asUnprivilegedUser;
using testing::writeFile;

ProviderLimits marker() {
  ProviderLimits limits;
  limits.plan = "marker";
  limits.status = ProviderStatus::ok;
  limits.fetchedAt = Date::fromUnix(1767225600);
  return limits;
}

std::string fallbackLine(const std::string& error) {
  return "Tokvane: opening the usage store failed (" + error + "); using a temporary one";
}

TEST(OpenUsageStore, OpensTheLedgerInItsFolderCreatingTheFolders) {
  FakeEnv env;
  TempDir dir;
  const fs::path dataHome = dir / "deep" / "share";

  auto store = openUsageStore(env, dataHome);
  ASSERT_TRUE(store);
  store->setLimits(marker(), ProviderID::claude);
  store.reset();

  EXPECT_THAT(env.logLines(), IsEmpty());
  const fs::path ledger = dataHome / "Tokvane" / "usage.sqlite";
  ASSERT_TRUE(fs::is_regular_file(ledger));
  // The same file again: what went in is there.
  auto again = openUsageStore(env, dataHome);
  EXPECT_EQ(again->limits(ProviderID::claude), marker());
  EXPECT_THAT(env.logLines(), IsEmpty());
}

TEST(OpenUsageStore, FallsBackToATemporaryLedgerAndLeavesTheFileAlone) {
  struct Case {
    const char* name;
    // Lays out the data folder; returns the file to keep unchanged, if any.
    std::function<std::optional<fs::path>(const fs::path& dataHome)> layOut;
    // The error text; empty: the text of the failing folder creation.
    std::string error;
    bool unprivileged = false;
  };
  const Case cases[] = {
      {"the folder cannot be created",
       [](const fs::path& dataHome) -> std::optional<fs::path> {
         writeFile(dataHome / "Tokvane", "a file where the folder goes");
         return dataHome / "Tokvane";
       },
       ""},
      {"the file is not a database",
       [](const fs::path& dataHome) -> std::optional<fs::path> {
         writeFile(dataHome / "Tokvane" / "usage.sqlite", "just some notes, not a ledger\n");
         return dataHome / "Tokvane" / "usage.sqlite";
       },
       "sqlite(code: 26, message: \"file is not a database\")"},
      {"the file is read-only",
       [](const fs::path& dataHome) -> std::optional<fs::path> {
         const fs::path ledger = dataHome / "Tokvane" / "usage.sqlite";
         fs::create_directories(ledger.parent_path());
         { UsageStore store(ledger); store.setLimits(marker(), ProviderID::codex); }
         fs::permissions(dataHome.parent_path(), fs::perms::all, fs::perm_options::add);
         fs::permissions(dataHome, fs::perms::all, fs::perm_options::add);
         fs::permissions(ledger.parent_path(), fs::perms::all, fs::perm_options::add);
         fs::permissions(ledger, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         return ledger;
       },
       "sqlite(code: 8, message: \"attempt to write a readonly database\")", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    TempDir dir;
    const fs::path dataHome = dir / "share";
    fs::create_directories(dataHome);
    const auto kept = c.layOut(dataHome);
    const std::string bytes = kept ? readFile(*kept) : "";
    std::string error = c.error;
    if (error.empty()) {
      try {
        fs::create_directories(dataHome / "Tokvane");
      } catch (const fs::filesystem_error& e) {
        error = e.what();
      }
    }
    ASSERT_FALSE(error.empty());

    std::shared_ptr<UsageStore> store;
    auto open = [&] {
      store = openUsageStore(env, dataHome);
      // The temporary ledger works.
      store->setLimits(marker(), ProviderID::grok);
      EXPECT_EQ(store->limits(ProviderID::grok), marker());
    };
    if (c.unprivileged) {
      asUnprivilegedUser(open);
    } else {
      open();
    }
    ASSERT_TRUE(store);
    store.reset();

    EXPECT_THAT(env.logLines(), ElementsAre(fallbackLine(error)));
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(readFile(*kept), bytes);
    EXPECT_FALSE(fs::exists(kept->string() + "-wal"));
    EXPECT_FALSE(fs::exists(kept->string() + "-journal"));
  }
}

TEST(OpenUsageStore, RelativeDataFolderIsRefused) {
  FakeEnv env;
  auto store = openUsageStore(env, "relative/share");
  ASSERT_TRUE(store);
  EXPECT_FALSE(fs::exists("relative"));
  ASSERT_EQ(env.logLines().size(), 1u);
  EXPECT_THAT(env.logLines()[0], ::testing::StartsWith("Tokvane: opening the usage store failed ("));
  EXPECT_THAT(env.logLines()[0], ::testing::EndsWith("); using a temporary one"));
}

}  // namespace
}  // namespace tokvane
