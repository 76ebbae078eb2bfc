#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace tokvane::CoreResources {

// The bytes of a file that the core library carries inside its binary: every
// file under TokvaneCore/Resources at build time, named by its path below
// that folder with "/" between folders ("prices.json", "Logos/claude.svg").
// Names are compared exactly; none for a name that was not embedded. The
// bytes live for the whole process.
std::optional<std::string_view> data(std::string_view name);

namespace detail {

// The table that the build generates from TokvaneCore/Resources.
struct EmbeddedResource {
  const char* name;
  const unsigned char* bytes;
  std::size_t size;
};

extern const EmbeddedResource embeddedResources[];
extern const std::size_t embeddedResourceCount;

}  // namespace detail

}  // namespace tokvane::CoreResources
