#pragma once

#include "TokvaneCore/Foundation/KeyedJSON.hpp"

namespace tokvane {

// A cost in US dollars split by kind of token.
struct CostBreakdown {
  double input = 0;  // uncached input
  double cacheRead = 0;
  double cacheWrite = 0;  // both cache lifetimes together
  double output = 0;
  double other = 0;  // not split by kind: a cost the log itself reported

  // The five parts added left to right in field order.
  double total() const;

  friend bool operator==(const CostBreakdown&, const CostBreakdown&) = default;

  JSON toJSON() const;
  // All five keys are required.
  static CostBreakdown fromJSON(const JSON& json);
};

}  // namespace tokvane
