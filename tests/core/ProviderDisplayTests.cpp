#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "TokvaneCore/Foundation/CoreResources.hpp"
#include "TokvaneCore/Presentation/ProviderDisplay.hpp"

namespace tokvane {
namespace {

TEST(ProviderDisplay, LogoResourceNames) {
  struct Case {
    ProviderID id;
    const char* name;
    const char* path;
  };
  for (const Case& c : std::vector<Case>{{ProviderID::claude, "claude", "Logos/claude.svg"},
                                         {ProviderID::codex, "openai", "Logos/openai.svg"},
                                         {ProviderID::grok, "grok", "Logos/grok.svg"},
                                         {ProviderID::cursor, "cursor", "Logos/cursor.svg"}}) {
    EXPECT_EQ(logoResourceName(c.id), c.name);
    EXPECT_EQ(logoResourcePath(c.id), c.path);
  }
}

TEST(ProviderDisplay, EveryLogoLoadsAsASingleColourSVG) {
  for (ProviderID id : allProviders) {
    SCOPED_TRACE(std::string(rawValue(id)));
    const std::string_view svg = logo(id);
    ASSERT_FALSE(svg.empty());
    EXPECT_EQ(svg, CoreResources::data(logoResourcePath(id)).value_or(""));
    EXPECT_EQ(svg.substr(0, 4), "<svg");
    EXPECT_NE(svg.find(R"(viewBox="0 0 24 24")"), std::string_view::npos);
    EXPECT_NE(svg.find("</svg>"), std::string_view::npos);
    // Drawn as a template image: one colour only, so the tint decides.
    EXPECT_EQ(svg.find("#fff"), std::string_view::npos);
    EXPECT_EQ(svg.find("gradient"), std::string_view::npos);
    EXPECT_EQ(svg.find("<image"), std::string_view::npos);
    EXPECT_EQ(logo(id).data(), svg.data()) << "served from the cache";
  }
  EXPECT_NE(logo(ProviderID::claude), logo(ProviderID::codex));
}

TEST(ProviderDisplay, AppSymbolAndAccents) {
  EXPECT_EQ(appSymbolName, "gauge.with.dots.needle.67percent");
  const AccentColor clay = accent(ProviderID::claude);
  EXPECT_EQ(clay.role, AccentColor::Role::rgb);
  EXPECT_EQ(clay.red, 217.0 / 255.0);
  EXPECT_EQ(clay.green, 119.0 / 255.0);
  EXPECT_EQ(clay.blue, 87.0 / 255.0);
  EXPECT_DOUBLE_EQ(clay.red, 0.8509803921568627);
  EXPECT_DOUBLE_EQ(clay.green, 0.4666666666666667);
  EXPECT_DOUBLE_EQ(clay.blue, 0.3411764705882353);
  EXPECT_EQ(clay.opacity, 1);
  EXPECT_EQ(accent(ProviderID::codex).role, AccentColor::Role::primary);
  EXPECT_EQ(accent(ProviderID::grok).role, AccentColor::Role::secondary);
  EXPECT_EQ(accent(ProviderID::cursor).role, AccentColor::Role::secondary);
}

// A loader over a fixed set of resources that counts its calls.
struct FakeResources {
  std::map<std::string, std::string, std::less<>> files;
  std::atomic<int> calls{0};

  LogoCache::Loader loader() {
    return [this](std::string_view path) -> std::optional<std::string_view> {
      ++calls;
      const auto it = files.find(path);
      if (it == files.end()) return std::nullopt;
      return std::string_view(it->second);
    };
  }
};

TEST(LogoCache, LoadsAllLogosOnceAndKeepsOnlyThoseThatLoaded) {
  FakeResources resources;
  resources.files = {
      {"Logos/claude.svg", "<svg>c</svg>"},
      {"Logos/grok.svg", ""},                 // empty: does not load
      {"Logos/cursor.svg", "GIF89a"},         // not SVG: does not load
      {"Logos/codex.svg", "<svg>wrong name</svg>"},
  };
  const LogoCache cache(resources.loader());
  EXPECT_EQ(resources.calls, 0) << "nothing is read before the first request";

  EXPECT_EQ(cache.logo(ProviderID::grok), "");
  EXPECT_EQ(resources.calls, 4) << "the first request loads every logo";
  EXPECT_EQ(cache.logo(ProviderID::claude), "<svg>c</svg>");
  EXPECT_EQ(cache.logo(ProviderID::codex), "") << "Codex's logo is named openai";
  EXPECT_EQ(cache.logo(ProviderID::cursor), "");
  EXPECT_TRUE(cache.contains(ProviderID::claude));
  EXPECT_FALSE(cache.contains(ProviderID::cursor));

  // A missing logo is not retried, and the cache keeps its own copy.
  resources.files["Logos/openai.svg"] = "<svg>late</svg>";
  resources.files["Logos/claude.svg"] = "changed";
  EXPECT_EQ(cache.logo(ProviderID::codex), "");
  EXPECT_EQ(cache.logo(ProviderID::claude), "<svg>c</svg>");
  EXPECT_EQ(resources.calls, 4);
}

TEST(LogoCache, ConcurrentFirstRequestsLoadOnce) {
  FakeResources resources;
  resources.files = {{"Logos/claude.svg", "<svg/>"}, {"Logos/openai.svg", "<svg/>"},
                     {"Logos/grok.svg", "<svg/>"}, {"Logos/cursor.svg", "<svg/>"}};
  const LogoCache cache(resources.loader());
  std::vector<std::thread> threads;
  std::atomic<int> loaded{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      if (cache.logo(allProviders[static_cast<std::size_t>(t) % allProviders.size()]) == "<svg/>") ++loaded;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(loaded, 8);
  EXPECT_EQ(resources.calls, 4);
}

TEST(LogoCache, WithoutALoaderEveryLogoIsEmpty) {
  const LogoCache cache(nullptr);
  for (ProviderID id : allProviders) EXPECT_EQ(cache.logo(id), "");
}

}  // namespace
}  // namespace tokvane
