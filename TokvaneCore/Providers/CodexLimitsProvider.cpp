#include "TokvaneCore/Providers/CodexLimitsProvider.hpp"

#include "TokvaneCore/Foundation/BuildInfo.hpp"
#include "TokvaneCore/Providers/ProviderAnswer.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"

namespace tokvane {

namespace {

using ProviderAnswer::optionalNumber;
using ProviderAnswer::optionalObject;

struct Login {
  std::string accessToken;
  std::optional<std::string> accountID;
};

// "auth.json": {"tokens": {"access_token", "account_id"}}. None when it is
// not readable or has no token.
std::optional<Login> parseLogin(std::string_view bytes) {
  try {
    const JSON root = ProviderAnswer::parse(bytes);
    keyed::requireObject(root, "auth");
    const JSON* tokens = optionalObject(root, "tokens");
    if (!tokens) return std::nullopt;
    auto token = keyed::optionalString(*tokens, "access_token");
    auto account = keyed::optionalString(*tokens, "account_id");
    if (!token || token->empty()) return std::nullopt;
    return Login{std::move(*token), std::move(account)};
  } catch (const DecodingError&) {
    return std::nullopt;
  }
}

std::optional<LimitWindow> decodeWindow(const JSON& rateLimit, std::string_view key, std::string id,
                                        std::string label) {
  const JSON* window = optionalObject(rateLimit, key);
  if (!window) return std::nullopt;
  const auto usedPercent = optionalNumber(*window, "used_percent");
  const auto duration = optionalNumber(*window, "limit_window_seconds");
  const auto resetAt = optionalNumber(*window, "reset_at");
  if (!usedPercent) return std::nullopt;
  std::optional<Date> resetsAt;
  if (resetAt && ProviderAnswer::isPlausibleDate(Date::fromUnix(*resetAt))) resetsAt = Date::fromUnix(*resetAt);
  return LimitWindow(std::move(id), std::move(label), *usedPercent / 100, duration, resetsAt, LimitSource::live());
}

// The plan and windows of a 2xx answer; none when it is unreadable.
std::optional<ProviderLimits> readUsage(std::string_view body) {
  try {
    const JSON answer = ProviderAnswer::parse(body);
    keyed::requireObject(answer, "usage");
    ProviderLimits limits;
    limits.plan = ProviderAnswer::planName(keyed::optionalString(answer, "plan_type"));
    if (const JSON* rateLimit = optionalObject(answer, "rate_limit")) {
      auto primary = decodeWindow(*rateLimit, "primary_window", "session", "Session");
      auto secondary = decodeWindow(*rateLimit, "secondary_window", "weekly", "Weekly");
      if (primary) limits.windows.push_back(std::move(*primary));
      if (secondary) limits.windows.push_back(std::move(*secondary));
    }
    return limits;
  } catch (const DecodingError&) {
    return std::nullopt;
  }
}

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict standard Base64 with padding; none on any fault.
std::optional<std::string> decodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int padding = 0;
    if (last && text[i + 3] == '=') padding = text[i + 2] == '=' ? 2 : 1;
    int values[4];
    for (int k = 0; k < 4 - padding; ++k) {
      values[k] = base64Value(text[i + k]);
      if (values[k] < 0) return std::nullopt;
    }
    const unsigned group = (static_cast<unsigned>(values[0]) << 18) | (static_cast<unsigned>(values[1]) << 12) |
                           (padding < 2 ? static_cast<unsigned>(values[2]) << 6 : 0u) |
                           (padding < 1 ? static_cast<unsigned>(values[3]) : 0u);
    bytes += static_cast<char>((group >> 16) & 0xFF);
    if (padding < 2) bytes += static_cast<char>((group >> 8) & 0xFF);
    if (padding < 1) bytes += static_cast<char>(group & 0xFF);
  }
  return bytes;
}

ProviderLimits result(ProviderStatus status, Date now) {
  ProviderLimits limits;
  limits.status = status;
  limits.fetchedAt = now;
  return limits;
}

}  // namespace

