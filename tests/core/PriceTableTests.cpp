#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "TokvaneCore/Pricing/PriceTable.hpp"

namespace tokvane {
namespace {

ModelPrice makePrice(double input, double output, double cacheRead, double cacheWrite5m, double cacheWrite1h,
                     std::optional<std::string> proxyFor = std::nullopt) {
  return ModelPrice{input, output, cacheRead, cacheWrite5m, cacheWrite1h, std::move(proxyFor), "test", "2025-10-01"};
}

// The price with a given input price, so a lookup's result tells which key
// it came from.
ModelPrice tagged(double input) { return makePrice(input, 0, 0, 0, 0); }

TEST(PriceTable, PricesEachKindOfTokenAndWhatTheCacheSaved) {
  const TokenCounts tokens{1'000'000, 2'000'000, 100'000, 0, 50'000, 10'000};
  for (const auto& proxyFor : {std::optional<std::string>{}, std::optional<std::string>{"other-model"}}) {
    const PriceTable table({{"m", makePrice(3, 15, 0.3, 3.75, 6, proxyFor)}});
    const PricedCost cost = table.cost("m", tokens, std::nullopt);
    ASSERT_TRUE(cost.breakdown.has_value());
    EXPECT_EQ(*cost.breakdown, (CostBreakdown{3.0, 0.6, 0.375, 0.75, 0}));
    EXPECT_EQ(cost.usd, 4.725);
    EXPECT_EQ(cost.cacheSavingsUSD, 5.4);
    // Borrowed prices make the same figures approximate.
    EXPECT_EQ(cost.approximate, proxyFor.has_value());
  }
}

TEST(PriceTable, FormsEachProductBeforeDividingAndLeavesReasoningUnpriced) {
  const PriceTable table({{"m", makePrice(0.3, 15, 0.3, 3.75, 6)}});
  const PricedCost cost = table.cost("m", TokenCounts{7, 0, 7, 3, 0, 0}, std::nullopt);
  ASSERT_TRUE(cost.breakdown.has_value());
  // 0.3 * 7 / 1e6, not 0.3 * (7 / 1e6) (which is 2.1e-06).
  EXPECT_EQ(cost.breakdown->input, 2.1000000000000002e-06);
  // Both lifetimes are summed before the division: (3.75 * 7 + 6 * 3) / 1e6.
  EXPECT_EQ(cost.breakdown->cacheWrite, 4.425e-05);

  const PricedCost reasoningOnly = table.cost("m", TokenCounts{0, 0, 0, 0, 0, 1'000'000}, std::nullopt);
  EXPECT_EQ(reasoningOnly.usd, 0.0);
}

TEST(PriceTable, CacheReadsDearerThanInputGiveANegativeSaving) {
  const PriceTable table({{"m", makePrice(1, 0, 1.5, 0, 0)}});
  EXPECT_EQ(table.cost("m", TokenCounts{0, 2'000'000, 0, 0, 0, 0}, std::nullopt).cacheSavingsUSD, -1.0);
}

TEST(CostBreakdown, TotalAddsLeftToRightInFieldOrder) {
  // 1e16 + 1 rounds back to 1e16 each time; adding the small parts first
  // would give 1e16 + 2.
  EXPECT_EQ((CostBreakdown{1e16, 1, 1, 0, 0}.total()), 1e16);
  EXPECT_EQ((CostBreakdown{0.1, 0.2, 0.3, 0.4, 0.5}.total()), 0.1 + 0.2 + 0.3 + 0.4 + 0.5);
}

TEST(PriceTable, LooksUpTheExactNameThenTheNameWithoutOneTrailingDateStamp) {
  const PriceTable table({
      {"m-4-5", tagged(1)},
      {"m-4-5-20250929", tagged(2)},
      {"b-20250101", tagged(3)},
      {"a", tagged(4)},
  });
  struct Case {
    const char* model;
    std::optional<double> pricedBy;  // input price of the entry found
  };
  const Case cases[] = {
      {"m-4-5", 1},
      {"m-4-5-20250929", 2},              // the exact name wins over its base
      {"m-4-5-20251001", 1},              // an undated base covers every release
      {"m-4-5-202510011", std::nullopt},  // nine digits are no stamp
      {"m-4-520251001", std::nullopt},    // eight digits without a hyphen
      {"m-4-5_20251001", std::nullopt},
      {"m-4-5-20251001-fast", std::nullopt},  // a stamp not at the end
      {"m-4-5-2025100", std::nullopt},        // seven digits
      {"m-4-5-2025100x", std::nullopt},
      {"b-20250101-20250202", 3},             // only the last stamp goes
      {"a-20250101-20250202", std::nullopt},  // and only one
      {"M-4-5", std::nullopt},                // names are case-sensitive
      {"m-4-5 ", std::nullopt},               // no other normalisation
      {"openai/m-4-5", std::nullopt},
      {"m-4-5-\xd9\xa2\xd9\xa0\xd9\xa2\xd9\xa5", std::nullopt},  // non-ASCII digits
      {"-20250101", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    const ModelPrice* found = table.price(c.model);
    ASSERT_EQ(found != nullptr, c.pricedBy.has_value()) << c.model;
    if (found) {
      EXPECT_EQ(found->input, *c.pricedBy) << c.model;
    }
  }
}

TEST(PriceTable, StampedNameIsPricedByItsBaseEntry) {
  const PriceTable table({{"m-4-5", makePrice(3, 15, 0.3, 3.75, 6)}});
  const TokenCounts tokens{1'000'000, 0, 0, 0, 0, 0};
  EXPECT_EQ(table.cost("m-4-5-20250929", tokens, std::nullopt), table.cost("m-4-5", tokens, std::nullopt));
}

TEST(PriceTable, WithoutAnEntryTheReportedCostStandsAsAnApproximateFigure) {
  const PriceTable table({{"m", makePrice(3, 15, 0.3, 3.75, 6)}});
  const TokenCounts tokens{1'000'000, 2'000'000, 0, 0, 0, 0};
  struct Case {
    const char* model;
    std::optional<double> reported;
    PricedCost expected;
  };
  const Case cases[] = {
      {"unknown", std::nullopt, PricedCost{std::nullopt, std::nullopt, false, 0}},
      {"unknown", 1.5, PricedCost{1.5, CostBreakdown{0, 0, 0, 0, 1.5}, true, 0}},
      {"unknown", 0.0, PricedCost{0.0, CostBreakdown{0, 0, 0, 0, 0}, true, 0}},
      // With an entry the price list wins over the log's own figure.
      {"m", 99.0, PricedCost{3.6, CostBreakdown{3.0, 0.6, 0, 0, 0}, false, 5.4}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(table.cost(c.model, tokens, c.reported), c.expected) << c.model;
  }
}

TEST(PriceTable, ZeroCountsOnAPricedModelCostZeroNotNothing) {
  const PriceTable table({{"m", makePrice(3, 15, 0.3, 3.75, 6)}});
  const PricedCost cost = table.cost("m", TokenCounts::zero(), std::nullopt);
  EXPECT_EQ(cost.usd, 0.0);
  EXPECT_EQ(cost.breakdown, (CostBreakdown{0, 0, 0, 0, 0}));
  EXPECT_FALSE(cost.approximate);
}

TEST(PriceTable, AnEmptyTablePricesNothing) {
  const PriceTable table;
  EXPECT_EQ(table.price("m"), nullptr);
  EXPECT_EQ(table.cost("m", TokenCounts{1, 1, 1, 1, 1, 1}, std::nullopt), PricedCost{});
}

// A resource with one well-formed entry "m"; `entry` replaces its body.
std::string resourceWith(const std::string& entry, const std::string& topLevelExtra = "") {
  return R"({)" + topLevelExtra + R"("models": {"m": )" + entry + "}}";
}

const std::string goodEntry =
    R"({"input": 3, "output": 15, "cacheRead": 0.3, "cacheWrite5m": 3.75, "cacheWrite1h": 6,
        "source": "list", "asOf": "2025-10-01"})";

TEST(PriceTableResource, DecodesEntriesAndIgnoresUnknownKeys) {
  struct Case {
    const char* what;
    std::string text;
    std::optional<std::string> proxyFor;
  };
  const Case cases[] = {
      {"plain", resourceWith(goodEntry), std::nullopt},
      {"extra keys in entry and at top level",
       resourceWith(R"({"input": 3, "output": 15, "cacheRead": 0.3, "cacheWrite5m": 3.75, "cacheWrite1h": 6,
                        "source": "list", "asOf": "2025-10-01", "note": [1, 2], "tier": {"base": 1}})",
                    R"("version": 7, "generatedBy": "someone", )"),
       std::nullopt},
      {"proxyFor null",
       resourceWith(R"({"input": 3, "output": 15, "cacheRead": 0.3, "cacheWrite5m": 3.75, "cacheWrite1h": 6,
                        "proxyFor": null, "source": "list", "asOf": "2025-10-01"})"),
       std::nullopt},
      {"proxyFor",
       resourceWith(R"({"input": 3.0, "output": 15.0, "cacheRead": 0.3, "cacheWrite5m": 3.75, "cacheWrite1h": 6.0,
                        "proxyFor": "n", "source": "list", "asOf": "2025-10-01"})"),
       "n"},
  };
  for (const auto& c : cases) {
    const PriceTable table = PriceTable::fromJSONText(c.text);
    ASSERT_EQ(table.models().size(), 1u) << c.what;
    const ModelPrice* price = table.price("m");
    ASSERT_NE(price, nullptr) << c.what;
    EXPECT_EQ(*price, (ModelPrice{3, 15, 0.3, 3.75, 6, c.proxyFor, "list", "2025-10-01"})) << c.what;
  }
  EXPECT_TRUE(PriceTable::fromJSONText(R"({"models": {}})").models().empty());
}

