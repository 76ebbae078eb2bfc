#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "TokvaneCore/Credentials/CredentialSource.hpp"

namespace tokvane {

// Reads Keychain-style secrets by running a `security`-compatible tool
// ("find-generic-password -s SERVICE -w") as a child process, and reads
// files whole. Every failure becomes one CredentialError case.
// Immutable; each call runs on the caller's thread and may be made from
// several threads at once.
class SecurityCLICredentialSource final : public CredentialSource {
 public:
  static constexpr double defaultTimeout = 30;
  // Larger login files, and larger tool output, are refused (denied).
  static constexpr size_t maxSecretBytes = 1024 * 1024;
  // The tool's exit status for an item that does not exist.
  static constexpr int itemNotFoundStatus = 44;

  // The `tokvane-security` program installed beside the running program.
  static std::filesystem::path defaultExecutable();

  explicit SecurityCLICredentialSource(std::filesystem::path executable = defaultExecutable(),
                                       double timeout = defaultTimeout);

  const std::filesystem::path& executable() const { return executable_; }
  double timeout() const { return timeout_; }

  // Runs the tool with the arguments "find-generic-password", "-s", service,
  // "-w" (each its own argument, never through a shell), with /dev/null as
  // its input and error output, under one deadline of `timeout` seconds.
  // Exit 0 gives the output without its trailing CR/LF characters; exit 44
  // is notFound; a launch failure, a deadline passed (the tool is killed), a
  // signal or any other status is denied; output that is not UTF-8 is malformed.
  std::string keychainSecret(const std::string& service) override;

  // Reads a regular file of at most maxSecretBytes. A missing file (or a
  // missing folder on its way) is notFound; anything else that fails, or
  // that is not a regular file, is denied. Never blocks on a FIFO or device.
  std::string file(const std::filesystem::path& path) override;

 private:
  std::filesystem::path executable_;
  double timeout_;
};

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool isValidUTF8(std::string_view bytes);

}  // namespace tokvane
