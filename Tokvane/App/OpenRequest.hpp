#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tokvane {

// The address the widgets open the application with.
inline constexpr std::string_view openURLText = "tokvane://open";

// Whether the text is an address of the scheme "tokvane" with the host
// "open", compared exactly as written: parsers such as QUrl lower-case the
// scheme and the host, so the rule reads the raw text. Path, query and
// fragment are not looked at.
bool isOpenURL(std::string_view raw);

// The index of the first address in the list that is an open request.
std::optional<size_t> firstOpenURL(const std::vector<std::string>& urls);

}  // namespace tokvane
