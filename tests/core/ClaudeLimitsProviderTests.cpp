#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Foundation/BuildInfo.hpp"
#include "TokvaneCore/Net/CurlHTTPClient.hpp"
#include "TokvaneCore/Providers/ClaudeLimitsProvider.hpp"
#include "tests/support/FakeCredentialSource.hpp"
#include "tests/support/TestHTTPServer.hpp"

namespace tokvane {
namespace {

using testing::CannedResponse;
using testing::FakeCredentialSource;
using testing::TestHTTPServer;
using Kind = CredentialError::Kind;

const Date now = Date::fromUnix(1760000000);
const char* const T1 = "2025-10-01T12:00:00Z";
const Date t1 = Date::fromUnix(1759320000);
const char* const T2 = "2025-10-02T12:00:00.500Z";
const Date t2 = Date::fromUnix(1759406400.5);

std::string login(const std::string& token = "tok-123", std::optional<std::string> expiresAt = std::nullopt,
                  std::optional<std::string> subscription = std::string("max")) {
  std::string inner = "\"accessToken\":\"" + token + "\"";
  if (expiresAt) inner += ",\"expiresAt\":" + *expiresAt;
  if (subscription) inner += ",\"subscriptionType\":\"" + *subscription + "\"";
  return "{\"claudeAiOauth\":{" + inner + "},\"mcpOAuth\":{}}";
}

LimitWindow window(std::string id, std::string label, double used, double duration, std::optional<Date> resetsAt) {
  return LimitWindow(std::move(id), std::move(label), used, duration, resetsAt, LimitSource::live());
}

std::string dump(const std::vector<LimitWindow>& windows) {
  JSON list = JSON::array();
  for (const auto& w : windows) list.push_back(w.toJSON(DateCoding::referenceSeconds));
  return list.dump();
}

std::string dump(const std::optional<Credits>& credits) { return credits ? credits->toJSON().dump() : "none"; }

class ClaudeProviderTest : public ::testing::Test {
 protected:
  ClaudeProviderTest()
      : credentials_(std::make_shared<FakeCredentialSource>()),
        provider_(credentials_, std::make_shared<CurlHTTPClient>(), server_.baseURL()) {
    credentials_->setSecret(login());
    server_.respondWith(CannedResponse{200, {}, "{}"});
  }

