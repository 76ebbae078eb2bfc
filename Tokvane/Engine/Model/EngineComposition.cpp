#include "Tokvane/Engine/Model/EngineComposition.hpp"

#include <exception>
#include <stdexcept>
#include <utility>
#include <vector>

#include "TokvaneCore/Net/CurlHTTPClient.hpp"
#include "TokvaneCore/Pricing/PriceTable.hpp"

namespace tokvane {

std::shared_ptr<UsageStore> openUsageStore(Env& env, const std::filesystem::path& dataHome) {
  try {
    // A relative folder would put the ledger wherever the program was started.
    if (!dataHome.is_absolute()) {
      throw std::runtime_error("the data folder \"" + dataHome.string() + "\" is not absolute");
    }
    const std::filesystem::path folder = dataHome / "Tokvane";
    std::filesystem::create_directories(folder);
    return std::make_shared<UsageStore>(folder / "usage.sqlite");
  } catch (const std::exception& error) {
    env.log(std::string("Tokvane: opening the usage store failed (") + error.what() + "); using a temporary one");
  }
  return std::make_shared<UsageStore>(":memory:");
}

std::unique_ptr<Engine> buildModel(const EngineSurroundings& surroundings, const EngineConfiguration& configuration) {
  auto engine = std::make_unique<Engine>();
  Env& env = surroundings.env;
  const std::filesystem::path& home = configuration.home;

  engine->credentials = std::make_shared<SecurityCLICredentialSource>(configuration.securityTool);
  engine->locations = ProviderLocations(home);
  engine->calendar = std::make_shared<LocalCalendar>();
  engine->store = openUsageStore(env, configuration.dataHome);
  engine->http = std::make_shared<CurlHTTPClient>();

  engine->claude =
      std::make_shared<ClaudeLimitsProvider>(engine->credentials, engine->http, configuration.claudeBaseURL);
  engine->codex = std::make_shared<CodexLimitsProvider>(*engine->store, engine->credentials, engine->http,
                                                        engine->locations.codexHome(), configuration.codexBaseURL);
  engine->grok = std::make_shared<GrokLimitsProvider>(engine->credentials, engine->http, engine->locations.grokHome());
  engine->cursor =
      std::make_shared<CursorProvider>(engine->credentials, engine->http, engine->locations.cursorStateDB());

  engine->indexer =
      std::make_unique<IndexerService>(*engine->store, engine->locations, engine->cursor, engine->calendar, env);
  engine->limitsService = std::make_shared<LimitsService>(
      std::vector<std::shared_ptr<LimitsProvider>>{engine->claude, engine->codex, engine->grok, engine->cursor},
      *engine->store, surroundings.preferences, env);

  engine->model = AppModel::create(AppModel::Dependencies{
      .store = engine->store,
      .locations = engine->locations,
      .indexer = *engine->indexer,
      .limitsService = engine->limitsService,
      .preferences = surroundings.preferences,
      .defaults = surroundings.defaults,
      .env = env,
      .notifications = surroundings.notifications,
      .widgets = surroundings.widgets,
      .calendar = engine->calendar,
      // Read once, here; a missing or broken resource gives an empty table.
      .prices = std::make_shared<const PriceTable>(PriceTable::bundled()),
      .snapshots = SnapshotStore(configuration.snapshotContainer),
  });
  engine->model->start();
  return engine;
}

}  // namespace tokvane
