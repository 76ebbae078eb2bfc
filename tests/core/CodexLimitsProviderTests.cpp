#include <gtest/gtest.h>
#include <sqlite3.h>

#include <future>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "TokvaneCore/Net/CurlHTTPClient.hpp"
#include "TokvaneCore/Providers/CodexLimitsProvider.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/support/FakeCredentialSource.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHTTPServer.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::CannedResponse;
using testing::FakeCredentialSource;
using testing::TempDir;
using testing::TestHTTPServer;
using Kind = CredentialError::Kind;

const Date now = Date::fromUnix(1760000000);

std::string base64URL(std::string_view bytes) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned n = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    for (int shift : {18, 12, 6, 0}) out += alphabet[(n >> shift) & 63];
  }
  if (bytes.size() - i == 1) {
    const unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
    out += alphabet[(n >> 18) & 63];
    out += alphabet[(n >> 12) & 63];
  } else if (bytes.size() - i == 2) {
    const unsigned n = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += alphabet[(n >> 18) & 63];
    out += alphabet[(n >> 12) & 63];
    out += alphabet[(n >> 6) & 63];
  }
  return out;  // unpadded, as tokens carry it
}

// A JSON Web Token with this payload (the signature is never checked).
std::string jwt(const std::string& payload) {
  return base64URL("{\"alg\":\"RS256\",\"typ\":\"JWT\"}") + "." + base64URL(payload) + ".c2lnbmF0dXJl";
}

std::string expiringAt(double unixSeconds) {
  std::ostringstream payload;
  payload.precision(17);
  payload << "{\"sub\":\"user\",\"exp\":" << unixSeconds << "}";
  return jwt(payload.str());
}

std::string auth(const std::string& token, const std::optional<std::string>& accountField = "\"acct-1\"") {
  std::string tokens = "\"access_token\":\"" + token + "\",\"refresh_token\":\"r\"";
  if (accountField) tokens += ",\"account_id\":" + *accountField;
  return "{\"OPENAI_API_KEY\":null,\"tokens\":{" + tokens + "},\"last_refresh\":\"2025-10-01T00:00:00Z\"}";
}

const std::string goodAnswer =
    "{\"plan_type\":\"plus\",\"rate_limit\":{\"allowed\":true,"
    "\"primary_window\":{\"used_percent\":12.5,\"limit_window_seconds\":18000,\"reset_at\":1760003600},"
    "\"secondary_window\":{\"used_percent\":40,\"limit_window_seconds\":604800,\"reset_at\":1760500000}},"
    "\"credits\":{\"has_credits\":true,\"balance\":\"12.00\"}}";

std::vector<LimitWindow> goodWindows() {
  return {LimitWindow("session", "Session", 0.125, 18000, Date::fromUnix(1760003600), LimitSource::live()),
          LimitWindow("weekly", "Weekly", 0.40, 604800, Date::fromUnix(1760500000), LimitSource::live())};
}

std::string dump(const ProviderLimits& limits) { return limits.toJSON(DateCoding::referenceSeconds).dump(); }

// Limits stored earlier: two live windows, a plan and credits.
ProviderLimits storedLimits(Date fetchedAt, ProviderStatus status = ProviderStatus::ok) {
  ProviderLimits limits;
  limits.plan = "Pro";
  limits.windows = {LimitWindow("session", "Session", 0.3, 18000, std::nullopt, LimitSource::live()),
                    LimitWindow("weekly", "Weekly", 0.6, 604800, Date::fromUnix(1760400000), LimitSource::live())};
  limits.credits = Credits{"Credits", 5.0, std::nullopt, std::nullopt, false};
  limits.status = status;
  limits.fetchedAt = fetchedAt;
  return limits;
}

class CodexProviderTest : public ::testing::Test {
 protected:
  CodexProviderTest()
      : store_(dir_ / "usage.sqlite"),
        credentials_(std::make_shared<FakeCredentialSource>()),
        http_(std::make_shared<CurlHTTPClient>()),
        provider_(store_, credentials_, http_, codexHome(), server_.baseURL()) {
    setAuth(auth(expiringAt(1760000000 + 3600)));
    server_.respondWith(CannedResponse{200, {}, goodAnswer});
  }

