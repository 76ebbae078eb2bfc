#pragma once

#include <optional>
#include <string>

#include "TokvaneCore/Foundation/KeyedJSON.hpp"

namespace tokvane {

// One model's pay-as-you-go prices, in US dollars per 1,000,000 tokens.
struct ModelPrice {
  double input = 0;  // uncached input
  double output = 0;
  double cacheRead = 0;     // input served from the prompt cache
  double cacheWrite5m = 0;  // input written to the cache for five minutes
  double cacheWrite1h = 0;  // input written to the cache for one hour
  // Set when these prices are borrowed from the named model rather than
  // published for this one; every cost priced from the entry is then
  // approximate. The name is never looked up.
  std::optional<std::string> proxyFor;
  std::string source;  // where the prices were taken from
  std::string asOf;    // when, as free text

  friend bool operator==(const ModelPrice&, const ModelPrice&) = default;

  JSON toJSON() const;
  // The five prices, "source" and "asOf" are required; "proxyFor" may be
  // missing or null; other keys are ignored. A price must be a finite,
  // non-negative number.
  static ModelPrice fromJSON(const JSON& json);
};

}  // namespace tokvane
