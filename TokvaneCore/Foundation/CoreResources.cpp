#include "TokvaneCore/Foundation/CoreResources.hpp"

namespace tokvane::CoreResources {

std::optional<std::string_view> data(std::string_view name) {
  for (std::size_t i = 0; i < detail::embeddedResourceCount; ++i) {
    const auto& resource = detail::embeddedResources[i];
    if (name == resource.name) {
      return std::string_view(reinterpret_cast<const char*>(resource.bytes), resource.size);
    }
  }
  return std::nullopt;
}

}  // namespace tokvane::CoreResources
