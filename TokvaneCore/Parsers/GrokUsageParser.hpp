#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "TokvaneCore/Usage/UsageEvent.hpp"

namespace tokvane {

// Reads a Grok session's "usage.json": one JSON document that grows turn by
// turn, so it is read whole and only the turns after the last one taken
// become events. Stateless; callable from any thread.
struct GrokUsageParser {
  struct Result {
    std::vector<UsageEvent> events;
    // The last turn that is finished for good: turns up to it need not be
    // read again. Equal to the caller's afterTurn when nothing advanced.
    int64_t lastTurn = 0;

    friend bool operator==(const Result&, const Result&) = default;
  };

  // The events of the turns numbered above `afterTurn`, ordered by turn and,
  // within a turn, by model name. A file that does not parse or lacks a
  // session id or a proper turns array gives no events and `afterTurn`.
  // Never throws.
  static Result events(std::string_view data, int64_t afterTurn);
};

}  // namespace tokvane
