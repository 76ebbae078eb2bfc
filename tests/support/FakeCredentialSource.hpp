#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "TokvaneCore/Credentials/CredentialSource.hpp"

namespace tokvane::testing {

// A credential source with canned answers that records what was asked.
class FakeCredentialSource final : public CredentialSource {
 public:
  // A secret, a credential error, or any other exception to throw.
  using Answer = std::variant<std::string, CredentialError::Kind, std::runtime_error>;

  void setSecret(Answer answer) {
    std::lock_guard lock(mutex_);
    secret_ = std::move(answer);
  }
  // The answer for one file; files without one are notFound.
  void setFile(const std::filesystem::path& path, Answer answer) {
    std::lock_guard lock(mutex_);
    files_.insert_or_assign(path, std::move(answer));
  }

  std::vector<std::string> servicesAsked() const {
    std::lock_guard lock(mutex_);
    return services_;
  }
  std::vector<std::filesystem::path> filesAsked() const {
    std::lock_guard lock(mutex_);
    return paths_;
  }

  std::string keychainSecret(const std::string& service) override {
    Answer answer = std::string();
    {
      std::lock_guard lock(mutex_);
      services_.push_back(service);
      answer = secret_;
    }
    return give(answer);
  }

  std::string file(const std::filesystem::path& path) override {
    Answer answer = CredentialError::Kind::notFound;
    {
      std::lock_guard lock(mutex_);
      paths_.push_back(path);
      if (const auto it = files_.find(path); it != files_.end()) answer = it->second;
    }
    return give(answer);
  }

 private:
  static std::string give(const Answer& answer) {
    if (const auto* text = std::get_if<std::string>(&answer)) return *text;
    if (const auto* kind = std::get_if<CredentialError::Kind>(&answer)) throw CredentialError(*kind);
    throw std::get<std::runtime_error>(answer);
  }

  mutable std::mutex mutex_;
  Answer secret_ = CredentialError::Kind::notFound;
  std::map<std::filesystem::path, Answer> files_;
  std::vector<std::string> services_;
  std::vector<std::filesystem::path> paths_;
};

}  // namespace tokvane::testing
