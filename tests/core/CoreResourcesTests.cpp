#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "TokvaneCore/Foundation/CoreResources.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;

// The resource folder of the source tree this test was built from.
fs::path resourceFolder() {
  return fs::path(__FILE__).parent_path().parent_path().parent_path() / "TokvaneCore" / "Resources";
}

TEST(CoreResources, CarriesThePriceList) {
  const auto prices = CoreResources::data("prices.json");
  ASSERT_TRUE(prices.has_value());
  const auto json = nlohmann::json::parse(*prices, nullptr, /*allow_exceptions=*/false);
  ASSERT_FALSE(json.is_discarded());
  ASSERT_TRUE(json.contains("models"));
  EXPECT_TRUE(json["models"].is_object());
}

TEST(CoreResources, EmbedsEveryFileUnderResourcesByteForByte) {
  const fs::path folder = resourceFolder();
  ASSERT_TRUE(fs::is_directory(folder)) << folder;
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().lexically_relative(folder).generic_string();
    if (name.front() == '.' || name.find("/.") != std::string::npos) continue;  // hidden files are not resources
    ++files;
    const auto embedded = CoreResources::data(name);
    ASSERT_TRUE(embedded.has_value()) << name;
    EXPECT_TRUE(*embedded == testing::readFile(entry.path())) << name << " differs from its source file";
  }
  EXPECT_GT(files, 0);
}

TEST(CoreResources, UnknownNamesHaveNoData) {
  for (const char* name : {"", "missing.json", "Prices.json", "prices.json ", "/prices.json", "./prices.json", "prices",
                           "Logos", "Logos/", "../Resources/prices.json"}) {
    EXPECT_FALSE(CoreResources::data(name).has_value()) << '"' << name << '"';
  }
}

}  // namespace
}  // namespace tokvane
