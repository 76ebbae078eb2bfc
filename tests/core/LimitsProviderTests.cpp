#include <gtest/gtest.h>

#include <memory>

#include "TokvaneCore/Net/CurlHTTPClient.hpp"
#include "TokvaneCore/Providers/ClaudeLimitsProvider.hpp"
#include "TokvaneCore/Providers/CodexLimitsProvider.hpp"
#include "TokvaneCore/Providers/CursorProvider.hpp"
#include "TokvaneCore/Providers/GrokLimitsProvider.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/support/FakeCredentialSource.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHTTPServer.hpp"

namespace tokvane {
namespace {

using testing::CannedResponse;
using testing::FakeCredentialSource;
using testing::TempDir;
using testing::TestHTTPServer;

TEST(UnavailableProviders, GrokAndCursorAnswerUnavailableAtOnce) {
  auto credentials = std::make_shared<FakeCredentialSource>();
  auto http = std::make_shared<CurlHTTPClient>();
  GrokLimitsProvider grok(credentials, http, "/nonexistent/.grok");
  CursorProvider cursor(credentials, http, "/nonexistent/state.vscdb");
  EXPECT_EQ(grok.id(), ProviderID::grok);
  EXPECT_EQ(cursor.id(), ProviderID::cursor);

  for (LimitsProvider* provider : {static_cast<LimitsProvider*>(&grok), static_cast<LimitsProvider*>(&cursor)}) {
    SCOPED_TRACE(rawValue(provider->id()));
    for (const Date now : {Date::fromUnix(0), Date::fromUnix(1760000000), Date{1e12}}) {
      ProviderLimits expected;
      expected.status = ProviderStatus::unavailable;
      expected.fetchedAt = now;
      EXPECT_EQ(provider->fetch(now), expected);
    }
  }
  EXPECT_TRUE(credentials->servicesAsked().empty());
  EXPECT_TRUE(credentials->filesAsked().empty());
  EXPECT_TRUE(cursor.usageEvents(Date::fromUnix(0)).empty());
  EXPECT_TRUE(cursor.usageEvents(Date::fromUnix(4e9)).empty());
}

// Each login goes to its own provider's address and nowhere else, not even
// where that provider's server redirects.
TEST(LimitsProviders, SendEachLoginOnlyToItsOwnProvider) {
  TestHTTPServer claudeServer;
  TestHTTPServer codexServer;
  TestHTTPServer elsewhere;
  for (auto* server : {&claudeServer, &codexServer}) {
    server->respondWith(CannedResponse{302, {{"Location", elsewhere.baseURL() + "/collect"}}, ""});
  }
  TempDir dir;
  UsageStore store(dir / "usage.sqlite");
  auto credentials = std::make_shared<FakeCredentialSource>();
  credentials->setSecret(std::string("{\"claudeAiOauth\":{\"accessToken\":\"claude-secret\"}}"));
  credentials->setFile(dir / ".codex/auth.json", std::string("{\"tokens\":{\"access_token\":\"codex-secret\"}}"));
  auto http = std::make_shared<CurlHTTPClient>();
  ClaudeLimitsProvider claude(credentials, http, claudeServer.baseURL());
  CodexLimitsProvider codex(store, credentials, http, dir / ".codex", codexServer.baseURL());

  const Date now = Date::fromUnix(1760000000);
  EXPECT_EQ(claude.fetch(now).status, ProviderStatus::unreachable);
  EXPECT_EQ(codex.fetch(now).status, ProviderStatus::unreachable);

  EXPECT_EQ(elsewhere.requestCount(), 0u);
  ASSERT_EQ(claudeServer.requestCount(), 1u);
  ASSERT_EQ(codexServer.requestCount(), 1u);
  EXPECT_EQ(claudeServer.requests()[0].header("Authorization"), "Bearer claude-secret");
  EXPECT_EQ(codexServer.requests()[0].header("Authorization"), "Bearer codex-secret");
}

}  // namespace
}  // namespace tokvane