  fs::path codexHome() const { return dir_ / ".codex"; }
  void setAuth(FakeCredentialSource::Answer answer) { credentials_->setFile(codexHome() / "auth.json", std::move(answer)); }

  TempDir dir_;
  TestHTTPServer server_;
  UsageStore store_;
  std::shared_ptr<FakeCredentialSource> credentials_;
  std::shared_ptr<CurlHTTPClient> http_;
  CodexLimitsProvider provider_;
};

TEST_F(CodexProviderTest, SendsTheLoginInOneGETToTheUsageEndpoint) {
  const std::string token = expiringAt(1760000000 + 3600);
  const ProviderLimits limits = provider_.fetch(now);
  EXPECT_EQ(limits.status, ProviderStatus::ok);
  EXPECT_EQ(limits.plan, "Plus");
  EXPECT_EQ(credentials_->filesAsked(), std::vector<fs::path>{codexHome() / "auth.json"});

  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.path, "/backend-api/wham/usage");
  EXPECT_EQ(request.query, "");
  EXPECT_EQ(request.body, "");
  EXPECT_EQ(request.header("Authorization"), "Bearer " + token);
  EXPECT_EQ(request.header("ChatGPT-Account-Id"), "acct-1");
  EXPECT_EQ(request.header("User-Agent"), "Tokvane/" TOKVANE_VERSION);
  EXPECT_FALSE(request.header("anthropic-beta").has_value());
  EXPECT_FALSE(request.header("Cookie").has_value());
}

TEST_F(CodexProviderTest, SendsTheAccountOnlyWhenOneIsGiven) {
  const std::optional<std::string> fields[] = {std::nullopt, "\"\"", "null"};
  for (const auto& field : fields) {
    SCOPED_TRACE(field.value_or("absent"));
    setAuth(auth("opaque-token", field));
    EXPECT_EQ(provider_.fetch(now).status, ProviderStatus::ok);
    EXPECT_FALSE(server_.requests().back().header("ChatGPT-Account-Id").has_value());
  }
}

TEST_F(CodexProviderTest, MapsEachAnswerToAStatus) {
  TestHTTPServer elsewhere;
  struct Case {
    int status;
    std::string body;
    ProviderStatus expected;
  };
  const Case cases[] = {
      {200, goodAnswer, ProviderStatus::ok},
      {200, "{}", ProviderStatus::ok},
      {200, "[]", ProviderStatus::unreachable},
      {200, "", ProviderStatus::unreachable},
      {200, "{\"rate_limit\":[]}", ProviderStatus::unreachable},
      {200, "{\"plan_type\":1}", ProviderStatus::unreachable},
      {200, "{\"rate_limit\":{\"primary_window\":{\"used_percent\":\"12\"}}}", ProviderStatus::unreachable},
      {200, "{\"rate_limit\":{\"primary_window\":{\"reset_at\":\"soon\"}}}", ProviderStatus::unreachable},
      {401, goodAnswer, ProviderStatus::signInNeeded},
      {403, "", ProviderStatus::signInNeeded},
      {429, goodAnswer, ProviderStatus::rateLimited},
      {302, goodAnswer, ProviderStatus::unreachable},
      {404, "", ProviderStatus::unreachable},
      {500, "", ProviderStatus::unreachable},
      {502, goodAnswer, ProviderStatus::unreachable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.body);
    server_.respondWith(CannedResponse{c.status, {{"Location", elsewhere.baseURL() + "/backend-api/wham/usage"}}, c.body});
    const ProviderLimits limits = provider_.fetch(now);
    EXPECT_EQ(limits.status, c.expected);
    EXPECT_EQ(limits.fetchedAt, now);
    EXPECT_FALSE(limits.credits.has_value());
    if (c.expected != ProviderStatus::ok) {
      EXPECT_FALSE(limits.plan.has_value());
      EXPECT_TRUE(limits.windows.empty());
    }
  }
  EXPECT_EQ(elsewhere.requestCount(), 0u);

  server_.respondWith(CannedResponse{200, {}, goodAnswer});
  ProviderLimits expected;
  expected.plan = "Plus";
  expected.windows = goodWindows();
  expected.status = ProviderStatus::ok;
  expected.fetchedAt = now;
  EXPECT_EQ(dump(provider_.fetch(now)), dump(expected));
}

