#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "platform/linux/JSONFileUserDefaults.hpp"
#include "platform/linux/LinuxEnv.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;
namespace fs = std::filesystem;

TEST(MainLoop, RunsPostedWorkInOrderOnTheLoopThread) {
  MainLoop loop;
  std::vector<int> order;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) loop.post([&, i] { order.push_back(i); });
  });
  poster.join();
  ASSERT_TRUE(loop.runUntil([&] { return order.size() == 100; }, 2s));
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
  EXPECT_TRUE(loop.isLoopThread());
}

TEST(LinuxEnv, TimersFireInDueOrderAndCancelledOnesNever) {
  LinuxEnv env;
  std::vector<std::string> fired;
  env.scheduleOnMain(0.06, [&] { fired.push_back("late"); });
  env.scheduleOnMain(0.02, [&] { fired.push_back("early"); });
  auto cancelled = env.scheduleOnMain(0.04, [&] { fired.push_back("cancelled"); });
  cancelled->cancel();
  env.scheduleOnMain(-5, [&] { fired.push_back("negative runs at once"); });
  env.scheduleOnMain(std::nan(""), [&] { fired.push_back("nan runs at once"); });
  ASSERT_TRUE(env.mainLoop().runUntil([&] { return fired.size() == 4; }, 2s));
  EXPECT_EQ(fired[2], "early");
  EXPECT_EQ(fired[3], "late");
  env.mainLoop().runUntil([] { return false; }, 80ms);
  EXPECT_EQ(fired.size(), 4u);
}

TEST(LinuxEnv, BackgroundWorkRunsOffTheMainThread) {
  LinuxEnv env;
  std::atomic<bool> offMain{false};
  bool back = false;
  env.runInBackground([&] {
    offMain = !env.isMainThread();
    env.postToMain([&] { back = true; });
  });
  ASSERT_TRUE(env.mainLoop().runUntil([&] { return back; }, 2s));
  EXPECT_TRUE(offMain);
}

TEST(JSONFileUserDefaults, KeepsEveryTypeAcrossInstances) {
  TempDir dir;
  const auto file = dir / "app.tokvane" / "defaults.json";
  {
    JSONFileUserDefaults defaults(file);
    defaults.registerDefaults({{"registered", true}});
    defaults.set("flag", true);
    defaults.set("number", 0.25);
    defaults.set("text", std::string("provider"));
    defaults.set("list", std::vector<std::string>{"grok", "claude"});
    defaults.set("map", std::map<std::string, std::string>{{"claude", "weekly"}});
    defaults.set("date", Date{812345678.5});
  }
  JSONFileUserDefaults reopened(file);
  EXPECT_TRUE(reopened.boolValue("flag"));
  EXPECT_DOUBLE_EQ(reopened.doubleValue("number"), 0.25);
  EXPECT_EQ(reopened.stringValue("text"), "provider");
  EXPECT_EQ(std::get<std::vector<std::string>>(*reopened.object("list")), (std::vector<std::string>{"grok", "claude"}));
  EXPECT_EQ((std::get<std::map<std::string, std::string>>(*reopened.object("map"))).at("claude"), "weekly");
  EXPECT_EQ(reopened.dateValue("date"), Date{812345678.5});
  // Registered defaults answer in memory only.
  EXPECT_FALSE(reopened.object("registered").has_value());
  EXPECT_EQ(testing::readFile(file).find("registered"), std::string::npos);
}

