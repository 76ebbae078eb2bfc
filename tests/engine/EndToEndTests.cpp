// The whole engine as the application builds it, on the Linux runtime: the
// real main loop (pumped by the test), inotify, the indexer's threads, libcurl
// against a local server standing in for both providers, and Claude Code's
// login read through the real tokvane-security program.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Tokvane/Engine/Model/EngineComposition.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Snapshot/SnapshotStore.hpp"
#include "platform/linux/LinuxEnv.hpp"
#include "tests/engine/support/AppModelHarness.hpp"
#include "tests/engine/support/FakeEnv.hpp"
#include "tests/support/LogLines.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHTTPServer.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::appendFile;
using testing::CannedResponse;
using testing::FakeNotificationCenter;
using testing::FakeWidgetCenter;
using testing::ledgerSQL;
using testing::RecordedRequest;
using testing::TempDir;
using testing::TestHTTPServer;
using testing::writeFile;
using Rows = std::vector<std::string>;

// Sets $HOME for the test's lifetime: the security tool finds Claude Code's
// login under it.
class HomeOverride {
 public:
  explicit HomeOverride(const fs::path& home) {
    if (const char* old = getenv("HOME")) saved_ = old;
    setenv("HOME", home.c_str(), 1);
  }
  ~HomeOverride() {
    if (saved_) {
      setenv("HOME", saved_->c_str(), 1);
    } else {
      unsetenv("HOME");
    }
  }

 private:
  std::optional<std::string> saved_;
};

std::string base64URL(std::string_view bytes) {
  static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (unsigned char byte : bytes) {
    buffer = (buffer << 8) | byte;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out += alphabet[(buffer >> bits) & 63];
    }
  }
  if (bits > 0) out += alphabet[(buffer << (6 - bits)) & 63];
  return out;
}

std::string tokenExpiringAt(Date expiry) {
  const std::string payload =
      "{\"sub\":\"user\",\"exp\":" + std::to_string(static_cast<long long>(expiry.unixSeconds())) + "}";
  return base64URL(R"({"alg":"RS256","typ":"JWT"})") + "." + base64URL(payload) + ".c2ln";
}

std::string claudeLine(const std::string& id, Date at, int64_t input, int64_t output) {
  return testing::claudeLine(
      id, {.timestamp = ISO8601::format(at), .model = "claude-sonnet-4-5", .input = input, .output = output});
}

// Pumps the main loop in short slices until `done` holds or the time is up.
bool pumpUntil(LinuxEnv& env, const std::function<bool()>& done, double seconds = 30) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (env.mainLoop().runUntil(done, std::chrono::milliseconds(50))) return true;
  }
  return done();
}

const Snapshot::Provider* entry(const std::optional<Snapshot>& snapshot, ProviderID id) {
  if (!snapshot) return nullptr;
  for (const auto& provider : snapshot->providers) {
    if (provider.id == id) return &provider;
  }
  return nullptr;
}

bool near(double a, double b) { return std::fabs(a - b) < 1e-6; }

