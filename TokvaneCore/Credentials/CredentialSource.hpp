#pragma once

#include <filesystem>
#include <string>

#include "TokvaneCore/Credentials/CredentialError.hpp"

namespace tokvane {

// How the limits providers read the logins that the tools stored. Calls may
// block (a child process, a file read); callers run them off the main thread.
class CredentialSource {
 public:
  virtual ~CredentialSource() = default;

  // The secret of the generic password item of `service`. Throws CredentialError.
  virtual std::string keychainSecret(const std::string& service) = 0;

  // The bytes of a file. Throws CredentialError.
  virtual std::string file(const std::filesystem::path& path) = 0;
};

}  // namespace tokvane
