// The Claude limits provider's answer mapping: with a stored login and any
// answer (status code and body) or a failed exchange, fetch never throws,
// gives the status the mapping prescribes, carries windows and credits only
// when the status is ok, and its result can always be stored in the ledger.

#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <set>

#include "FuzzCheck.hpp"
#include "ProviderFakes.hpp"
#include "TokvaneCore/Providers/ClaudeLimitsProvider.hpp"

using namespace tokvane;

namespace {

// 2027-01-15T08:00:00Z
const Date now = Date::fromUnix(1800000000);

enum class Login { valid, withoutExpiryOrPlan, expired, denied, missing, notJSON };

fuzz::CannedCredentialSource::Answer loginText(Login login) {
  switch (login) {
    case Login::valid:
      return std::string(R"({"claudeAiOauth":{"accessToken":"sk-ant-oat01-token",)"
                         R"("expiresAt":1800003600000,"subscriptionType":"max"}})");
    case Login::withoutExpiryOrPlan:
      return std::string(R"({"claudeAiOauth":{"accessToken":"sk-ant-oat01-token"}})");
    case Login::expired:
      return std::string(R"({"claudeAiOauth":{"accessToken":"sk-ant-oat01-token",)"
                         R"("expiresAt":1800000000000,"subscriptionType":"pro"}})");
    case Login::denied:
      return CredentialError::Kind::denied;
    case Login::missing:
      return CredentialError::Kind::notFound;
    case Login::notJSON:
      return std::string("not a login\n");
  }
  return CredentialError::Kind::notFound;
}

std::optional<std::string> planOf(Login login) {
  if (login == Login::valid) return "Max";
  if (login == Login::expired) return "Pro";
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  // The last two bytes choose the answer and the login; the rest is the body.
  const auto answerChoice = input.ConsumeIntegral<uint8_t>();
  const auto loginChoice = input.ConsumeIntegral<uint8_t>();
  const Login login = loginChoice < 200 ? Login::valid : static_cast<Login>(loginChoice % 6);

  auto http = std::make_shared<fuzz::CannedHTTPClient>();
  // The answer byte's high half 12 makes the exchange fail, 13 takes any
  // status code from four more bytes; otherwise its low half picks a code.
  const int mode = answerChoice >> 4;
  http->transportFailure = mode == 12;
  http->response.status = mode == 13 ? input.ConsumeIntegral<int32_t>() : fuzz::statusCode(answerChoice);
  http->response.headers = {{"Content-Type", "application/json"}};
  http->response.body = input.ConsumeRemainingBytesAsString();
  auto credentials = std::make_shared<fuzz::CannedCredentialSource>();
  credentials->secret = loginText(login);

  ClaudeLimitsProvider provider(credentials, http);
  const ProviderLimits result = provider.fetch(now);

  // The status the mapping prescribes; a 2xx answer is ok when it decodes.
  const int status = http->response.status;
  const bool sends = login == Login::valid || login == Login::withoutExpiryOrPlan;
  std::optional<ProviderStatus> expected;
  if (login == Login::denied) {
    expected = ProviderStatus::accessDenied;
  } else if (login == Login::missing || login == Login::notJSON) {
    expected = ProviderStatus::unavailable;
  } else if (login == Login::expired) {
    expected = ProviderStatus::signInNeeded;
  } else if (http->transportFailure) {
    expected = ProviderStatus::unreachable;
  } else if (fuzz::isSuccess(status)) {
    expected = ClaudeLimitsProvider::readUsage(http->response.body) ? ProviderStatus::ok : ProviderStatus::unreachable;
  } else if (status == 401 || status == 403) {
    expected = ProviderStatus::signInNeeded;
  } else if (status == 429) {
    expected = ProviderStatus::rateLimited;
  } else {
    expected = ProviderStatus::unreachable;
  }
  FUZZ_CHECK(result.status == *expected);
  FUZZ_CHECK(http->sent.size() == (sends ? 1u : 0u));
  if (sends) {
    FUZZ_CHECK(http->sent[0].method == "GET");
    FUZZ_CHECK(http->sent[0].headers.at(0).first == "Authorization" &&
               http->sent[0].headers.at(0).second == "Bearer sk-ant-oat01-token");
  }
  FUZZ_CHECK(result.fetchedAt == now);
  FUZZ_CHECK(result.plan == planOf(login));

  if (result.status != ProviderStatus::ok) {
    FUZZ_CHECK(result.windows.empty());
    FUZZ_CHECK(!result.credits.has_value());
  }
  std::set<std::string> ids;
  for (const LimitWindow& window : result.windows) {
    FUZZ_CHECK(ids.insert(window.id).second);
    FUZZ_CHECK(window.id == "session" || window.id == "weekly" || window.id.starts_with("weekly."));
    FUZZ_CHECK(window.usedFraction >= 0 && window.usedFraction <= 1);
    FUZZ_CHECK(window.source == LimitSource::live());
    FUZZ_CHECK(window.duration == (window.id == "session" ? 18000.0 : 604800.0));
  }
  if (result.credits) {
    FUZZ_CHECK(result.credits->label == "Extra usage");
    FUZZ_CHECK(!result.credits->balanceUSD && !result.credits->unlimited);
  }

  // What the limits service stores, and reads back unchanged.
  const std::string stored = result.toJSON(DateCoding::referenceSeconds).dump();
  FUZZ_CHECK(ProviderLimits::fromJSON(keyed::parse(stored), DateCoding::referenceSeconds) == result);
  return 0;
}
