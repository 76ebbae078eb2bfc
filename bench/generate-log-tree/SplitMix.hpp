#pragma once

#include <cmath>
#include <cstdint>
#include <string>

namespace tokvane::bench {

// A small deterministic random source (splitmix64): the same tree on every
// platform for a given seed.
class SplitMix {
 public:
  explicit SplitMix(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 0x632BE59BD9B4E019ULL) {}

  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  uint64_t below(uint64_t bound) { return bound == 0 ? 0 : next() % bound; }
  // Uniform in [0, 1).
  double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
  // Log-uniform between low and high.
  double logUniform(double low, double high) { return low * std::exp(unit() * std::log(high / low)); }
  bool chance(double probability) { return unit() < probability; }

  std::string hex(size_t digits) {
    static constexpr char alphabet[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < digits; ++i) text += alphabet[below(16)];
    return text;
  }
  std::string token(const char* prefix, size_t length) {
    static constexpr char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::string text = prefix;
    for (size_t i = 0; i < length; ++i) text += alphabet[below(sizeof alphabet - 1)];
    return text;
  }
  std::string uuid() { return hex(8) + "-" + hex(4) + "-4" + hex(3) + "-a" + hex(3) + "-" + hex(12); }

 private:
  uint64_t state_;
};

}  // namespace tokvane::bench
