#pragma once

#include <filesystem>
#include <string_view>

namespace tokvane::AtomicFile {

// Writes `bytes` to `path` so that a reader sees either the old file or the
// new one, never a part: a temporary file in the same folder, fsync, rename,
// then fsync of the folder. Creates missing parent folders. Throws
// std::system_error on failure, leaving the old file as it was.
void write(const std::filesystem::path& path, std::string_view bytes);

}  // namespace tokvane::AtomicFile
