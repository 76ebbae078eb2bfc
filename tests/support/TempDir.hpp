#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tokvane::testing {

// A fresh directory under the system's temporary folder, removed with its
// contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Writes (replacing) or appends bytes to a file, creating parent folders.
void writeFile(const std::filesystem::path& path, std::string_view bytes);
void appendFile(const std::filesystem::path& path, std::string_view bytes);
std::string readFile(const std::filesystem::path& path);

}  // namespace tokvane::testing
