#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// A provider's accent: either a fixed sRGB colour or one of the interface's
// adaptive foreground roles, which the interface resolves for the current
// appearance. The components mean something only for Role::rgb.
struct AccentColor {
  enum class Role { rgb, primary, secondary };
  Role role = Role::rgb;
  double red = 0;
  double green = 0;
  double blue = 0;
  double opacity = 1;

  static constexpr AccentColor rgb(double red, double green, double blue, double opacity = 1) {
    return AccentColor{Role::rgb, red, green, blue, opacity};
  }
  static constexpr AccentColor primary() { return AccentColor{Role::primary}; }
  static constexpr AccentColor secondary() { return AccentColor{Role::secondary}; }

  friend bool operator==(const AccentColor&, const AccentColor&) = default;
};

// The system symbol that stands for the application itself (status item
// without a provider, widget header, empty states).
inline constexpr std::string_view appSymbolName = "gauge.with.dots.needle.67percent";

// Where the logos live among the core resources: "Logos/<name>.svg".
inline constexpr std::string_view logoFolder = "Logos";
inline constexpr std::string_view logoExtension = "svg";

// The logo's resource name: "claude", "openai" (Codex), "grok", "cursor".
std::string_view logoResourceName(ProviderID id);
// The logo's path among the core resources, such as "Logos/openai.svg".
std::string logoResourcePath(ProviderID id);

// Claude's clay (sRGB 217/255, 119/255, 87/255); Codex the primary label
// role; Grok and Cursor the secondary role.
AccentColor accent(ProviderID id);

// The provider's logo as SVG text, drawn as a template image (in the current
// tint). Empty when its resource did not load. Comes from the process-wide
// LogoCache over the embedded core resources.
std::string_view logo(ProviderID id);

// The logos of all providers, loaded together on the first request for any
// of them (once, thread-safely) and kept for the cache's lifetime. Only
// logos that loaded are kept: a resource that is missing, empty or not SVG
// text gives an empty text each time it is asked for, and is never retried.
class LogoCache {
 public:
  // Returns the bytes of a core resource by path ("Logos/claude.svg"), or none.
  using Loader = std::function<std::optional<std::string_view>(std::string_view path)>;

  explicit LogoCache(Loader loader);
  LogoCache(const LogoCache&) = delete;
  LogoCache& operator=(const LogoCache&) = delete;

  std::string_view logo(ProviderID id) const;
  // Whether the provider's logo loaded (loads all of them first if needed).
  bool contains(ProviderID id) const;

  // The cache that logo(ProviderID) uses, over the embedded core resources.
  static const LogoCache& shared();

 private:
  void load() const;

  Loader loader_;
  mutable std::once_flag once_;
  mutable std::map<ProviderID, std::string> logos_;
};

}  // namespace tokvane
