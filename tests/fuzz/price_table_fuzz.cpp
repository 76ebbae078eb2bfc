// The price resource read from any text. Decoding fails only with a
// DecodingError, and then the table is empty; otherwise the table holds
// every entry, writes and reads back to the same table, finds each entry by
// its name and by its name with a date stamp, and prices with it.

#include <optional>
#include <string>
#include <unordered_map>

#include "FuzzCheck.hpp"
#include "TokvaneCore/Pricing/PriceTable.hpp"

using namespace tokvane;

namespace {

using Entries = std::unordered_map<std::string, ModelPrice>;

// The resource decoded step by step, letting any error but a DecodingError out.
std::optional<Entries> decodeEntries(std::string_view text) {
  try {
    const JSON file = keyed::parse(text);
    const JSON& models = keyed::required(file, "models");
    keyed::requireObject(models, "models");
    Entries entries;
    for (const auto& [name, price] : models.items()) entries.insert_or_assign(name, ModelPrice::fromJSON(price));
    return entries;
  } catch (const DecodingError&) {
    return std::nullopt;
  }
}

bool sameEntries(const PriceTable::Models& models, const Entries& entries) {
  if (models.size() != entries.size()) return false;
  for (const auto& [name, price] : entries) {
    const auto it = models.find(name);
    if (it == models.end() || !(it->second == price)) return false;
  }
  return true;
}

std::string encode(const PriceTable& table) {
  JSON models = JSON::object();
  for (const auto& [name, price] : table.models()) models[name] = price.toJSON();
  JSON file = JSON::object();
  file["models"] = std::move(models);
  return file.dump();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::text(data, size);
  const PriceTable table = PriceTable::fromJSONText(text);
  const auto entries = decodeEntries(text);
  if (!entries) {
    FUZZ_CHECK(table.models().empty());
    return 0;
  }
  FUZZ_CHECK(sameEntries(table.models(), *entries));

  const PriceTable back = PriceTable::fromJSONText(encode(table));
  FUZZ_CHECK(sameEntries(back.models(), *entries));

  const TokenCounts tokens{1'000'000, 2'000'000, 100'000, 30'000, 50'000, 10'000};
  for (const auto& [name, price] : table.models()) {
    FUZZ_CHECK(table.price(name) == &price);
    const std::string dated = name + "-20250929";
    const auto exact = table.models().find(dated);
    FUZZ_CHECK(table.price(dated) == (exact != table.models().end() ? &exact->second : &price));

    const PricedCost cost = table.cost(name, tokens, 123.0);
    FUZZ_CHECK(cost.usd.has_value() && cost.breakdown.has_value());
    FUZZ_CHECK(*cost.usd == cost.breakdown->total());
    FUZZ_CHECK(cost.breakdown->other == 0);
    FUZZ_CHECK(cost.approximate == price.proxyFor.has_value());
  }
  return 0;
}
