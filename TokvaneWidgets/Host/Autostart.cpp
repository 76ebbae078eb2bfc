#include "TokvaneWidgets/Host/Autostart.hpp"

#include <fstream>
#include <sstream>
#include <system_error>

#include "TokvaneCore/Foundation/AtomicFile.hpp"
#include "TokvaneCore/Foundation/XDGPaths.hpp"

namespace tokvane::widgets::Autostart {

namespace {

// Quotes an Exec argument as the desktop entry rules ask when it needs it.
std::string quoted(const std::string& argument) {
  if (argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos) return argument;
  std::string text = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') text += '\\';
    text += c;
  }
  return text + "\"";
}

}  // namespace

std::filesystem::path entryPath() { return XDGPaths::configHome() / "autostart" / entryName; }

std::string entryText(const std::string& program) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Tokvane Widgets\n"
         "Comment=Tokvane's limits and costs on the desktop\n"
         "Exec=" + quoted(program) + "\n"
         "Terminal=false\n"
         "NoDisplay=true\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool sync(const std::filesystem::path& path, bool wanted, const std::string& program) {
  std::error_code error;
  if (!wanted) {
    std::filesystem::remove(path, error);
    return !error;
  }
  const std::string text = entryText(program);
  {
    std::ifstream existing(path, std::ios::binary);
    if (existing) {
      std::ostringstream current;
      current << existing.rdbuf();
      if (current.str() == text) return true;
    }
  }
  try {
    AtomicFile::write(path, text);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

}  // namespace tokvane::widgets::Autostart
