#pragma once

#include <exception>
#include <string>

namespace tokvane {

// The text a log line gives for a failure: the exception's own description.
inline std::string errorText(std::exception_ptr error) {
  try {
    std::rethrow_exception(std::move(error));
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

}  // namespace tokvane
