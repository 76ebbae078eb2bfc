#pragma once

#include <exception>

namespace tokvane {

// Why a stored login could not be read. Nothing of the underlying failure
// (message, exit status, errno) is carried.
class CredentialError : public std::exception {
 public:
  enum class Kind {
    notFound,   // no such Keychain item or file
    denied,     // reading was refused or failed for another reason
    malformed,  // the secret was read but is not UTF-8 text
  };

  explicit CredentialError(Kind kind) noexcept : kind_(kind) {}

  Kind kind() const noexcept { return kind_; }

  const char* what() const noexcept override {
    switch (kind_) {
      case Kind::notFound: return "the credential was not found";
      case Kind::denied: return "reading the credential was denied";
      case Kind::malformed: return "the credential is not UTF-8 text";
    }
    return "credential error";
  }

  friend bool operator==(const CredentialError& a, const CredentialError& b) noexcept { return a.kind_ == b.kind_; }

 private:
  Kind kind_;
};

}  // namespace tokvane
