#pragma once

#include <filesystem>
#include <string>

namespace tokvane::widgets {

// The program's own login entry: present while widgets are placed, so they
// come back after the next login; removed when the last one goes.
namespace Autostart {

inline constexpr const char* entryName = "app.tokvane.TokvaneWidgets.desktop";

// $XDG_CONFIG_HOME/autostart/app.tokvane.TokvaneWidgets.desktop.
std::filesystem::path entryPath();

// The entry's text, starting `program` (an absolute path).
std::string entryText(const std::string& program);

// Writes the entry (atomically, only when its text differs) when `wanted`,
// removes it otherwise. Returns false and leaves things as they were on a
// file system error.
bool sync(const std::filesystem::path& path, bool wanted, const std::string& program);

}  // namespace Autostart

}  // namespace tokvane::widgets
