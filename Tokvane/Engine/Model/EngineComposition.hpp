#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Tokvane/Engine/Model/AppModel.hpp"
#include "Tokvane/Engine/Runtime/DistributedNotificationCenter.hpp"
#include "Tokvane/Engine/Runtime/Env.hpp"
#include "Tokvane/Engine/Indexing/IndexerService.hpp"
#include "Tokvane/Engine/LiveLimits/LimitsService.hpp"
#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "Tokvane/Engine/Settings/UserDefaults.hpp"
#include "Tokvane/Engine/Runtime/WidgetCenter.hpp"
#include "TokvaneCore/Credentials/CredentialSource.hpp"
#include "TokvaneCore/Credentials/SecurityCLICredentialSource.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Foundation/XDGPaths.hpp"
#include "TokvaneCore/Net/HTTPClient.hpp"
#include "TokvaneCore/Providers/ClaudeLimitsProvider.hpp"
#include "TokvaneCore/Providers/CodexLimitsProvider.hpp"
#include "TokvaneCore/Providers/CursorProvider.hpp"
#include "TokvaneCore/Providers/GrokLimitsProvider.hpp"
#include "TokvaneCore/Providers/ProviderLocations.hpp"
#include "TokvaneCore/Snapshot/SnapshotStore.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"

namespace tokvane {

// Where the engine finds the user's files and the providers. The defaults
// are those of the real application; tests point them at a temporary home,
// a temporary data folder and a local server.
struct EngineConfiguration {
  // The home folder under which the tools keep their logs and logins.
  std::filesystem::path home = XDGPaths::home();
  // The folder under which the ledger lives, in "Tokvane/usage.sqlite".
  std::filesystem::path dataHome = XDGPaths::dataHome();
  // The folder the widget snapshot is written to; none: no widget.
  std::optional<std::filesystem::path> snapshotContainer = SnapshotStore::appGroupContainer();
  // The Keychain-style tool that hands out Claude Code's login.
  std::filesystem::path securityTool = SecurityCLICredentialSource::defaultExecutable();
  // Scheme and host of each provider's usage endpoint.
  std::string claudeBaseURL = std::string(ClaudeLimitsProvider::defaultBaseURL);
  std::string codexBaseURL = std::string(CodexLimitsProvider::defaultBaseURL);
};

// What the application shell owns and hands the engine; each must outlive
// the engine.
struct EngineSurroundings {
  Env& env;
  UserDefaults& defaults;
  Preferences& preferences;
  DistributedNotificationCenter& notifications;
  WidgetCenter& widgets;
};

// Everything the composition made, kept together for the life of the
// process. Members go in the reverse order of their declaration, so each
// outlives what was built on it.
struct Engine {
  Engine() = default;
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  std::shared_ptr<CredentialSource> credentials;
  ProviderLocations locations{std::filesystem::path()};
  std::shared_ptr<const Calendar> calendar;
  std::shared_ptr<UsageStore> store;
  std::shared_ptr<HTTPClient> http;
  std::shared_ptr<ClaudeLimitsProvider> claude;
  std::shared_ptr<CodexLimitsProvider> codex;
  std::shared_ptr<GrokLimitsProvider> grok;
  std::shared_ptr<CursorProvider> cursor;
  std::unique_ptr<IndexerService> indexer;
  std::shared_ptr<LimitsService> limitsService;
  std::shared_ptr<AppModel> model;
};

// The ledger at <dataHome>/Tokvane/usage.sqlite, its folders created as
// needed. When any step fails, the failure is logged as "Tokvane: opening the
// usage store failed (<error>); using a temporary one" and an in-memory
// ledger is opened instead; an existing file is never overwritten, moved or
// deleted.
std::shared_ptr<UsageStore> openUsageStore(Env& env, const std::filesystem::path& dataHome);

// Builds the engine in dependency order - the credential source, the
// locations, the ledger, one HTTP client, the Claude, Codex, Grok and Cursor
// providers, the indexer, the limits service and the model - and starts the
// model. Runs on the main thread; cannot fail.
std::unique_ptr<Engine> buildModel(const EngineSurroundings& surroundings,
                                   const EngineConfiguration& configuration = EngineConfiguration());

}  // namespace tokvane
