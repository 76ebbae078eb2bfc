#include "TokvaneCore/Providers/ClaudeLimitsProvider.hpp"

#include <cmath>
#include <set>

#include "TokvaneCore/Foundation/BuildInfo.hpp"
#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Providers/ProviderAnswer.hpp"

namespace tokvane {

namespace {

using ProviderAnswer::optionalNumber;
using ProviderAnswer::optionalObject;

constexpr double sessionDuration = 18000;
constexpr double weekDuration = 604800;
// Used when an answer gives no usable number of decimal places.
constexpr int defaultDecimalPlaces = 2;
constexpr int maxDecimalPlaces = 10;

struct OAuth {
  std::string accessToken;
  std::optional<Date> expiresAt;
  std::optional<std::string> subscriptionType;
};

// The login Claude Code stored: {"claudeAiOauth": {"accessToken", "expiresAt"
// (milliseconds since 1970), "subscriptionType"}}. None when it is not
// readable or has no token.
std::optional<OAuth> parseCredentials(std::string_view text) {
  try {
    const JSON root = ProviderAnswer::parse(text);
    keyed::requireObject(root, "credentials");
    const JSON* inner = optionalObject(root, "claudeAiOauth");
    if (!inner) return std::nullopt;
    auto token = keyed::optionalString(*inner, "accessToken");
    const auto expiresAtMilliseconds = optionalNumber(*inner, "expiresAt");
    auto subscription = keyed::optionalString(*inner, "subscriptionType");
    if (!token || token->empty()) return std::nullopt;
    OAuth oauth;
    oauth.accessToken = std::move(*token);
    if (expiresAtMilliseconds) oauth.expiresAt = Date::fromUnix(*expiresAtMilliseconds / 1000);
    oauth.subscriptionType = std::move(subscription);
    return oauth;
  } catch (const DecodingError&) {
    return std::nullopt;
  }
}

// One window of the older answer form: {"utilization", "resets_at"}.
struct WindowForm {
  std::optional<double> utilization;
  std::optional<std::string> resetsAt;
};

std::optional<WindowForm> decodeWindowForm(const JSON& answer, std::string_view key) {
  const JSON* object = optionalObject(answer, key);
  if (!object) return std::nullopt;
  return WindowForm{optionalNumber(*object, "utilization"), keyed::optionalString(*object, "resets_at")};
}

// One entry of the newer "limits" list.
struct LimitForm {
  std::optional<std::string> kind;
  std::optional<double> percent;
  std::optional<std::string> resetsAt;
  std::optional<std::string> modelName;  // scope.model.display_name
};

LimitForm decodeLimitForm(const JSON& entry) {
  keyed::requireObject(entry, "limits");
  LimitForm limit;
  limit.kind = keyed::optionalString(entry, "kind");
  limit.percent = optionalNumber(entry, "percent");
  limit.resetsAt = keyed::optionalString(entry, "resets_at");
  if (const JSON* scope = optionalObject(entry, "scope")) {
    if (const JSON* model = optionalObject(*scope, "model")) limit.modelName = keyed::optionalString(*model, "display_name");
  }
  return limit;
}

struct ExtraForm {
  std::optional<bool> isEnabled;
  std::optional<double> monthlyLimit;
  std::optional<double> usedCredits;
  std::optional<double> decimalPlaces;
};

std::optional<ExtraForm> decodeExtraForm(const JSON& answer) {
  const JSON* object = optionalObject(answer, "extra_usage");
  if (!object) return std::nullopt;
  ExtraForm extra;
  if (const JSON* enabled = keyed::optional(*object, "is_enabled")) extra.isEnabled = keyed::decodeBool(*enabled, "is_enabled");
  extra.monthlyLimit = optionalNumber(*object, "monthly_limit");
  extra.usedCredits = optionalNumber(*object, "used_credits");
  extra.decimalPlaces = optionalNumber(*object, "decimal_places");
  return extra;
}

// An ISO 8601 reset time, with or without a fraction; none when absent,
// unreadable or outside the years 1970 to 9999.
std::optional<Date> parseResetDate(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const auto date = ISO8601::parse(*text);
  if (!date || !ProviderAnswer::isPlausibleDate(*date)) return std::nullopt;
  return date;
}

LimitWindow makeWindow(std::string id, std::string label, double percent, double duration,
                       const std::optional<std::string>& resetText) {
  return LimitWindow(std::move(id), std::move(label), percent / 100, duration, parseResetDate(resetText),
                     LimitSource::live());
}

const LimitForm* firstOfKind(const std::vector<LimitForm>& limits, std::string_view kind) {
  for (const auto& limit : limits) {
    if (limit.kind == kind) return &limit;
  }
  return nullptr;
}

// The session or weekly window: the older form's percent wins when it has
// one; the reset time comes from where the percent came from, falling back
// to the newer entry's.
std::optional<LimitWindow> mainWindow(std::string id, std::string label, double duration,
                                      const std::optional<WindowForm>& older, const LimitForm* newer) {
  const bool olderCounts = older && older->utilization;
  std::optional<double> percent;
  std::optional<std::string> resetText;
  if (olderCounts) {
    percent = older->utilization;
    resetText = older->resetsAt;
  } else if (newer) {
    percent = newer->percent;
  }
  if (!percent) return std::nullopt;
  if (!resetText && newer) resetText = newer->resetsAt;
  return makeWindow(std::move(id), std::move(label), *percent, duration, resetText);
}

std::string scopedWindowID(std::string_view modelName) {
  std::string id = "weekly.";
  for (const char c : modelName) {
    if (c == ' ') {
      id += '-';
    } else if (c >= 'A' && c <= 'Z') {
      id += static_cast<char>(c - 'A' + 'a');
    } else {
      id += c;
    }
  }
  return id;
}

std::vector<LimitWindow> mapWindows(const std::optional<WindowForm>& fiveHour, const std::optional<WindowForm>& sevenDay,
                                    const std::optional<WindowForm>& sevenDayOpus,
                                    const std::optional<WindowForm>& sevenDaySonnet, const std::vector<LimitForm>& limits) {
  std::vector<LimitWindow> windows;
  if (auto session = mainWindow("session", "Session", sessionDuration, fiveHour, firstOfKind(limits, "session"))) {
    windows.push_back(std::move(*session));
  }
  if (auto weekly = mainWindow("weekly", "Weekly", weekDuration, sevenDay, firstOfKind(limits, "weekly_all"))) {
    windows.push_back(std::move(*weekly));
  }

  std::set<std::string> claimed;
  for (const auto& limit : limits) {
    if (limit.kind != "weekly_scoped" || !limit.modelName || limit.modelName->empty()) continue;
    std::string id = scopedWindowID(*limit.modelName);
    if (!claimed.insert(id).second) continue;
    if (!limit.percent) continue;  // the id stays claimed
    windows.push_back(makeWindow(std::move(id), "Weekly \u00B7 " + *limit.modelName, *limit.percent, weekDuration,
                                 limit.resetsAt));
  }

  const std::pair<const char*, const std::optional<WindowForm>*> olderScoped[] = {{"Opus", &sevenDayOpus},
                                                                                   {"Sonnet", &sevenDaySonnet}};
  for (const auto& [name, form] : olderScoped) {
    if (!*form || !(*form)->utilization) continue;
    const std::string id = scopedWindowID(name);
    bool covered = false;
    for (const auto& other : claimed) covered = covered || other.starts_with(id);
    if (covered) continue;
    claimed.insert(id);
    windows.push_back(makeWindow(id, std::string("Weekly \u00B7 ") + name, *(*form)->utilization, weekDuration,
                                 (*form)->resetsAt));
  }
  return windows;
}

std::optional<double> finiteOrNone(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<Credits> mapCredits(const std::optional<ExtraForm>& extra) {
  if (!extra || extra->isEnabled != true) return std::nullopt;
  if (!extra->monthlyLimit && !extra->usedCredits) return std::nullopt;
  int places = defaultDecimalPlaces;
  if (const auto given = extra->decimalPlaces;
      given && *given >= 0 && *given <= maxDecimalPlaces && std::trunc(*given) == *given) {
    places = static_cast<int>(*given);
  }
  const double divisor = std::pow(10.0, places);
  Credits credits;
  credits.label = "Extra usage";
  if (extra->usedCredits) credits.spentUSD = finiteOrNone(*extra->usedCredits / divisor);
  if (extra->monthlyLimit) credits.limitUSD = finiteOrNone(*extra->monthlyLimit / divisor);
  credits.unlimited = false;
  return credits;
}

ProviderLimits result(ProviderStatus status, std::optional<std::string> plan, Date now) {
  ProviderLimits limits;
  limits.plan = std::move(plan);
  limits.status = status;
  limits.fetchedAt = now;
  return limits;
}

}  // namespace

ClaudeLimitsProvider::ClaudeLimitsProvider(std::shared_ptr<CredentialSource> credentials,
                                           std::shared_ptr<HTTPClient> http, std::string baseURL)
    : credentials_(std::move(credentials)), http_(std::move(http)), endpoint_(baseURL + std::string(usagePath)) {}

std::optional<ClaudeLimitsProvider::Usage> ClaudeLimitsProvider::readUsage(std::string_view body) {
  try {
    const JSON answer = ProviderAnswer::parse(body);
    keyed::requireObject(answer, "usage");
    const auto fiveHour = decodeWindowForm(answer, "five_hour");
    const auto sevenDay = decodeWindowForm(answer, "seven_day");
    const auto sevenDayOpus = decodeWindowForm(answer, "seven_day_opus");
    const auto sevenDaySonnet = decodeWindowForm(answer, "seven_day_sonnet");
    std::vector<LimitForm> limits;
    if (const JSON* list = keyed::optional(answer, "limits")) {
      if (!list->is_array()) return std::nullopt;
      for (const auto& entry : *list) limits.push_back(decodeLimitForm(entry));
    }
    const auto extra = decodeExtraForm(answer);
    Usage usage;
    usage.windows = mapWindows(fiveHour, sevenDay, sevenDayOpus, sevenDaySonnet, limits);
    usage.credits = mapCredits(extra);
    return usage;
  } catch (const DecodingError&) {
    return std::nullopt;
  }
}

ProviderLimits ClaudeLimitsProvider::fetch(Date now) {
  try {
    return fetchUnguarded(now);
  } catch (...) {
    // Nothing below is expected to throw; should it (out of memory), the
    // attempt simply did not reach the provider.
    return result(ProviderStatus::unreachable, std::nullopt, now);
  }
}

ProviderLimits ClaudeLimitsProvider::fetchUnguarded(Date now) {
  if (!credentials_) return result(ProviderStatus::unavailable, std::nullopt, now);
  std::string secret;
  try {
    secret = credentials_->keychainSecret(std::string(keychainService));
  } catch (const CredentialError& error) {
    const bool refused = error.kind() == CredentialError::Kind::denied;
    return result(refused ? ProviderStatus::accessDenied : ProviderStatus::unavailable, std::nullopt, now);
  } catch (...) {
    return result(ProviderStatus::unavailable, std::nullopt, now);
  }

  const auto oauth = parseCredentials(secret);
  if (!oauth) return result(ProviderStatus::unavailable, std::nullopt, now);
  const auto plan = ProviderAnswer::planName(oauth->subscriptionType);
  if (oauth->expiresAt && *oauth->expiresAt <= now) return result(ProviderStatus::signInNeeded, plan, now);
  if (!http_) return result(ProviderStatus::unavailable, plan, now);

  HTTPRequest request;
  request.url = endpoint_;
  request.method = "GET";
  request.headers = {{"Authorization", "Bearer " + oauth->accessToken},
                     {"anthropic-beta", std::string(betaHeaderValue)},
                     {"User-Agent", BuildInfo::userAgent()}};
  request.timeout = 60;

  HTTPResponse response;
  try {
    response = http_->send(request);
  } catch (...) {
    return result(ProviderStatus::unreachable, plan, now);
  }

  if (response.status >= 200 && response.status <= 299) {
    auto usage = readUsage(response.body);
    if (!usage) return result(ProviderStatus::unreachable, plan, now);
    ProviderLimits limits = result(ProviderStatus::ok, plan, now);
    limits.windows = std::move(usage->windows);
    limits.credits = std::move(usage->credits);
    return limits;
  }
  if (response.status == 401 || response.status == 403) return result(ProviderStatus::signInNeeded, plan, now);
  if (response.status == 429) return result(ProviderStatus::rateLimited, plan, now);
  return result(ProviderStatus::unreachable, plan, now);
}

}  // namespace tokvane
