#pragma once

#include <cstdint>
#include <string>

#include "TokvaneCore/Foundation/Date.hpp"

namespace tokvane::bench {

// A Grok session's "usage.json": one document with the session's turns,
// each with its times, prompt and per-model usage; the last turn of a
// running session has no end time yet.
struct GrokSessionShape {
  // About `bytes` bytes; `modified` receives the time of the last turn.
  static std::string make(uint64_t seed, Date start, size_t bytes, bool running, Date& modified);
};

}  // namespace tokvane::bench