  TestHTTPServer server_;
  std::shared_ptr<FakeCredentialSource> credentials_;
  ClaudeLimitsProvider provider_;
};

TEST_F(ClaudeProviderTest, SendsTheLoginInOneGETToTheUsageEndpoint) {
  const ProviderLimits limits = provider_.fetch(now);
  EXPECT_EQ(limits.status, ProviderStatus::ok);
  EXPECT_EQ(credentials_->servicesAsked(), std::vector<std::string>{"Claude Code-credentials"});

  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.path, "/api/oauth/usage");
  EXPECT_EQ(request.query, "");
  EXPECT_EQ(request.body, "");
  EXPECT_EQ(request.header("Authorization"), "Bearer tok-123");
  EXPECT_EQ(request.header("anthropic-beta"), "oauth-2025-04-20");
  EXPECT_EQ(request.header("User-Agent"), "Tokvane/" TOKVANE_VERSION);
  EXPECT_EQ(BuildInfo::userAgent(), "Tokvane/" TOKVANE_VERSION);
  EXPECT_FALSE(request.header("Cookie").has_value());
  EXPECT_FALSE(request.header("ChatGPT-Account-Id").has_value());
}

TEST_F(ClaudeProviderTest, MapsEachAnswerToAStatus) {
  TestHTTPServer elsewhere;
  const std::string good = std::string("{\"five_hour\":{\"utilization\":40,\"resets_at\":\"") + T1 +
                           "\"},\"extra_usage\":{\"is_enabled\":true,\"monthly_limit\":5000}}";
  struct Case {
    int status;
    std::string body;
    ProviderStatus expected;
  };
  const Case cases[] = {
      {200, good, ProviderStatus::ok},
      {200, "{}", ProviderStatus::ok},
      {203, good, ProviderStatus::ok},
      {200, "[]", ProviderStatus::unreachable},
      {200, "", ProviderStatus::unreachable},
      {200, "<html>maintenance</html>", ProviderStatus::unreachable},
      {200, "{\"five_hour\":\"soon\"}", ProviderStatus::unreachable},
      {204, "", ProviderStatus::unreachable},
      {401, good, ProviderStatus::signInNeeded},
      {403, "{}", ProviderStatus::signInNeeded},
      {429, good, ProviderStatus::rateLimited},
      {301, "", ProviderStatus::unreachable},
      {302, good, ProviderStatus::unreachable},
      {307, "", ProviderStatus::unreachable},
      {400, "", ProviderStatus::unreachable},
      {404, "", ProviderStatus::unreachable},
      {500, good, ProviderStatus::unreachable},
      {503, "", ProviderStatus::unreachable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.body);
    server_.respondWith(CannedResponse{c.status, {{"Location", elsewhere.baseURL() + "/api/oauth/usage"}}, c.body});
    const ProviderLimits limits = provider_.fetch(now);
    EXPECT_EQ(limits.status, c.expected);
    EXPECT_EQ(limits.plan, "Max");
    EXPECT_EQ(limits.fetchedAt, now);
    if (c.expected != ProviderStatus::ok) {
      EXPECT_TRUE(limits.windows.empty());
      EXPECT_FALSE(limits.credits.has_value());
    }
  }
  EXPECT_EQ(elsewhere.requestCount(), 0u);

  server_.respondWith(CannedResponse{200, {}, good});
  const ProviderLimits limits = provider_.fetch(now);
  EXPECT_EQ(dump(limits.windows), dump({window("session", "Session", 0.4, 18000, t1)}));
  EXPECT_EQ(dump(limits.credits), dump(Credits{"Extra usage", std::nullopt, std::nullopt, 50.0, false}));
}

TEST_F(ClaudeProviderTest, ALoginThatCannotBeUsedSendsNothing) {
  struct Case {
    const char* what;
    FakeCredentialSource::Answer secret;
    ProviderStatus expected;
  };
  const Case cases[] = {
      {"refused", Kind::denied, ProviderStatus::accessDenied},
      {"no item", Kind::notFound, ProviderStatus::unavailable},
      {"not UTF-8", Kind::malformed, ProviderStatus::unavailable},
      {"another error", std::runtime_error("boom"), ProviderStatus::unavailable},
      {"empty text", std::string(), ProviderStatus::unavailable},
      {"not JSON", std::string("token=abc"), ProviderStatus::unavailable},
      {"an array", std::string("[]"), ProviderStatus::unavailable},
      {"no login", std::string("{}"), ProviderStatus::unavailable},
      {"login null", std::string("{\"claudeAiOauth\":null}"), ProviderStatus::unavailable},
      {"no token", std::string("{\"claudeAiOauth\":{\"subscriptionType\":\"pro\"}}"), ProviderStatus::unavailable},
      {"empty token", login(""), ProviderStatus::unavailable},
      {"token of the wrong type", std::string("{\"claudeAiOauth\":{\"accessToken\":42}}"),
       ProviderStatus::unavailable},
      {"expiry of the wrong type", std::string("{\"claudeAiOauth\":{\"accessToken\":\"a\",\"expiresAt\":\"later\"}}"),
       ProviderStatus::unavailable},
      {"login of the wrong type", std::string("{\"claudeAiOauth\":\"a\"}"), ProviderStatus::unavailable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    credentials_->setSecret(c.secret);
    const ProviderLimits limits = provider_.fetch(now);
    EXPECT_EQ(limits.status, c.expected);
    EXPECT_FALSE(limits.plan.has_value());
    EXPECT_TRUE(limits.windows.empty());
    EXPECT_EQ(limits.fetchedAt, now);
  }
  EXPECT_EQ(server_.requestCount(), 0u);
}

TEST_F(ClaudeProviderTest, AnExpiredLoginAsksToSignInWithoutARequest) {
  // now is 1760000000 s after 1970; expiresAt is in milliseconds.
  struct Case {
    std::optional<std::string> expiresAt;
    bool sent;
  };
  const Case cases[] = {
      {"1760000000000", false},
      {"1759999999999.5", false},
      {"1000", false},
      {"1760000000001", true},
      {"1e400", true},  // beyond range: read as no expiry
      {std::nullopt, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expiresAt.value_or("absent"));
    const size_t before = server_.requestCount();
    credentials_->setSecret(login("tok", c.expiresAt, "pro"));
    const ProviderLimits limits = provider_.fetch(now);
    EXPECT_EQ(limits.status, c.sent ? ProviderStatus::ok : ProviderStatus::signInNeeded);
    EXPECT_EQ(limits.plan, "Pro");
    EXPECT_EQ(server_.requestCount() - before, c.sent ? 1u : 0u);
  }
}

TEST_F(ClaudeProviderTest, ThePlanIsTheSubscriptionWithACapitalFirstLetter) {
  struct Case {
    std::optional<std::string> subscription;
    std::optional<std::string> plan;
  };
  const Case cases[] = {{"max", "Max"}, {"Pro", "Pro"}, {"team_plan", "Team_plan"}, {"", std::nullopt},
                        {std::nullopt, std::nullopt}};
  for (const auto& c : cases) {
    credentials_->setSecret(login("tok", std::nullopt, c.subscription));
    EXPECT_EQ(provider_.fetch(now).plan, c.plan);
  }
}

TEST(ClaudeUsageAnswer, MapsTheWindowsOfBothForms) {
  struct Case {
    const char* what;
    std::string body;
    std::vector<LimitWindow> windows;
  };
  const std::string t1 = std::string("\"") + T1 + "\"";
  const std::string t2 = std::string("\"") + T2 + "\"";
  const Case cases[] = {
      {"nothing", "{}", {}},
      {"older form wins the percent and its reset time",
       "{\"five_hour\":{\"utilization\":40,\"resets_at\":" + t1 +
           "},\"limits\":[{\"kind\":\"session\",\"percent\":55,\"resets_at\":" + t2 + "}]}",
       {window("session", "Session", 0.40, 18000, ::tokvane::t1)}},
      {"older percent without reset time takes the newer entry's",
       "{\"five_hour\":{\"utilization\":40},\"limits\":[{\"kind\":\"session\",\"percent\":55,\"resets_at\":" + t2 +
           "}]}",
       {window("session", "Session", 0.40, 18000, ::tokvane::t2)}},
      {"older form without utilization does not count",
       "{\"five_hour\":{\"utilization\":null,\"resets_at\":" + t1 +
           "},\"limits\":[{\"kind\":\"session\",\"percent\":55,\"resets_at\":" + t2 + "}]}",
       {window("session", "Session", 0.55, 18000, ::tokvane::t2)}},
      {"newer entry without percent gives nothing",
       "{\"limits\":[{\"kind\":\"session\",\"resets_at\":" + t2 + "},{\"kind\":\"session\",\"percent\":10}]}", {}},
      {"only a weekly window", "{\"seven_day\":{\"utilization\":20}}",
       {window("weekly", "Weekly", 0.20, 604800, std::nullopt)}},
      {"weekly from the newer form",
       "{\"limits\":[{\"kind\":\"weekly_all\",\"percent\":35,\"resets_at\":" + t1 +
           "},{\"kind\":\"weekly_all\",\"percent\":99}]}",
       {window("weekly", "Weekly", 0.35, 604800, ::tokvane::t1)}},
      {"percentages are clamped",
       "{\"five_hour\":{\"utilization\":130},\"seven_day\":{\"utilization\":-5}}",
       {window("session", "Session", 1, 18000, std::nullopt), window("weekly", "Weekly", 0, 604800, std::nullopt)}},
      {"scoped names differing in case give one window, from the first",
       "{\"limits\":[{\"kind\":\"weekly_scoped\",\"percent\":10,\"scope\":{\"model\":{\"display_name\":\"Opus\"}}},"
       "{\"kind\":\"weekly_scoped\",\"percent\":90,\"scope\":{\"model\":{\"display_name\":\"OPUS\"}}}]}",
       {window("weekly.opus", "Weekly \u00B7 Opus", 0.10, 604800, std::nullopt)}},
      {"a scoped entry without percent still claims its id",
       "{\"seven_day_opus\":{\"utilization\":50},"
       "\"limits\":[{\"kind\":\"weekly_scoped\",\"scope\":{\"model\":{\"display_name\":\"Opus\"}}},"
       "{\"kind\":\"weekly_scoped\",\"percent\":90,\"scope\":{\"model\":{\"display_name\":\"opus\"}}}]}",
       {}},
      {"a scoped model name covers the older form's family",
       "{\"seven_day_opus\":{\"utilization\":50},\"seven_day_sonnet\":{\"utilization\":30},"
       "\"limits\":[{\"kind\":\"weekly_scoped\",\"percent\":70,\"scope\":{\"model\":{\"display_name\":\"Opus 4.1\"}}}]}",
       {window("weekly.opus-4.1", "Weekly \u00B7 Opus 4.1", 0.70, 604800, std::nullopt),
        window("weekly.sonnet", "Weekly \u00B7 Sonnet", 0.30, 604800, std::nullopt)}},
      {"scoped entries without a name are ignored",
       "{\"seven_day_opus\":{\"utilization\":50},\"limits\":["
       "{\"kind\":\"weekly_scoped\",\"percent\":1,\"scope\":{\"model\":{\"display_name\":\"\"}}},"
       "{\"kind\":\"weekly_scoped\",\"percent\":2,\"scope\":{\"model\":{}}},"
       "{\"kind\":\"weekly_scoped\",\"percent\":3}]}",
       {window("weekly.opus", "Weekly \u00B7 Opus", 0.50, 604800, std::nullopt)}},
      {"every form at once, in order",
       "{\"seven_day_sonnet\":{\"utilization\":30},\"seven_day_opus\":{\"utilization\":50},"
       "\"seven_day\":{\"utilization\":20},\"five_hour\":{\"utilization\":40},"
       "\"limits\":[{\"kind\":\"weekly_scoped\",\"percent\":60,\"scope\":{\"model\":{\"display_name\":\"Haiku\"}}},"
       "{\"kind\":\"other\",\"percent\":99},"
       "{\"kind\":\"weekly_scoped\",\"percent\":65,\"scope\":{\"model\":{\"display_name\":\"Deep Think\"}}}]}",
       {window("session", "Session", 0.40, 18000, std::nullopt), window("weekly", "Weekly", 0.20, 604800, std::nullopt),
        window("weekly.haiku", "Weekly \u00B7 Haiku", 0.60, 604800, std::nullopt),
        window("weekly.deep-think", "Weekly \u00B7 Deep Think", 0.65, 604800, std::nullopt),
        window("weekly.opus", "Weekly \u00B7 Opus", 0.50, 604800, std::nullopt),
        window("weekly.sonnet", "Weekly \u00B7 Sonnet", 0.30, 604800, std::nullopt)}},
      {"reset times with and without a fraction, and unreadable ones",
       "{\"five_hour\":{\"utilization\":1,\"resets_at\":\"2025-10-01T14:00:00+02:00\"},"
       "\"seven_day\":{\"utilization\":2,\"resets_at\":\"next week\"},"
       "\"seven_day_opus\":{\"utilization\":3,\"resets_at\":" + t2 + "}}",
       {window("session", "Session", 0.01, 18000, ::tokvane::t1), window("weekly", "Weekly", 0.02, 604800, std::nullopt),
        window("weekly.opus", "Weekly \u00B7 Opus", 0.03, 604800, ::tokvane::t2)}},
      {"reset times before 1970 are absent",
       "{\"five_hour\":{\"utilization\":1,\"resets_at\":\"1969-12-31T23:59:59Z\"},"
       "\"seven_day\":{\"utilization\":2,\"resets_at\":\"1970-01-01T00:00:00Z\"}}",
       {window("session", "Session", 0.01, 18000, std::nullopt),
        window("weekly", "Weekly", 0.02, 604800, Date::fromUnix(0))}},
      {"a percentage beyond range is absent, and does not hide the rest",
       "{\"five_hour\":{\"utilization\":1e400},\"limits\":[{\"kind\":\"session\",\"percent\":55}],"
       "\"seven_day\":{\"utilization\":-1e400},"
       "\"seven_day_opus\":{\"utilization\":123456789012345678901234567890}}",
       {window("session", "Session", 0.55, 18000, std::nullopt),
        window("weekly.opus", "Weekly \u00B7 Opus", 1, 604800, std::nullopt)}},
      {"nulls and unknown keys are ignored",
       "{\"five_hour\":null,\"limits\":null,\"extra_usage\":null,\"seven_day\":{\"utilization\":5,\"resets_at\":null,"
       "\"extra\":[1,2]},\"future_field\":{\"x\":1}}",
       {window("weekly", "Weekly", 0.05, 604800, std::nullopt)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto usage = ClaudeLimitsProvider::readUsage(c.body);
    ASSERT_TRUE(usage.has_value());
    EXPECT_EQ(dump(usage->windows), dump(c.windows));
  }
}

TEST(ClaudeUsageAnswer, AValueOfTheWrongTypeMakesTheAnswerUnreadable) {
  const std::string bodies[] = {
      "[]",
      "null",
      "42",
      "",
      "{",
      "{\"five_hour\":\"x\"}",
      "{\"five_hour\":{\"utilization\":\"40\"}}",
      "{\"five_hour\":{\"utilization\":true}}",
      "{\"seven_day\":{\"resets_at\":5}}",
      "{\"limits\":{}}",
      "{\"limits\":[1]}",
      "{\"limits\":[{\"kind\":5}]}",
      "{\"limits\":[{\"kind\":\"session\",\"percent\":\"55\"}]}",
      "{\"limits\":[{\"kind\":\"weekly_scoped\",\"scope\":\"opus\"}]}",
      "{\"limits\":[{\"kind\":\"weekly_scoped\",\"scope\":{\"model\":{\"display_name\":7}}}]}",
      "{\"extra_usage\":{\"is_enabled\":\"yes\"}}",
      "{\"extra_usage\":{\"is_enabled\":true,\"monthly_limit\":\"5000\"}}",
      "{\"extra_usage\":{\"is_enabled\":true,\"monthly_limit\":5000,\"decimal_places\":\"3\"}}",
      "{\"extra_usage\":[]}",
      "{\"five_hour\":{\"resets_at\":\"\xff\"}}",
      std::string(200000, '['),
  };
  for (const auto& body : bodies) {
    SCOPED_TRACE(body.substr(0, 80));
    EXPECT_FALSE(ClaudeLimitsProvider::readUsage(body).has_value());
  }
}

TEST(ClaudeUsageAnswer, MapsExtraUsageToCredits) {
  struct Case {
    const char* extra;
    std::optional<Credits> credits;
  };
  auto credits = [](std::optional<double> spent, std::optional<double> limit) {
    return Credits{"Extra usage", std::nullopt, spent, limit, false};
  };
  const Case cases[] = {
      {"null", std::nullopt},
      {"{\"is_enabled\":false,\"monthly_limit\":5000,\"used_credits\":1234}", std::nullopt},
      {"{\"monthly_limit\":5000,\"used_credits\":1234}", std::nullopt},
      {"{\"is_enabled\":true}", std::nullopt},
      {"{\"is_enabled\":true,\"monthly_limit\":null,\"used_credits\":null}", std::nullopt},
      {"{\"is_enabled\":true,\"monthly_limit\":5000,\"used_credits\":1234}", credits(12.34, 50)},
      {"{\"is_enabled\":true,\"monthly_limit\":5000,\"used_credits\":1234,\"decimal_places\":3}", credits(1.234, 5)},
      {"{\"is_enabled\":true,\"monthly_limit\":5000,\"used_credits\":1234,\"decimal_places\":0}", credits(1234, 5000)},
      {"{\"is_enabled\":true,\"monthly_limit\":5000,\"used_credits\":1234,\"decimal_places\":10}",
       credits(1.234e-7, 5e-7)},
      {"{\"is_enabled\":true,\"used_credits\":1234}", credits(12.34, std::nullopt)},
      {"{\"is_enabled\":true,\"monthly_limit\":5000}", credits(std::nullopt, 50)},
      // Places outside 0 to 10, or not whole, fall back to two.
      {"{\"is_enabled\":true,\"monthly_limit\":5000,\"decimal_places\":-1}", credits(std::nullopt, 50)},
      {"{\"is_enabled\":true,\"monthly_limit\":5000,\"decimal_places\":11}", credits(std::nullopt, 50)},
      {"{\"is_enabled\":true,\"monthly_limit\":5000,\"decimal_places\":400}", credits(std::nullopt, 50)},
      {"{\"is_enabled\":true,\"monthly_limit\":5000,\"decimal_places\":-400}", credits(std::nullopt, 50)},
      {"{\"is_enabled\":true,\"monthly_limit\":5000,\"decimal_places\":2.5}", credits(std::nullopt, 50)},
      {"{\"is_enabled\":true,\"monthly_limit\":5000,\"decimal_places\":1e400}", credits(std::nullopt, 50)},
      {"{\"is_enabled\":true,\"monthly_limit\":5000,\"decimal_places\":123456789012345678901234567890}",
       credits(std::nullopt, 50)},
      // Amounts beyond range are absent.
      {"{\"is_enabled\":true,\"monthly_limit\":5000,\"used_credits\":1e400}", credits(std::nullopt, 50)},
      {"{\"is_enabled\":true,\"monthly_limit\":-1e400,\"used_credits\":1e400}", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extra);
    const auto usage = ClaudeLimitsProvider::readUsage(std::string("{\"extra_usage\":") + c.extra + "}");
    ASSERT_TRUE(usage.has_value());
    EXPECT_EQ(dump(usage->credits), dump(c.credits));
    // Whatever the answer said, the result can be stored.
    ProviderLimits limits;
    limits.windows = usage->windows;
    limits.credits = usage->credits;
    EXPECT_NO_THROW(limits.toJSON(DateCoding::referenceSeconds));
  }
}

// A client whose failures are not transport errors.
class ThrowingHTTPClient final : public HTTPClient {
 public:
  HTTPResponse send(const HTTPRequest&) override { throw std::logic_error("unexpected"); }
};

TEST(ClaudeProvider, AnyFailureToSendIsUnreachable) {
  auto credentials = std::make_shared<FakeCredentialSource>();
  credentials->setSecret(login());
  ClaudeLimitsProvider throwing(credentials, std::make_shared<ThrowingHTTPClient>());
  EXPECT_EQ(throwing.fetch(now).status, ProviderStatus::unreachable);
  EXPECT_EQ(throwing.fetch(now).plan, "Max");

  // Nothing listens at this address.
  std::optional<uint16_t> freePort;
  {
    TestHTTPServer closed;
    freePort = closed.port();
  }
  ClaudeLimitsProvider refused(credentials, std::make_shared<CurlHTTPClient>(),
                               "http://127.0.0.1:" + std::to_string(*freePort));
  EXPECT_EQ(refused.fetch(now).status, ProviderStatus::unreachable);

  // The real host over plain HTTP is refused before anything is sent.
  ClaudeLimitsProvider insecure(credentials, std::make_shared<CurlHTTPClient>(), "http://api.anthropic.com");
  EXPECT_EQ(insecure.fetch(now).status, ProviderStatus::unreachable);
}

TEST_F(ClaudeProviderTest, ServesSeveralThreadsAtOnce) {
  server_.respondWith(CannedResponse{200, {}, "{\"five_hour\":{\"utilization\":40}}"});
  std::vector<std::future<ProviderLimits>> results;
  for (int i = 0; i < 6; ++i) {
    results.push_back(std::async(std::launch::async, [this, i] { return provider_.fetch(now + i); }));
  }
  for (int i = 0; i < 6; ++i) {
    const ProviderLimits limits = results[i].get();
    EXPECT_EQ(limits.status, ProviderStatus::ok);
    EXPECT_EQ(limits.fetchedAt, now + i);
    EXPECT_EQ(limits.windows.size(), 1u);
  }
  EXPECT_EQ(server_.requestCount(), 6u);
}

// The one slow case: a server that does not answer within the client's bound.
TEST_F(ClaudeProviderTest, AServerSlowerThanFifteenSecondsIsUnreachable) {
  CannedResponse slow{200, {}, "{}"};
  slow.delaySeconds = 30;
  server_.respondWith(slow);
  const auto started = std::chrono::steady_clock::now();
  const ProviderLimits limits = provider_.fetch(now);
  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(limits.status, ProviderStatus::unreachable);
  EXPECT_GE(elapsed, std::chrono::milliseconds(14500));
  EXPECT_LT(elapsed, std::chrono::milliseconds(17000));
}

}  // namespace
}  // namespace tokvane
