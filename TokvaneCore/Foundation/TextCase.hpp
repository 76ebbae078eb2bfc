#pragma once

#include <string>
#include <string_view>

namespace tokvane {

// The text with its first character upper-cased and the rest unchanged, as
// plan names are shown ("plus" -> "Plus", "pro_max" -> "Pro_max"). Only an
// ASCII letter is changed; a first character outside ASCII stays as it is,
// so a multi-byte UTF-8 sequence is never split.
std::string capitalizingFirstLetter(std::string_view text);

}  // namespace tokvane
