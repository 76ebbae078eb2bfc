#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tokvane::JSONStrings {

// A JavaScript program that cuts a text inside a surrogate pair writes a
// lone surrogate escape ("\ud83d"): valid JSON, but no Unicode text, so a
// strict parser rejects the whole line. Invalid UTF-8 bytes inside a string
// are rejected the same way. One cut text must not hide the rest of a line:
// this rewrites every lone surrogate escape inside a string as "\ufffd" and
// every byte that is not part of a valid UTF-8 sequence as U+FFFD, leaving
// everything else as it was. Returns none when nothing needed rewriting.
std::optional<std::string> withInvalidTextReplaced(std::string_view json);

}  // namespace tokvane::JSONStrings