TEST(JSONFileUserDefaults, ACorruptFileIsMovedAsideNotOverwritten) {
  TempDir dir;
  const auto file = dir / "defaults.json";
  testing::writeFile(file, "{not json");
  std::vector<std::string> lines;
  JSONFileUserDefaults defaults(file, [&](std::string_view line) { lines.emplace_back(line); });
  EXPECT_FALSE(defaults.object("anything"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Tokvane: reading the settings failed: ", 0), 0u);
  EXPECT_EQ(testing::readFile(dir / "defaults.json.corrupt"), "{not json");
  defaults.set("flag", false);
  EXPECT_EQ(testing::readFile(dir / "defaults.json.corrupt"), "{not json");
  EXPECT_FALSE(JSONFileUserDefaults(file).boolValue("flag"));
}

// One value that cannot be read (a number beyond range) costs only itself:
// every other setting is kept, the bad one reads as its default, and the
// system log says which it was.
TEST(JSONFileUserDefaults, AValueThatCannotBeReadFallsBackAloneAndTheRestIsKept) {
  TempDir dir;
  const auto file = dir / "defaults.json";
  testing::writeFile(file, R"({"warningThreshold": 1e309, "tintEnabled": false,
    "providerOrder": ["grok", "claude"], "menuBarWindows": {"claude": "weekly", "codex": -1e999},
    "pinnedProvider" : "codex" })");
  std::vector<std::string> lines;
  JSONFileUserDefaults defaults(file, [&](std::string_view line) { lines.emplace_back(line); });
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Tokvane: reading the setting \"warningThreshold\" failed; using its default",
                       "Tokvane: reading the setting \"menuBarWindows\" failed; using its default"}));
  EXPECT_FALSE(fs::exists(dir / "defaults.json.corrupt"));

  Preferences preferences(defaults);
  EXPECT_DOUBLE_EQ(preferences.warningThreshold(), 0.25);
  EXPECT_FALSE(preferences.tintEnabled());
  EXPECT_EQ(preferences.providerOrder(),
            (std::vector<ProviderID>{ProviderID::grok, ProviderID::claude, ProviderID::codex, ProviderID::cursor}));
  EXPECT_EQ(preferences.pinnedProvider(), ProviderID::codex);
  EXPECT_TRUE(preferences.menuBarWindows().empty());

  // The next write keeps what was read and drops what could not be.
  defaults.set("showDockIcon", true);
  const JSON written = JSON::parse(testing::readFile(file));
  EXPECT_FALSE(written.contains("warningThreshold"));
  EXPECT_EQ(written.at("tintEnabled"), false);
  EXPECT_EQ(written.at("pinnedProvider"), "codex");
}

TEST(JSONFileUserDefaults, AFileThatIsNoSoundObjectStillGoesAside) {
  for (const char* text : {R"({"a": 1e309, "b": true)", R"({"a": 1e309 "b": true})", R"([1e309])",
                           R"({"a": 1e309} trailing)", R"({1e309: true})", R"({"a": [1e309, })"}) {
    SCOPED_TRACE(text);
    TempDir dir;
    const auto file = dir / "defaults.json";
    testing::writeFile(file, text);
    std::vector<std::string> lines;
    JSONFileUserDefaults defaults(file, [&](std::string_view line) { lines.emplace_back(line); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Tokvane: reading the settings failed: ", 0), 0u);
    EXPECT_EQ(testing::readFile(dir / "defaults.json.corrupt"), text);
  }
}

TEST(JSONFileUserDefaults, EntriesOfUnknownShapeAreKeptButReadAsMissing) {
  TempDir dir;
  const auto file = dir / "defaults.json";
  testing::writeFile(file, R"({"menuBarWindows": {"claude": 3}, "providerOrder": ["grok", 1]})");
  JSONFileUserDefaults defaults(file);
  EXPECT_FALSE(defaults.object("menuBarWindows"));
  EXPECT_FALSE(defaults.object("providerOrder"));
  defaults.set("tintEnabled", true);
  const auto text = testing::readFile(file);
  EXPECT_NE(text.find("\"claude\": 3"), std::string::npos);
  EXPECT_NE(text.find("tintEnabled"), std::string::npos);
}

TEST(UserDefaults, TypedReadersConvertLikeTheSettingsStoreDoes) {
  InMemoryUserDefaults defaults;
  defaults.set("yes", std::string("YES"));
  defaults.set("one", 1.0);
  defaults.set("text", std::string("abc"));
  defaults.set("numericText", std::string("0.5"));
  EXPECT_TRUE(defaults.boolValue("yes"));
  EXPECT_TRUE(defaults.boolValue("one"));
  EXPECT_FALSE(defaults.boolValue("missing"));
  EXPECT_DOUBLE_EQ(defaults.doubleValue("text"), 0);
  EXPECT_DOUBLE_EQ(defaults.doubleValue("numericText"), 0.5);
  EXPECT_FALSE(defaults.stringValue("one"));
  EXPECT_EQ(defaults.writes(), 4);
}

}  // namespace
}  // namespace tokvane
