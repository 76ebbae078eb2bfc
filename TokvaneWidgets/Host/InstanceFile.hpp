#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "TokvaneWidgets/Host/WidgetInstance.hpp"

namespace tokvane::widgets {

// The file that keeps the placed widgets between runs, next to the
// application's settings:
//
//   {"widgets": [{"kind": "app.tokvane.small", "x": 1090, "y": 40, "provider": "codex"},
//                {"kind": "app.tokvane.large", "x": 900, "y": 230}]}
//
// A file that is not that shape (not JSON, no "widgets" list, an entry that
// is not an object or whose kind is not a text or whose position is not a
// pair of whole numbers) is damaged: it yields no widgets at all. Values
// that are well formed but unknown lose only themselves: an entry of an
// unknown kind is skipped, an unknown provider reads as claude; each is
// reported as a problem.
namespace InstanceFile {

inline constexpr std::string_view fileName = "widgets.json";

struct ReadResult {
  std::vector<WidgetInstance> instances;
  bool damaged = false;
  std::vector<std::string> problems;  // why it is damaged, or what was skipped

  friend bool operator==(const ReadResult&, const ReadResult&) = default;
};

ReadResult parse(std::string_view text);
std::string serialize(const std::vector<WidgetInstance>& instances);

// $XDG_CONFIG_HOME/app.tokvane/widgets.json, beside the settings file.
std::filesystem::path defaultPath();

// A missing file is no widgets and no problem; an unreadable one is damaged.
ReadResult read(const std::filesystem::path& path);
// Replaces the file atomically (creating its folder). Throws std::system_error.
void write(const std::filesystem::path& path, const std::vector<WidgetInstance>& instances);

}  // namespace InstanceFile

}  // namespace tokvane::widgets
