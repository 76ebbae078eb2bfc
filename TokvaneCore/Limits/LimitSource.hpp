#pragma once

#include "TokvaneCore/Foundation/KeyedJSON.hpp"

namespace tokvane {

// Where a window's numbers came from: the provider's endpoint (live), the
// tool's own log as of a time (local), or kept after a failed attempt (stale).
struct LimitSource {
  enum class Kind { live, local, stale };
  Kind kind = Kind::live;
  Date asOf;  // meaningful for local and stale only

  static LimitSource live() { return {Kind::live, Date{}}; }
  static LimitSource local(Date asOf) { return {Kind::local, asOf}; }
  static LimitSource stale(Date asOf) { return {Kind::stale, asOf}; }

  bool isStale() const { return kind == Kind::stale; }

  friend bool operator==(const LimitSource& a, const LimitSource& b) {
    return a.kind == b.kind && (a.kind == Kind::live || a.asOf == b.asOf);
  }

  JSON toJSON(DateCoding coding) const;
  static LimitSource fromJSON(const JSON& json, DateCoding coding);
};

}  // namespace tokvane
