// The Codex limits provider's answer mapping, with or without limits stored
// in the ledger: fetch never throws, answers fresh stored limits unchanged,
// gives the status the mapping prescribes, carries windows only when the
// status is ok (or, after a failure, the stored windows marked stale), and
// its result can always be stored in the ledger again.

#include <fuzzer/FuzzedDataProvider.h>

#include <memory>

#include "FuzzCheck.hpp"
#include "ProviderFakes.hpp"
#include "TokvaneCore/Providers/CodexLimitsProvider.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"

using namespace tokvane;

namespace {

// 2027-01-15T08:00:00Z
const Date now = Date::fromUnix(1800000000);

enum class Stored { nothing, freshOk, oldOk, freshFailure };
enum class Login { opaqueToken, tokenWithLaterExpiry, expiredToken, missing, notJSON, emptyToken };

fuzz::CannedCredentialSource::Answer authFile(Login login) {
  switch (login) {
    case Login::opaqueToken:
      return std::string(R"({"tokens":{"access_token":"opaque-token","account_id":"acct-1"}})");
    case Login::tokenWithLaterExpiry:  // exp one hour after now, no account
      return std::string(R"({"tokens":{"access_token":"eyJhbGciOiJub25lIn0.eyJleHAiOjE4MDAwMDM2MDB9.c2ln"}})");
    case Login::expiredToken:  // exp one second before now
      return std::string(
          R"({"tokens":{"access_token":"eyJhbGciOiJub25lIn0.eyJleHAiOjE3OTk5OTk5OTl9.c2ln","account_id":""}})");
    case Login::missing:
      return CredentialError::Kind::notFound;
    case Login::notJSON:
      return std::string("{\"tokens\":");
    case Login::emptyToken:
      return std::string(R"({"tokens":{"access_token":""}})");
  }
  return CredentialError::Kind::notFound;
}

ProviderLimits storedLimits(Stored stored) {
  ProviderLimits limits;
  limits.plan = "Plus";
  limits.windows = {
      LimitWindow("session", "Session", 0.25, 18000, now + 3600, LimitSource::live()),
      LimitWindow("weekly", "Weekly", 0.5, 604800, now + 86400, LimitSource::local(now - 4000.25)),
      LimitWindow("weekly.old", "Weekly", 1, std::nullopt, std::nullopt, LimitSource::stale(now - 90000)),
  };
  limits.credits = Credits{"Credits", 12.5, std::nullopt, std::nullopt, false};
  limits.status = stored == Stored::freshFailure ? ProviderStatus::rateLimited : ProviderStatus::ok;
  limits.fetchedAt = stored == Stored::oldOk ? now - 600.5 : stored == Stored::freshOk ? now - 600 : now - 10;
  return limits;
}

UsageStore& ledger() {
  static UsageStore store(":memory:");
  return store;
}

UsageStore& emptyLedger() {
  static UsageStore store(":memory:");
  return store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  // The last three bytes choose the answer, the login and what the ledger
  // holds; the rest is the body.
  const auto answerChoice = input.ConsumeIntegral<uint8_t>();
  const auto loginChoice = input.ConsumeIntegral<uint8_t>();
  const auto storedChoice = input.ConsumeIntegral<uint8_t>();
  const Login login = loginChoice < 200 ? Login::opaqueToken : static_cast<Login>(loginChoice % 6);
  const auto stored = static_cast<Stored>(storedChoice % 4);

  auto http = std::make_shared<fuzz::CannedHTTPClient>();
  // The answer byte's high half 12 makes the exchange fail, 13 takes any
  // status code from four more bytes; otherwise its low half picks a code.
  const int mode = answerChoice >> 4;
  http->transportFailure = mode == 12;
  http->response.status = mode == 13 ? input.ConsumeIntegral<int32_t>() : fuzz::statusCode(answerChoice);
  http->response.body = input.ConsumeRemainingBytesAsString();
  auto credentials = std::make_shared<fuzz::CannedCredentialSource>();
  credentials->fileContent = authFile(login);

  std::optional<ProviderLimits> kept;
  if (stored != Stored::nothing) {
    kept = storedLimits(stored);
    ledger().setLimits(*kept, ProviderID::codex);
  }
  UsageStore& store = kept ? ledger() : emptyLedger();
  CodexLimitsProvider provider(store, credentials, http, "/home/user/.codex");
  const ProviderLimits result = provider.fetch(now);

  // The token check reads outside text too.
  if (const auto expiry = CodexLimitsProvider::tokenExpiry(http->response.body)) FUZZ_CHECK(fuzz::isFinite(*expiry));

  // What the limits service stores, and reads back unchanged.
  const std::string written = result.toJSON(DateCoding::referenceSeconds).dump();
  FUZZ_CHECK(ProviderLimits::fromJSON(keyed::parse(written), DateCoding::referenceSeconds) == result);

  if (stored == Stored::freshOk) {
    FUZZ_CHECK(result == *kept);
    FUZZ_CHECK(http->sent.empty());
    return 0;
  }
  // Recent limits that record a failure may be answered as they are, too.
  if (stored == Stored::freshFailure && result == *kept && http->sent.empty()) return 0;

  const bool sends = login == Login::opaqueToken || login == Login::tokenWithLaterExpiry;
  FUZZ_CHECK(http->sent.size() == (sends ? 1u : 0u));
  if (sends) {
    const auto& headers = http->sent[0].headers;
    FUZZ_CHECK(headers.at(0).first == "Authorization");
    const bool withAccount = login == Login::opaqueToken;
    FUZZ_CHECK(headers.size() == (withAccount ? 3u : 2u));
    if (withAccount) FUZZ_CHECK(headers[1].first == "ChatGPT-Account-Id" && headers[1].second == "acct-1");
  }

  // The remote attempt's status.
  const int status = http->response.status;
  ProviderStatus remote = ProviderStatus::unreachable;
  if (login == Login::expiredToken) {
    remote = ProviderStatus::signInNeeded;
  } else if (!sends) {
    remote = ProviderStatus::unavailable;
  } else if (http->transportFailure) {
    remote = ProviderStatus::unreachable;
  } else if (fuzz::isSuccess(status)) {
    if (result.status == ProviderStatus::ok) {
      // The answer decoded: its windows, whatever is stored.
      FUZZ_CHECK(result.fetchedAt == now);
      FUZZ_CHECK(!result.credits.has_value());
      FUZZ_CHECK(result.windows.size() <= 2);
      for (const LimitWindow& window : result.windows) {
        FUZZ_CHECK(window.id == "session" || window.id == "weekly");
        FUZZ_CHECK(window.usedFraction >= 0 && window.usedFraction <= 1);
        FUZZ_CHECK(window.source == LimitSource::live());
      }
      if (result.windows.size() == 2) FUZZ_CHECK(result.windows[0].id == "session" && result.windows[1].id == "weekly");
      if (result.plan) FUZZ_CHECK(!result.plan->empty());
      return 0;
    }
    remote = ProviderStatus::unreachable;  // a body that does not decode
  } else if (status == 401 || status == 403) {
    remote = ProviderStatus::signInNeeded;
  } else if (status == 429) {
    remote = ProviderStatus::rateLimited;
  }

  if (!kept) {
    FUZZ_CHECK(result.status == remote);
    FUZZ_CHECK(result.fetchedAt == now);
    FUZZ_CHECK(!result.plan && result.windows.empty() && !result.credits);
    return 0;
  }
  // A failure with older limits stored: those, marked stale, with the
  // failure's status unless there was no login to try.
  ProviderLimits expected = kept->markedStale();
  if (remote != ProviderStatus::unavailable) expected.status = remote;
  FUZZ_CHECK(result == expected);
  return 0;
}