TEST(PriceTableResource, OneBadEntryOrAMalformedFileLeavesTheTableEmpty) {
  const std::string withoutSource =
      R"({"models": {"a": )" + goodEntry +
      R"(, "b": {"input": 3, "output": 15, "cacheRead": 0.3, "cacheWrite5m": 3.75, "cacheWrite1h": 6,
                 "asOf": "2025-10-01"}}})";
  const auto entryWith = [](const std::string& replacedKeyAndValue) {
    std::string entry = goodEntry;
    entry.replace(entry.find(R"("input": 3)"), std::string(R"("input": 3)").size(), replacedKeyAndValue);
    return resourceWith(entry);
  };
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"one entry of two without source", withoutSource},
      {"malformed JSON", R"({"models": {"m": )" + goodEntry},
      {"empty text", ""},
      {"no models key", R"({"prices": {"m": )" + goodEntry + "}}"},
      {"models is null", R"({"models": null})"},
      {"models is a list", R"({"models": [)" + goodEntry + "]}"},
      {"top level is a list", "[" + goodEntry + "]"},
      {"entry is not an object", R"({"models": {"m": 3}})"},
      {"price as text", entryWith(R"("input": "3")")},
      {"price is null", entryWith(R"("input": null)")},
      {"price missing", entryWith(R"("inputs": 3)")},
      {"negative price", entryWith(R"("input": -3)")},
      {"price beyond a double", entryWith(R"("input": 1e400)")},
      {"price at the largest double", entryWith(R"("input": 1.7976931348623157e308)")},
      {"proxyFor not a string", entryWith(R"("input": 3, "proxyFor": 1)")},
      {"asOf not a string", R"({"models": {"m": {"input": 3, "output": 15, "cacheRead": 0.3, "cacheWrite5m": 3.75,
                                            "cacheWrite1h": 6, "source": "list", "asOf": 20251001}}})"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(PriceTable::fromJSONText(c.text).models().empty()) << c.what;
  }
}

