#include "TokvaneCore/Pricing/PriceTable.hpp"

#include <utility>

#include "TokvaneCore/Foundation/CoreResources.hpp"

namespace tokvane {

namespace {

constexpr double perMillion = 1'000'000.0;
constexpr std::size_t stampDigits = 8;

// The name without its date stamp when it ends in "-" and exactly eight ASCII
// digits; otherwise none. A ninth digit before the eight, or no hyphen, means
// there is no stamp.
std::optional<std::string_view> withoutDateStamp(std::string_view model) {
  if (model.size() < stampDigits + 1) return std::nullopt;
  const std::size_t hyphen = model.size() - stampDigits - 1;
  if (model[hyphen] != '-') return std::nullopt;
  for (std::size_t i = hyphen + 1; i < model.size(); ++i) {
    if (model[i] < '0' || model[i] > '9') return std::nullopt;
  }
  return model.substr(0, hyphen);
}

PriceTable::Models decodeModels(std::string_view text) {
  const JSON file = keyed::parse(text);
  const JSON& models = keyed::required(file, "models");
  keyed::requireObject(models, "models");
  PriceTable::Models decoded;
  decoded.reserve(models.size());
  for (const auto& [name, price] : models.items()) {
    decoded.insert_or_assign(name, ModelPrice::fromJSON(price));
  }
  return decoded;
}

}  // namespace

PriceTable::PriceTable(std::unordered_map<std::string, ModelPrice> models) {
  models_.reserve(models.size());
  for (auto& [name, price] : models) models_.emplace(name, std::move(price));
}

PriceTable PriceTable::bundled() {
  const auto text = CoreResources::data("prices.json");
  if (!text) return PriceTable();
  return fromJSONText(*text);
}

PriceTable PriceTable::fromJSONText(std::string_view text) {
  PriceTable table;
  try {
    table.models_ = decodeModels(text);
  } catch (...) {
    // One bad entry rejects the whole resource; every model goes unpriced.
    return PriceTable();
  }
  return table;
}

const ModelPrice* PriceTable::price(std::string_view model) const {
  if (const auto it = models_.find(model); it != models_.end()) return &it->second;
  const auto base = withoutDateStamp(model);
  if (!base) return nullptr;
  if (const auto it = models_.find(*base); it != models_.end()) return &it->second;
  return nullptr;
}

PricedCost PriceTable::cost(std::string_view model, const TokenCounts& tokens,
                            std::optional<double> reportedUSD) const {
  PricedCost result;
  if (const ModelPrice* p = price(model)) {
    const auto count = [](int64_t n) { return static_cast<double>(n); };
    // Each product is formed first and only then divided by a million.
    CostBreakdown breakdown;
    breakdown.input = p->input * count(tokens.uncachedInput) / perMillion;
    breakdown.cacheRead = p->cacheRead * count(tokens.cacheRead) / perMillion;
    breakdown.cacheWrite =
        (p->cacheWrite5m * count(tokens.cacheWrite5m) + p->cacheWrite1h * count(tokens.cacheWrite1h)) / perMillion;
    breakdown.output = p->output * count(tokens.output) / perMillion;
    breakdown.other = 0;
    result.usd = breakdown.total();
    result.breakdown = breakdown;
    result.approximate = p->proxyFor.has_value();
    result.cacheSavingsUSD = (p->input - p->cacheRead) * count(tokens.cacheRead) / perMillion;
    return result;
  }
  if (reportedUSD) {
    result.usd = *reportedUSD;
    result.breakdown = CostBreakdown{0, 0, 0, 0, *reportedUSD};
    result.approximate = true;
  }
  return result;
}

}  // namespace tokvane
