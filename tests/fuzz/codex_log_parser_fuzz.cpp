// The Codex log parser over a file's worth of lines, in order: never crashes,
// parses the same in place as from a copy, keeps the indexer's own context
// keys, and yields only Codex usage events without negative counts and
// limits records that the ledger can store (no non-finite number) and that
// are not dated more than the allowed skew after `now`.

#include <simdjson.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "FuzzCheck.hpp"
#include "TokvaneCore/Parsers/CodexLogParser.hpp"

using namespace tokvane;

namespace {

// 2030-01-01T00:00:00Z
const Date now = Date::fromUnix(1893456000);

const std::map<std::string, std::string> indexerContext = {{"provider", "codex"}, {"note", "kept as is"}};

void checkIndexerKeys(const std::map<std::string, std::string>& context) {
  for (const auto& [key, value] : indexerContext) {
    const auto it = context.find(key);
    FUZZ_CHECK(it != context.end() && it->second == value);
  }
  for (const auto& [key, value] : context) {
    FUZZ_CHECK(key == "session" || key == "model" || key == CodexLogParser::usageRecordsKey ||
               key == CodexLogParser::tokenTotalKey || indexerContext.contains(key));
  }
}

void checkUsage(const UsageEvent& event, const std::map<std::string, std::string>& context) {
  FUZZ_CHECK(event.provider == ProviderID::codex);
  FUZZ_CHECK(fuzz::nonNegative(event.tokens));
  FUZZ_CHECK(event.tokens.cacheWrite1h == 0);
  FUZZ_CHECK(fuzz::isFinite(event.timestamp));
  FUZZ_CHECK(!event.reportedCostUSD.has_value());
  const auto model = context.find("model");
  FUZZ_CHECK(event.model == (model != context.end() ? model->second : "unknown"));
  if (const auto session = context.find("session"); session != context.end()) {
    FUZZ_CHECK(event.sessionID == session->second);
  }
}

void checkLimits(const ProviderLimits& limits) {
  FUZZ_CHECK(limits.status == ProviderStatus::ok);
  FUZZ_CHECK(fuzz::isFinite(limits.fetchedAt));
  FUZZ_CHECK(limits.fetchedAt - now <= CodexLogParser::maxLimitsClockSkew);
  FUZZ_CHECK(!limits.windows.empty() || limits.credits.has_value());
  FUZZ_CHECK(limits.windows.size() <= 2);
  for (size_t i = 0; i < limits.windows.size(); ++i) {
    const LimitWindow& window = limits.windows[i];
    FUZZ_CHECK(window.id == "session" || window.id == "weekly");
    if (i == 1) FUZZ_CHECK(window.id == "weekly" && limits.windows[0].id == "session");
    FUZZ_CHECK(window.usedFraction >= 0 && window.usedFraction <= 1);
    FUZZ_CHECK(window.source == LimitSource::local(limits.fetchedAt));
  }
  if (limits.credits) {
    FUZZ_CHECK(limits.credits->label == "Credits");
    FUZZ_CHECK(!limits.credits->spentUSD && !limits.credits->limitUSD);
  }
  if (limits.plan) FUZZ_CHECK(!limits.plan->empty());

  // What the store writes, and reads back unchanged.
  const JSON json = limits.toJSON(DateCoding::referenceSeconds);
  const ProviderLimits back =
      ProviderLimits::fromJSON(keyed::parse(json.dump()), DateCoding::referenceSeconds);
  FUZZ_CHECK(back == limits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input = fuzz::text(data, size);
  CodexLogParser fromCopy(indexerContext, now);
  CodexLogParser inPlace(indexerContext, now);
  std::vector<char> padded;

  size_t start = 0;
  while (start <= input.size()) {
    size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    const std::string_view line = input.substr(start, end - start);
    start = end + 1;

    // In place: the bytes after the line are the rest of the file, then padding.
    const std::string_view after = input.substr(end, simdjson::SIMDJSON_PADDING);
    padded.assign(line.begin(), line.end());
    padded.insert(padded.end(), after.begin(), after.end());
    padded.resize(line.size() + simdjson::SIMDJSON_PADDING, '}');

    const auto before = fromCopy.context();
    const auto result = fromCopy.consume(line);
    FUZZ_CHECK(inPlace.consume(std::string_view(padded.data(), line.size()), true) == result);
    FUZZ_CHECK(inPlace.context() == fromCopy.context());
    checkIndexerKeys(fromCopy.context());

    if (!result) continue;
    // Only lines that yield nothing set the session or the model.
    for (const char* key : {"session", "model"}) {
      FUZZ_CHECK(fromCopy.context().contains(key) == before.contains(key));
      if (before.contains(key)) FUZZ_CHECK(fromCopy.context().at(key) == before.at(key));
    }
    if (const UsageEvent* event = result->usageEvent()) checkUsage(*event, before);
    if (const ProviderLimits* limits = result->limitsRecord()) checkLimits(*limits);
  }
  return 0;
}
