#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace tokvane {

// The one error of the ledger: the result code of the failing SQLite call
// (0 when opening reported success without a handle) and its message, which
// is SQLite's own text, "closed" when the store holds no connection, or
// "open failed" when opening gave no handle.
struct UsageStoreError : std::exception {
  int32_t code = 0;
  std::string message;

  UsageStoreError(int32_t code, std::string message);

  // The default text form, as written to the system log:
  // sqlite(code: 14, message: "unable to open database file")
  const char* what() const noexcept override { return text_.c_str(); }

  friend bool operator==(const UsageStoreError& a, const UsageStoreError& b) {
    return a.code == b.code && a.message == b.message;
  }

 private:
  std::string text_;
};

}  // namespace tokvane
