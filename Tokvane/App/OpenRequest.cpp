#include "Tokvane/App/OpenRequest.hpp"

namespace tokvane {

bool isOpenURL(std::string_view raw) {
  const size_t colon = raw.find(':');
  if (colon == std::string_view::npos) return false;
  if (raw.substr(0, colon) != "tokvane") return false;
  std::string_view rest = raw.substr(colon + 1);
  // Without "//" there is no authority and so no host.
  if (rest.substr(0, 2) != "//") return false;
  rest.remove_prefix(2);
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  if (const size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  if (const size_t port = authority.find(':'); port != std::string_view::npos) authority = authority.substr(0, port);
  return authority == "open";
}

std::optional<size_t> firstOpenURL(const std::vector<std::string>& urls) {
  for (size_t i = 0; i < urls.size(); ++i) {
    if (isOpenURL(urls[i])) return i;
  }
  return std::nullopt;
}

}  // namespace tokvane
