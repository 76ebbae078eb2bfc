#include "TokvaneCore/Presentation/ProviderDisplay.hpp"

#include "TokvaneCore/Foundation/CoreResources.hpp"

namespace tokvane {

std::string_view logoResourceName(ProviderID id) {
  switch (id) {
    case ProviderID::claude: return "claude";
    case ProviderID::codex: return "openai";
    case ProviderID::grok: return "grok";
    case ProviderID::cursor: return "cursor";
  }
  return "claude";
}

std::string logoResourcePath(ProviderID id) {
  std::string path(logoFolder);
  path += '/';
  path += logoResourceName(id);
  path += '.';
  path += logoExtension;
  return path;
}

AccentColor accent(ProviderID id) {
  switch (id) {
    case ProviderID::claude: return AccentColor::rgb(217.0 / 255.0, 119.0 / 255.0, 87.0 / 255.0, 1);
    case ProviderID::codex: return AccentColor::primary();
    case ProviderID::grok:
    case ProviderID::cursor: return AccentColor::secondary();
  }
  return AccentColor::secondary();
}

std::string_view logo(ProviderID id) { return LogoCache::shared().logo(id); }

LogoCache::LogoCache(Loader loader) : loader_(std::move(loader)) {}

namespace {

// An image loads when its resource holds an SVG document; anything else
// (absent, empty, some other format) would draw nothing.
bool isSVG(std::string_view text) { return text.find("<svg") != std::string_view::npos; }

}  // namespace

void LogoCache::load() const {
  std::call_once(once_, [this] {
    if (!loader_) return;
    for (ProviderID id : allProviders) {
      const auto bytes = loader_(logoResourcePath(id));
      if (bytes && isSVG(*bytes)) logos_.emplace(id, std::string(*bytes));
    }
  });
}

std::string_view LogoCache::logo(ProviderID id) const {
  load();
  const auto it = logos_.find(id);
  return it == logos_.end() ? std::string_view() : std::string_view(it->second);
}

bool LogoCache::contains(ProviderID id) const {
  load();
  return logos_.count(id) != 0;
}

const LogoCache& LogoCache::shared() {
  static const LogoCache cache([](std::string_view path) { return CoreResources::data(path); });
  return cache;
}

}  // namespace tokvane