TEST(PriceTableResource, RecordsRoundTripThroughKeyedJSON) {
  for (const auto& price : {makePrice(3, 15, 0.3, 3.75, 6), makePrice(0.25, 2, 0.025, 0.25, 0.25, "gpt-5")}) {
    const JSON json = price.toJSON();
    EXPECT_EQ(json.contains("proxyFor"), price.proxyFor.has_value());
    EXPECT_EQ(ModelPrice::fromJSON(json), price);
  }
  const CostBreakdown breakdown{1, 0.5, 0.25, 2, 0.125};
  EXPECT_EQ(CostBreakdown::fromJSON(breakdown.toJSON()), breakdown);
  JSON incomplete = breakdown.toJSON();
  incomplete.erase("other");
  EXPECT_THROW(CostBreakdown::fromJSON(incomplete), DecodingError);
}

TEST(PriceTableResource, BundledTablePricesTheNamesRealLogsCarry) {
  const PriceTable table = PriceTable::bundled();
  ASSERT_FALSE(table.models().empty()) << "the embedded prices.json did not decode";
  for (const char* model : {"claude-sonnet-4-5-20250929", "claude-opus-4-1-20250805", "claude-haiku-4-5-20251001",
                            "gpt-5-codex", "gpt-5.1-codex-mini", "grok-code-fast-1"}) {
    const ModelPrice* price = table.price(model);
    ASSERT_NE(price, nullptr) << model;
    EXPECT_GT(price->input, 0) << model;
    EXPECT_GT(price->output, 0) << model;
    EXPECT_FALSE(price->source.empty()) << model;
  }
}

}  // namespace
}  // namespace tokvane
