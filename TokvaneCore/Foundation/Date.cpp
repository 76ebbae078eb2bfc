#include "TokvaneCore/Foundation/Date.hpp"

#include <chrono>

namespace tokvane {

Date Date::now() {
  using namespace std::chrono;
  const auto sinceEpoch = duration_cast<duration<double>>(system_clock::now().time_since_epoch());
  return Date::fromUnix(sinceEpoch.count());
}

}  // namespace tokvane
