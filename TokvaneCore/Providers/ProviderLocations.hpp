#pragma once

#include <array>
#include <filesystem>
#include <vector>

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

  // Each tool's own folder.
  std::filesystem::path claudeHome() const { return home_ / ".claude"; }
  std::filesystem::path codexHome() const { return home_ / ".codex"; }
  std::filesystem::path grokHome() const { return home_ / ".grok"; }

  std::filesystem::path claudeProjects() const { return claudeHome() / "projects"; }
  // The live sessions first, then the archived ones.
  std::array<std::filesystem::path, 2> codexSessions() const {
    return {codexHome() / "sessions", codexHome() / "archived_sessions"};
  }
  std::filesystem::path grokSessions() const { return grokHome() / "sessions"; }

  // Every folder of session logs, with the tool that writes it: Claude's
  // projects, Codex's live and archived sessions, Grok's sessions, in that
  // order. The indexer reads these and the watcher watches them.
  struct LogRoot {
    ProviderID provider;
    std::filesystem::path folder;
    friend bool operator==(const LogRoot&, const LogRoot&) = default;
  };
  std::vector<LogRoot> logRoots() const;
  std::filesystem::path cursorStateDB() const {
    return home_ / ".config" / "Cursor" / "User" / "globalStorage" / "state.vscdb";
  }
  std::filesystem::path codexAuthFile() const { return codexHome() / "auth.json"; }

  // Whether the tool's files exist right now (a file or a folder both count).
  // Codex counts when its live sessions folder or its login file exists.
  bool isPresent(ProviderID provider) const;

  friend bool operator==(const ProviderLocations&, const ProviderLocations&) = default;

 private:
  std::filesystem::path home_;
};

}  // namespace tokvane
