// The placed widgets' file: what survives damage and unknown values, and
// the round trip; and where a new widget goes.

#include <gtest/gtest.h>

#include "TokvaneWidgets/Host/InstanceFile.hpp"
#include "TokvaneWidgets/Host/Placement.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane::widgets {
namespace {

struct DamagedCase {
  const char* name;
  const char* text;
};

class DamagedInstanceFile : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedInstanceFile, MeansNoWidgetsAndSaysWhy) {
  const auto result = InstanceFile::parse(GetParam().text);
  EXPECT_TRUE(result.damaged);
  EXPECT_TRUE(result.instances.empty());
  EXPECT_FALSE(result.problems.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Widgets, DamagedInstanceFile,
    ::testing::Values(DamagedCase{"Empty", ""}, DamagedCase{"Truncated", R"({"widgets": [{"kind": "app.tok)"},
                      DamagedCase{"NotAnObject", "[1, 2]"}, DamagedCase{"NoList", R"({"widget": []})"},
                      DamagedCase{"ListNotArray", R"({"widgets": {}})"},
                      DamagedCase{"EntryNotObject", R"({"widgets": [{"kind": "app.tokvane.small", "x": 1, "y": 2}, 7]})"},
                      DamagedCase{"KindNotText", R"({"widgets": [{"kind": 3, "x": 1, "y": 2}]})"},
                      DamagedCase{"NoPosition", R"({"widgets": [{"kind": "app.tokvane.small"}]})"},
                      DamagedCase{"PositionText", R"({"widgets": [{"kind": "app.tokvane.small", "x": "1", "y": 2}]})"},
                      DamagedCase{"PositionFraction", R"({"widgets": [{"kind": "app.tokvane.small", "x": 1.5, "y": 2}]})"},
                      DamagedCase{"PositionHuge", R"({"widgets": [{"kind": "app.tokvane.small", "x": 1e300, "y": 2}]})"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InstanceFile, UnknownValuesLoseOnlyThemselves) {
  const auto result = InstanceFile::parse(R"({"widgets": [
    {"kind": "app.tokvane.huge", "x": 1, "y": 2},
    {"kind": "app.tokvane.small", "x": 10, "y": -20, "provider": "gemini"},
    {"kind": "app.tokvane.small", "x": 30, "y": 40, "provider": 4},
    {"kind": "app.tokvane.small", "x": 50, "y": 60},
    {"kind": "app.tokvane.large", "x": 70, "y": 80, "provider": "codex", "colour": "blue"}
  ], "version": 9})");
  EXPECT_FALSE(result.damaged);
  EXPECT_EQ(result.instances, (std::vector<WidgetInstance>{{WidgetKind::small, 10, -20, ProviderID::claude},
                                                           {WidgetKind::small, 30, 40, ProviderID::claude},
                                                           {WidgetKind::small, 50, 60, ProviderID::claude},
                                                           {WidgetKind::large, 70, 80, ProviderID::codex}}));
  EXPECT_EQ(result.problems.size(), 3u);  // the unknown kind and the two unknown providers
}

TEST(InstanceFile, RoundTripThroughTheDisk) {
  testing::TempDir dir;
  const auto path = dir / "config" / "widgets.json";
  const std::vector<WidgetInstance> instances = {{WidgetKind::small, 1090, 40, ProviderID::cursor},
                                                 {WidgetKind::medium, 700, 40, ProviderID::claude},
                                                 {WidgetKind::large, -300, 2000, ProviderID::claude}};
  InstanceFile::write(path, instances);
  const auto result = InstanceFile::read(path);
  EXPECT_FALSE(result.damaged);
  EXPECT_TRUE(result.problems.empty());
  EXPECT_EQ(result.instances, instances);
  InstanceFile::write(path, {});
  EXPECT_TRUE(InstanceFile::read(path).instances.empty());
}

TEST(InstanceFile, MissingFileIsNoWidgetsAndNoProblem) {
  testing::TempDir dir;
  EXPECT_EQ(InstanceFile::read(dir / "absent.json"), InstanceFile::ReadResult{});
  // A folder where the file should be is damage, not a crash.
  std::filesystem::create_directories(dir / "folder.json");
  EXPECT_TRUE(InstanceFile::read(dir / "folder.json").damaged);
}

TEST(Placement, FirstFreeSpotFromTheTopRight) {
  const QRect area(0, 0, 1280, 800);
  const QSize small(170, 170);
  EXPECT_EQ(placeNewWidget({}, area, small), QPoint(1280 - 16 - 170, 16));
  const QRect first(QPoint(1280 - 16 - 170, 16), small);
  EXPECT_EQ(placeNewWidget({first}, area, small), QPoint(1280 - 16 - 170, 16 + 170 + 16));
  // A spot that would overlap a widget someone dragged is skipped.
  const QRect dragged(QPoint(1000, 200), small);
  const QPoint placed = placeNewWidget({first, dragged}, area, small);
  EXPECT_FALSE(QRect(placed, small).intersects(first));
  EXPECT_FALSE(QRect(placed, small).intersects(dragged));
  // A full screen falls back to the first spot.
  EXPECT_EQ(placeNewWidget({area}, area, small), QPoint(1280 - 16 - 170, 16));
}

}  // namespace
}  // namespace tokvane::widgets
