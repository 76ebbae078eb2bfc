#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "TokvaneCore/Pricing/ModelPrice.hpp"
#include "TokvaneCore/Pricing/PricedCost.hpp"
#include "TokvaneCore/Usage/TokenCounts.hpp"

namespace tokvane {

// Prices by model name (compared exactly, case-sensitive) and the cost of a
// token count. Immutable once built, so one table is shared freely between
// threads.
class PriceTable {
 public:
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
  };
  using Models = std::unordered_map<std::string, ModelPrice, NameHash, std::equal_to<>>;

  // A table that prices nothing.
  PriceTable() = default;
  explicit PriceTable(std::unordered_map<std::string, ModelPrice> models);

  // The table of the price resource embedded in the core library. Never
  // fails: a missing resource or one that does not decode in full (malformed
  // JSON, a missing "models", a single bad entry) gives an empty table.
  static PriceTable bundled();
  // The same decoding applied to a given text, with the same outcome on
  // failure.
  static PriceTable fromJSONText(std::string_view text);

  const Models& models() const { return models_; }

  // The entry for `model`, else the entry for `model` without one trailing
  // date stamp ("-" and exactly eight ASCII digits), else none. The pointer
  // lives as long as the table.
  const ModelPrice* price(std::string_view model) const;

  // The cost of `tokens` spent on `model`. With an entry, the price list
  // decides and `reportedUSD` (what the tool's own log reported) is ignored;
  // without one, the reported cost, if any, stands as an approximate figure.
  // Reasoning tokens are never priced.
  PricedCost cost(std::string_view model, const TokenCounts& tokens, std::optional<double> reportedUSD) const;

 private:
  Models models_;
};

}  // namespace tokvane
