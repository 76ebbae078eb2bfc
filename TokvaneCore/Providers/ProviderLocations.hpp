#pragma once

#include <array>
#include <filesystem>

#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// Where each tool keeps the files the system reads, under one home folder.
// Every location is derived on request; nothing is cached.
class ProviderLocations {
 public:
  explicit ProviderLocations(std::filesystem::path home) : home_(std::move(home)) {}

  // The current user's home ($HOME, else the password database), made once.
  static const ProviderLocations& live();

  const std::filesystem::path& home() const { return home_; }

  std::filesystem::path claudeProjects() const { return home_ / ".claude" / "projects"; }
  // The live sessions first, then the archived ones.
  std::array<std::filesystem::path, 2> codexSessions() const {
    return {home_ / ".codex" / "sessions", home_ / ".codex" / "archived_sessions"};
  }
  std::filesystem::path grokSessions() const { return home_ / ".grok" / "sessions"; }
  std::filesystem::path cursorStateDB() const {
    return home_ / ".config" / "Cursor" / "User" / "globalStorage" / "state.vscdb";
  }
  std::filesystem::path codexAuthFile() const { return home_ / ".codex" / "auth.json"; }

  // Whether the tool's files exist right now (a file or a folder both count).
  // Codex counts when its live sessions folder or its login file exists.
  bool isPresent(ProviderID provider) const;

  friend bool operator==(const ProviderLocations&, const ProviderLocations&) = default;

 private:
  std::filesystem::path home_;
};

}  // namespace tokvane