TEST_F(CodexProviderTest, MapsTheWindowsOfTheAnswer) {
  struct Case {
    const char* what;
    std::string body;
    std::optional<std::string> plan;
    std::vector<LimitWindow> windows;
  };
  auto w = [](const char* id, const char* label, double used, std::optional<double> duration,
              std::optional<double> reset) {
    return LimitWindow(id, label, used, duration, reset ? std::optional<Date>(Date::fromUnix(*reset)) : std::nullopt,
                       LimitSource::live());
  };
  const Case cases[] = {
      {"primary only",
       "{\"rate_limit\":{\"primary_window\":{\"used_percent\":12.5,\"limit_window_seconds\":18000,\"reset_at\":1760003600}}}",
       std::nullopt, {w("session", "Session", 0.125, 18000, 1760003600)}},
      {"a window without used_percent is left out",
       "{\"plan_type\":\"pro\",\"rate_limit\":{\"primary_window\":{\"limit_window_seconds\":18000},"
       "\"secondary_window\":{\"used_percent\":99.5}}}",
       "Pro", {w("weekly", "Weekly", 0.995, std::nullopt, std::nullopt)}},
      {"percentages are clamped",
       "{\"rate_limit\":{\"primary_window\":{\"used_percent\":150},\"secondary_window\":{\"used_percent\":-3}}}",
       std::nullopt, {w("session", "Session", 1, std::nullopt, std::nullopt), w("weekly", "Weekly", 0, std::nullopt, std::nullopt)}},
      {"reset times outside 1970 to 9999 are absent",
       "{\"rate_limit\":{\"primary_window\":{\"used_percent\":1,\"reset_at\":-1},"
       "\"secondary_window\":{\"used_percent\":2,\"reset_at\":253402300800}}}",
       std::nullopt, {w("session", "Session", 0.01, std::nullopt, std::nullopt), w("weekly", "Weekly", 0.02, std::nullopt, std::nullopt)}},
      {"the last second of 9999 is a reset time",
       "{\"rate_limit\":{\"primary_window\":{\"used_percent\":1,\"reset_at\":253402300799}}}", std::nullopt,
       {w("session", "Session", 0.01, std::nullopt, 253402300799)}},
      {"numbers beyond range are absent and hide nothing else",
       "{\"plan_type\":\"team\",\"rate_limit\":{\"primary_window\":{\"used_percent\":1e400,\"reset_at\":1760003600},"
       "\"secondary_window\":{\"used_percent\":40,\"limit_window_seconds\":1e999,\"reset_at\":123456789012345678901234567890}}}",
       "Team", {w("weekly", "Weekly", 0.40, std::nullopt, std::nullopt)}},
      {"an empty plan is no plan", "{\"plan_type\":\"\",\"rate_limit\":null}", std::nullopt, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    server_.respondWith(CannedResponse{200, {}, c.body});
    ProviderLimits expected;
    expected.plan = c.plan;
    expected.windows = c.windows;
    expected.fetchedAt = now;
    const ProviderLimits limits = provider_.fetch(now);
    EXPECT_EQ(dump(limits), dump(expected));
  }
}

TEST_F(CodexProviderTest, ALoginThatCannotBeUsedSendsNothing) {
  const std::pair<const char*, FakeCredentialSource::Answer> cases[] = {
      {"missing", Kind::notFound},
      {"refused", Kind::denied},
      {"malformed", Kind::malformed},
      {"another error", std::runtime_error("boom")},
      {"empty file", std::string()},
      {"not JSON", std::string("tokens")},
      {"an array", std::string("[]")},
      {"no tokens", std::string("{\"OPENAI_API_KEY\":\"sk-x\"}")},
      {"tokens null", std::string("{\"tokens\":null}")},
      {"no access token", std::string("{\"tokens\":{\"account_id\":\"a\"}}")},
      {"empty access token", auth("")},
      {"token of the wrong type", std::string("{\"tokens\":{\"access_token\":7}}")},
      {"account of the wrong type", auth("tok", "5")},
      {"tokens of the wrong type", std::string("{\"tokens\":\"tok\"}")},
  };
  for (const auto& [what, answer] : cases) {
    SCOPED_TRACE(what);
    setAuth(answer);
    const ProviderLimits limits = provider_.fetch(now);
    EXPECT_EQ(limits.status, ProviderStatus::unavailable);
    EXPECT_TRUE(limits.windows.empty());
    EXPECT_EQ(limits.fetchedAt, now);
  }
  EXPECT_EQ(server_.requestCount(), 0u);
}

TEST_F(CodexProviderTest, AnExpiredTokenAsksToSignInWithoutARequest) {
  setAuth(auth(expiringAt(1760000000 - 1)));
  EXPECT_EQ(provider_.fetch(now).status, ProviderStatus::signInNeeded);
  setAuth(auth(expiringAt(1760000000)));
  EXPECT_EQ(provider_.fetch(now).status, ProviderStatus::signInNeeded);
  EXPECT_EQ(server_.requestCount(), 0u);

  setAuth(auth(expiringAt(1760000000 + 1)));
  EXPECT_EQ(provider_.fetch(now).status, ProviderStatus::ok);
  setAuth(auth("not-a-web-token"));
  EXPECT_EQ(provider_.fetch(now).status, ProviderStatus::ok);
  EXPECT_EQ(server_.requestCount(), 2u);
  EXPECT_EQ(server_.requests().back().header("Authorization"), "Bearer not-a-web-token");
}

TEST(CodexTokenExpiry, ReadsTheExpClaimOfAWebToken) {
  struct Case {
    std::string token;
    std::optional<double> expiry;
  };
  const Case cases[] = {
      {expiringAt(1760000000), 1760000000},
      {expiringAt(1760000000.25), 1760000000.25},
      {jwt("{\"exp\":1}"), 1},           // payload length needing padding of one
      {jwt("{\"exp\":12}"), 12},         // of two
      {jwt("{\"exp\":123}"), 123},       // of none
      {jwt("{\"exp\":-5}"), -5},
      {base64URL("{}") + "." + base64URL("{\"exp\":99}"), 99},  // two parts suffice
      {"." + base64URL("{\"exp\":99}") + ".", 99},               // empty parts stay parts
      {jwt("{\"exp\":\"1760000000\"}"), std::nullopt},
      {jwt("{\"exp\":true}"), std::nullopt},
      {jwt("{\"exp\":null}"), std::nullopt},
      {jwt("{\"sub\":\"x\"}"), std::nullopt},
      {jwt("{}"), std::nullopt},
      {jwt("[1]"), std::nullopt},
      {jwt("not json"), std::nullopt},
      {"no-dots-at-all", std::nullopt},
      {"", std::nullopt},
      {"a.!!!!.c", std::nullopt},
      {"a.eyJleHAiOjF9=.c", std::nullopt},  // padding where none belongs
      {"a.e.c", std::nullopt},              // one character cannot be Base64
      {"a..c", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.token);
    const auto expiry = CodexLimitsProvider::tokenExpiry(c.token);
    ASSERT_EQ(expiry.has_value(), c.expiry.has_value());
    if (expiry) {
      EXPECT_DOUBLE_EQ(expiry->unixSeconds(), *c.expiry);
    }
  }
}

TEST_F(CodexProviderTest, AnswersGoodStoredLimitsOfTheLastTenMinutesWithoutARequest) {
  struct Case {
    const char* what;
    double age;  // seconds before now
    ProviderStatus storedStatus;
    bool shortcut;
  };
  const Case cases[] = {
      {"600 s old", 600, ProviderStatus::ok, true},
      {"just fetched", 0, ProviderStatus::ok, true},
      {"dated after now", -3600, ProviderStatus::ok, true},
      {"600.001 s old", 600.001, ProviderStatus::ok, false},
      {"a day old", 86400, ProviderStatus::ok, false},
      // A recent failure must not hide a fresh sign-in for ten minutes.
      {"recent sign-in failure", 10, ProviderStatus::signInNeeded, false},
      {"recent unreachable", 10, ProviderStatus::unreachable, false},
      {"recent rate limit", 10, ProviderStatus::rateLimited, false},
      {"recent unavailable", 10, ProviderStatus::unavailable, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ProviderLimits stored = storedLimits(now - c.age, c.storedStatus);
    store_.setLimits(stored, ProviderID::codex);
    const size_t before = server_.requestCount();
    const ProviderLimits limits = provider_.fetch(now);
    if (c.shortcut) {
      EXPECT_EQ(dump(limits), dump(stored));
      EXPECT_EQ(server_.requestCount(), before);
    } else {
      ProviderLimits fresh;
      fresh.plan = "Plus";
      fresh.windows = goodWindows();
      fresh.fetchedAt = now;
      EXPECT_EQ(dump(limits), dump(fresh));
      EXPECT_EQ(server_.requestCount(), before + 1);
    }
  }
}

TEST_F(CodexProviderTest, AFailedFetchKeepsOlderStoredLimitsMarkedStale) {
  ProviderLimits stored = storedLimits(now - 1000);
  stored.windows.push_back(LimitWindow("local", "Local", 0.1, std::nullopt, std::nullopt,
                                       LimitSource::local(now - 5000)));
  stored.windows.push_back(LimitWindow("old", "Old", 0.2, std::nullopt, std::nullopt, LimitSource::stale(now - 9000)));
  store_.setLimits(stored, ProviderID::codex);

  struct Case {
    const char* what;
    int status;
    std::optional<std::string> authFile;  // none: no login file
    ProviderStatus expected;
  };
  const std::string valid = auth(expiringAt(1760000000 + 3600));
  const Case cases[] = {
      {"rate limited", 429, valid, ProviderStatus::rateLimited},
      {"refused login", 401, valid, ProviderStatus::signInNeeded},
      {"server error", 500, valid, ProviderStatus::unreachable},
      {"unreadable answer", 200, valid, ProviderStatus::unreachable},
      {"expired token", 200, auth(expiringAt(1760000000 - 60)), ProviderStatus::signInNeeded},
      // Without a login the stored status stays.
      {"no login", 200, std::nullopt, ProviderStatus::ok},
      {"empty token", 200, auth(""), ProviderStatus::ok},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    server_.respondWith(CannedResponse{c.status, {}, c.status == 200 ? "[]" : "{}"});
    if (c.authFile) {
      setAuth(*c.authFile);
    } else {
      setAuth(Kind::notFound);
    }
    ProviderLimits expected = stored;
    for (auto& w : expected.windows) {
      if (!w.source.isStale()) w.source = LimitSource::stale(stored.fetchedAt);
    }
    expected.status = c.expected;
    EXPECT_EQ(dump(provider_.fetch(now)), dump(expected));
  }
}

TEST_F(CodexProviderTest, WithoutAClientStoredLimitsComeBackUnchanged) {
  CodexLimitsProvider offline(store_, credentials_, nullptr, codexHome(), server_.baseURL());
  const ProviderLimits empty = offline.fetch(now);
  EXPECT_EQ(empty.status, ProviderStatus::unavailable);
  EXPECT_EQ(empty.fetchedAt, now);
  EXPECT_TRUE(credentials_->filesAsked().empty());

  const ProviderLimits stored = storedLimits(now - 5000, ProviderStatus::rateLimited);
  store_.setLimits(stored, ProviderID::codex);
  EXPECT_EQ(dump(offline.fetch(now)), dump(stored));
  EXPECT_EQ(server_.requestCount(), 0u);
}

TEST_F(CodexProviderTest, UnreadableStoredLimitsCountAsNone) {
  store_.setLimits(storedLimits(now - 10), ProviderID::codex);
  // Damage the stored row from a second connection.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir_ / "usage.sqlite").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "UPDATE limits SET json = '{\"windows\":7}' WHERE provider = 'codex'", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  ASSERT_ANY_THROW(store_.limits(ProviderID::codex));

  const ProviderLimits fetched = provider_.fetch(now);
  EXPECT_EQ(fetched.status, ProviderStatus::ok);
  EXPECT_EQ(fetched.plan, "Plus");
  setAuth(Kind::notFound);
  const ProviderLimits failed = provider_.fetch(now);
  EXPECT_EQ(failed.status, ProviderStatus::unavailable);
  EXPECT_TRUE(failed.windows.empty());
}

TEST_F(CodexProviderTest, ServesSeveralThreadsAtOnce) {
  std::vector<std::future<ProviderLimits>> results;
  for (int i = 0; i < 6; ++i) {
    results.push_back(std::async(std::launch::async, [this, i] { return provider_.fetch(now + i); }));
  }
  for (int i = 0; i < 6; ++i) {
    const ProviderLimits limits = results[i].get();
    EXPECT_EQ(limits.status, ProviderStatus::ok);
    EXPECT_EQ(limits.fetchedAt, now + i);
  }
}

}  // namespace
}  // namespace tokvane
