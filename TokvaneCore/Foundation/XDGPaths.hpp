#pragma once

#include <filesystem>

namespace tokvane::XDGPaths {

// The user's home folder: $HOME, else the password database's entry.
std::filesystem::path home();
// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
std::filesystem::path dataHome();
// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::filesystem::path configHome();

}  // namespace tokvane::XDGPaths