CodexLimitsProvider::CodexLimitsProvider(UsageStore& store, std::shared_ptr<CredentialSource> credentials,
                                         std::shared_ptr<HTTPClient> http, std::filesystem::path codexHome,
                                         std::string baseURL)
    : store_(store),
      credentials_(std::move(credentials)),
      http_(std::move(http)),
      codexHome_(std::move(codexHome)),
      endpoint_(baseURL + std::string(usagePath)) {}

std::optional<Date> CodexLimitsProvider::tokenExpiry(std::string_view token) {
  const auto firstDot = token.find('.');
  if (firstDot == std::string_view::npos) return std::nullopt;
  const auto secondDot = token.find('.', firstDot + 1);
  std::string payload(token.substr(firstDot + 1, secondDot == std::string_view::npos ? std::string_view::npos
                                                                                      : secondDot - firstDot - 1));
  for (char& c : payload) {
    if (c == '-') c = '+';
    if (c == '_') c = '/';
  }
  while (payload.size() % 4 != 0) payload += '=';
  const auto bytes = decodeBase64(payload);
  if (!bytes) return std::nullopt;
  try {
    const JSON claims = ProviderAnswer::parse(*bytes);
    if (!claims.is_object() || claims.empty()) return std::nullopt;
    const auto it = claims.find("exp");
    if (it == claims.end() || !it->is_number()) return std::nullopt;
    return Date::fromUnix(it->get<double>());
  } catch (const DecodingError&) {
    return std::nullopt;
  }
}

ProviderLimits CodexLimitsProvider::fetch(Date now) {
  try {
    std::optional<ProviderLimits> stored;
    try {
      stored = store_.limits(ProviderID::codex);
    } catch (...) {
      // A store that cannot be read counts as holding nothing.
    }
    // Only good limits short-cut the request: a stored failure is recent too,
    // and must not keep answering it after the user has signed in again.
    if (stored && stored->status == ProviderStatus::ok && now - stored->fetchedAt <= storedLimitsFreshness) {
      return *stored;
    }

    ProviderLimits remote = fetchRemote(now);
    if (remote.status == ProviderStatus::ok || !stored) return remote;
    if (!http_) return *stored;
    ProviderLimits kept = stored->markedStale();
    if (remote.status != ProviderStatus::unavailable) kept.status = remote.status;
    return kept;
  } catch (...) {
    return result(ProviderStatus::unreachable, now);
  }
}

ProviderLimits CodexLimitsProvider::fetchRemote(Date now) {
  if (!http_ || !credentials_) return result(ProviderStatus::unavailable, now);
  std::string bytes;
  try {
    bytes = credentials_->file(codexHome_ / "auth.json");
  } catch (...) {
    return result(ProviderStatus::unavailable, now);
  }
  const auto login = parseLogin(bytes);
  if (!login) return result(ProviderStatus::unavailable, now);
  if (const auto expiry = tokenExpiry(login->accessToken); expiry && *expiry <= now) {
    return result(ProviderStatus::signInNeeded, now);
  }

  HTTPRequest request;
  request.url = endpoint_;
  request.method = "GET";
  request.headers.emplace_back("Authorization", "Bearer " + login->accessToken);
  if (login->accountID && !login->accountID->empty()) request.headers.emplace_back("ChatGPT-Account-Id", *login->accountID);
  request.headers.emplace_back("User-Agent", BuildInfo::userAgent());
  request.timeout = 60;

  HTTPResponse response;
  try {
    response = http_->send(request);
  } catch (...) {
    return result(ProviderStatus::unreachable, now);
  }

  if (response.status >= 200 && response.status <= 299) {
    auto limits = readUsage(response.body);
    if (!limits) return result(ProviderStatus::unreachable, now);
    limits->status = ProviderStatus::ok;
    limits->fetchedAt = now;
    return std::move(*limits);
  }
  if (response.status == 401 || response.status == 403) return result(ProviderStatus::signInNeeded, now);
  if (response.status == 429) return result(ProviderStatus::rateLimited, now);
  return result(ProviderStatus::unreachable, now);
}

}  // namespace tokvane