TEST(EndToEnd, LogsAndLoginsReachTheLedgerTheSnapshotAndTheLimits) {
  TempDir home;
  TempDir data;
  HomeOverride homeOverride(home.path());
  const Date now = Date::now();
  const Date used = now - 1800;  // half an hour ago
  const std::string codexToken = tokenExpiringAt(now + 86400);

  // Claude Code: two requests, one of them logged twice.
  const fs::path claudeLog = home / ".claude" / "projects" / "demo" / "session.jsonl";
  writeFile(claudeLog, claudeLine("msg-a", used, 1000000, 0) + claudeLine("msg-b", used, 0, 100000) +
                           claudeLine("msg-a", used, 1000000, 0));
  writeFile(home / ".claude" / ".credentials.json",
            R"({"claudeAiOauth":{"accessToken":"claude-token-1","expiresAt":)" +
                std::to_string(static_cast<long long>((now + 86400).unixSeconds() * 1000)) +
                R"(,"subscriptionType":"max"}})");
  // Codex: one request.
  writeFile(home / ".codex" / "sessions" / "2026" / "rollout-1.jsonl",
            R"({"timestamp":")" + ISO8601::format(used - 60) +
                R"(","type":"session_meta","payload":{"id":"codex-1"}})" + "\n" + R"({"timestamp":")" +
                ISO8601::format(used - 30) + R"(","type":"turn_context","payload":{"model":"gpt-5"}})" + "\n" +
                R"({"timestamp":")" + ISO8601::format(used) +
                R"(","type":"token_usage_record","payload":{"response_id":"r1",)"
                R"("usage":{"input_tokens":800000,"output_tokens":10000}}})" +
                "\n");
  writeFile(home / ".codex" / "auth.json",
            R"({"tokens":{"access_token":")" + codexToken + R"(","account_id":"acct-9"}})");
  // Grok: one finished turn.
  writeFile(home / ".grok" / "sessions" / "g1" / "usage.json",
            R"({"sessionId":"g1","turns":[{"turnNumber":1,"endedAt":")" + ISO8601::format(used) +
                R"(","modelUsage":{"grok-4":{"inputTokens":100000,"outputTokens":10000}}}]})");

  TestHTTPServer server;
  const auto resetsSoon = ISO8601::format(now + 3600);
  server.respondWith([&](const RecordedRequest& request) {
    if (request.path == "/api/oauth/usage") {
      return CannedResponse{200, {}, R"({"five_hour":{"utilization":40,"resets_at":")" + resetsSoon +
                                         R"("},"seven_day":{"utilization":20}})"};
    }
    if (request.path == "/backend-api/wham/usage") {
      const std::string reset = std::to_string(static_cast<long long>((now + 3600).unixSeconds()));
      return CannedResponse{200, {},
                            R"({"plan_type":"plus","rate_limit":{"allowed":true,"primary_window":{"used_percent":12.5,)"
                            R"("limit_window_seconds":18000,"reset_at":)" +
                                reset + "}}}"};
    }
    return CannedResponse{404, {}, "{}"};
  });

  LinuxEnv env;
  InMemoryUserDefaults defaults;
  Preferences preferences(defaults);
  FakeNotificationCenter notifications(env);
  FakeWidgetCenter widgets;
  EngineConfiguration configuration;
  configuration.home = home.path();
  configuration.dataHome = data.path();
  configuration.snapshotContainer = data / "container";
  configuration.securityTool = TOKVANE_SECURITY_TOOL;
  configuration.claudeBaseURL = server.baseURL();
  configuration.codexBaseURL = server.baseURL();

  std::unique_ptr<Engine> engine = buildModel({env, defaults, preferences, notifications, widgets}, configuration);
  AppModel& model = *engine->model;
  const fs::path ledger = data / "Tokvane" / "usage.sqlite";
  const SnapshotStore snapshots(data / "container");
  const std::string day = dayKey(used, LocalCalendar());

  auto limitsArrived = [&] {
    const auto& limits = model.limits();
    return limits.count(ProviderID::claude) && limits.at(ProviderID::claude).status == ProviderStatus::ok &&
           !limits.at(ProviderID::claude).windows.empty() && limits.count(ProviderID::codex) &&
           limits.at(ProviderID::codex).status == ProviderStatus::ok && limits.count(ProviderID::grok);
  };
  auto snapshotHas = [&](double claudeCost) {
    const auto snapshot = snapshots.read();
    const auto* claude = entry(snapshot, ProviderID::claude);
    const auto* codex = entry(snapshot, ProviderID::codex);
    // Grok's pass comes last in a full run: its cost is there once that
    // pass has published.
    const auto* grok = entry(snapshot, ProviderID::grok);
    return claude && codex && near(claude->cost30dUSD, claudeCost) && !claude->windows.empty() &&
           !codex->windows.empty() && grok && near(grok->cost30dUSD, 0.45);
  };
  ASSERT_TRUE(pumpUntil(env, [&] { return model.watcher() && limitsArrived() && snapshotHas(4.5); }));

  // The ledger: one row per provider, model and day; the repeated line counted once.
  EXPECT_EQ(ledgerSQL(ledger, "SELECT provider, model, day, uncached, cache_read, output FROM daily ORDER BY provider"),
            (Rows{"claude|claude-sonnet-4-5|" + day + "|1000000|0|100000", "codex|gpt-5|" + day + "|800000|0|10000",
                  "grok|grok-4|" + day + "|100000|0|10000"}));

  // The snapshot: the providers in the default order with their costs at the
  // bundled prices, and the live limits.
  const auto snapshot = snapshots.read();
  ASSERT_TRUE(snapshot.has_value());
  ASSERT_EQ(snapshot->providers.size(), 3u);
  EXPECT_EQ(snapshot->providers[0].id, ProviderID::claude);
  EXPECT_EQ(snapshot->providers[1].id, ProviderID::codex);
  EXPECT_EQ(snapshot->providers[2].id, ProviderID::grok);
  EXPECT_NEAR(snapshot->providers[0].cost30dUSD, 4.5, 1e-9);   // 1M in at $3, 0.1M out at $15
  EXPECT_NEAR(snapshot->providers[1].cost30dUSD, 1.1, 1e-9);   // 0.8M in at $1.25, 10k out at $10
  EXPECT_NEAR(snapshot->providers[2].cost30dUSD, 0.45, 1e-9);  // 0.1M in at $3, 10k out at $15
  EXPECT_EQ(snapshot->providers[0].tokens30d, 1100000);
  EXPECT_NEAR(snapshot->cost30dUSD, 6.05, 1e-9);
  EXPECT_EQ(snapshot->providers[1].plan, "Plus");
  EXPECT_EQ(snapshot->providers[2].status, ProviderStatus::unavailable);
  EXPECT_NEAR(model.limits().at(ProviderID::claude).windows[0].usedFraction, 0.4, 1e-9);

  // The providers were asked with their own logins.
  std::optional<RecordedRequest> claudeRequest;
  std::optional<RecordedRequest> codexRequest;
  for (const auto& request : server.requests()) {
    if (request.path == "/api/oauth/usage") claudeRequest = request;
    if (request.path == "/backend-api/wham/usage") codexRequest = request;
  }
  ASSERT_TRUE(claudeRequest.has_value());
  EXPECT_EQ(claudeRequest->header("Authorization"), "Bearer claude-token-1");
  EXPECT_EQ(claudeRequest->header("anthropic-beta"), "oauth-2025-04-20");
  EXPECT_FALSE(claudeRequest->header("ChatGPT-Account-Id").has_value());
  ASSERT_TRUE(codexRequest.has_value());
  EXPECT_EQ(codexRequest->header("Authorization"), "Bearer " + codexToken);
  EXPECT_EQ(codexRequest->header("ChatGPT-Account-Id"), "acct-9");

  // A line appended to a watched log reaches the ledger and the snapshot.
  appendFile(claudeLog, claudeLine("msg-c", used, 2000000, 0));
  EXPECT_TRUE(pumpUntil(env, [&] { return snapshotHas(10.5); }));
  EXPECT_EQ(ledgerSQL(ledger, "SELECT uncached, output FROM daily WHERE provider = 'claude'"),
            (Rows{"3000000|100000"}));

  // Let every publish and fetch in flight end before the engine goes.
  auto quiet = [&] {
    if (model.isPublishing()) return false;
    for (ProviderID id : {ProviderID::claude, ProviderID::codex, ProviderID::grok}) {
      if (const auto state = engine->limitsService->state(id); state && state->inFlight) return false;
    }
    return true;
  };
  EXPECT_TRUE(pumpUntil(env, quiet));
  env.mainLoop().runUntil([] { return false; }, std::chrono::milliseconds(100));
  engine.reset();
  env.mainLoop().drain();
}

}  // namespace
}  // namespace tokvane
