#pragma once

namespace tokvane {

// What an index run did.
struct IndexOutcome {
  // Usage events the run added to the ledger that it had not counted before.
  int newEvents = 0;
  // Whether the run stored Codex limits read from the logs.
  bool codexLimitsUpdated = false;

  friend bool operator==(const IndexOutcome&, const IndexOutcome&) = default;
};

}  // namespace tokvane
