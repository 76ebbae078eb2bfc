#include "Tokvane/Usage/ProviderCardText.hpp"

#include <algorithm>
#include <filesystem>

#include "TokvaneCore/Format/MeterFormat.hpp"

namespace tokvane {

namespace {

// A path without "." and ".." parts and without a trailing separator.
std::string standardized(const std::filesystem::path& path) {
  std::string text = path.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

std::string creditsText(const Credits& credits) {
  using MeterFormat::usd;
  if (credits.unlimited) return "Unlimited";
  if (credits.balanceUSD) return usd(credits.balanceUSD) + " left";
  if (credits.spentUSD && credits.limitUSD) return usd(credits.spentUSD) + " / " + usd(credits.limitUSD);
  if (credits.spentUSD) return usd(credits.spentUSD) + " spent";
  if (credits.limitUSD) return "\u2014 / " + usd(credits.limitUSD);
  return "\u2014";
}

std::string manageUsageURL(ProviderID provider) {
  switch (provider) {
    case ProviderID::claude: return "https://claude.ai/settings/usage";
    case ProviderID::codex: return "https://chatgpt.com/codex/settings/usage";
    case ProviderID::grok: return "https://grok.com";
    case ProviderID::cursor: return "https://cursor.com/dashboard?tab=usage";
  }
  return "https://claude.ai/settings/usage";
}

std::vector<std::string> watchedFolders(const ProviderLocations& locations) {
  const auto codex = locations.codexSessions();
  const std::vector<std::filesystem::path> folders = {
      locations.claudeProjects(), codex[0], codex[1], locations.grokSessions(),
      locations.cursorStateDB().parent_path()};
  const std::string home = standardized(locations.home());
  const std::string prefix = home == "/" ? home : home + "/";
  std::vector<std::string> shown;
  shown.reserve(folders.size());
  for (const auto& folder : folders) {
    std::string path = standardized(folder);
    if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0) {
      path = "~/" + path.substr(prefix.size());
    }
    shown.push_back(std::move(path));
  }
  return shown;
}

std::string updatedText(const std::optional<Date>& lastUpdated, Date now) {
  if (!lastUpdated) return "Not updated yet";
  const double age = now - *lastUpdated;
  if (!(age >= 60.0)) return "Updated just now";
  return "Updated " + MeterFormat::countdown(age) + " ago";
}

std::string limitAccessibilityLabel(const std::string& label, const LimitBarModel& bar) {
  std::string text = label + ", " + bar.percentLeftText + " left";
  if (bar.resetText) text += *bar.resetText == "now" ? ", resets now" : ", resets in " + *bar.resetText;
  return text;
}

std::vector<ProviderID> visibleProviders(const std::vector<ProviderID>& providers,
                                         const std::vector<ProviderID>& present) {
  std::vector<ProviderID> visible;
  for (ProviderID provider : providers) {
    if (std::find(present.begin(), present.end(), provider) != present.end()) visible.push_back(provider);
  }
  return visible;
}

}  // namespace tokvane
