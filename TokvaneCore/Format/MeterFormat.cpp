#include "TokvaneCore/Format/MeterFormat.hpp"

#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

namespace tokvane::MeterFormat {

namespace {

// U+2014 EM DASH in UTF-8: the text of a missing amount or an unusable span.
constexpr std::string_view emDash = "\xE2\x80\x94";

// Room for any double in fixed notation: 309 integer digits, sign, point, decimals.
constexpr std::size_t numberBufferSize = 512;

std::string integerText(int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// `value` with exactly `decimals` fraction digits, rounded like printf("%.Nf")
// (std::to_chars rounds the exact binary value correctly) and never localised.
std::string fixedText(double value, int decimals) {
  char buffer[numberBufferSize];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return std::string(emDash);
  return std::string(buffer, result.ptr);
}

// The shortest decimal that reads back as `magnitude` (finite, > 0):
// value = digits[0] . digits[1...] × 10^exponent, no trailing zero digits.
struct ShortestDecimal {
  std::string digits;
  int exponent = 0;
};

ShortestDecimal shortestDecimal(double magnitude) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t e = text.find('e');

  ShortestDecimal decimal;
  for (char c : text.substr(0, e)) {
    if (c != '.') decimal.digits.push_back(c);
  }
  while (decimal.digits.size() > 1 && decimal.digits.back() == '0') decimal.digits.pop_back();

  std::string_view exponent = text.substr(e + 1);
  bool negative = false;
  if (!exponent.empty() && (exponent.front() == '+' || exponent.front() == '-')) {
    negative = exponent.front() == '-';
    exponent.remove_prefix(1);
  }
  int value = 0;
  std::from_chars(exponent.data(), exponent.data() + exponent.size(), value);
  decimal.exponent = negative ? -value : value;
  return decimal;
}

// Adds one to a string of decimal digits ("" counts as 0).
void incrementDigits(std::string& digits) {
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (*it != '9') {
      ++*it;
      return;
    }
    *it = '0';
  }
  digits.insert(digits.begin(), '1');
}

// The number of whole cents in `magnitude` (finite, >= 0), as decimal digits.
//
// Rounding is half to even on the shortest round-trip decimal of the double,
// not on its exact binary value. 2.675 is stored as 2.67499999999999982...,
// but it reads as "2.675", which is the amount the user and the price table
// mean, so it rounds half-even to 2.68; 0.015 gives 0.02 and 0.125 gives 0.12.
std::string roundedCents(double magnitude) {
  if (magnitude == 0) return "0";
  const ShortestDecimal decimal = shortestDecimal(magnitude);
  const auto count = static_cast<long>(decimal.digits.size());
  // Significant digits at or above the hundredths place.
  const long keep = static_cast<long>(decimal.exponent) + 3;

  std::string cents;
  bool roundUp = false;
  if (keep >= count) {
    cents = decimal.digits;
    cents.append(static_cast<std::size_t>(keep - count), '0');
  } else if (keep >= 0) {
    cents = decimal.digits.substr(0, static_cast<std::size_t>(keep));
    const char first = decimal.digits[static_cast<std::size_t>(keep)];
    const bool moreAfter = decimal.digits.find_first_not_of('0', static_cast<std::size_t>(keep) + 1) != std::string::npos;
    const bool lastOdd = !cents.empty() && (cents.back() - '0') % 2 == 1;
    roundUp = first > '5' || (first == '5' && (moreAfter || lastOdd));
  }
  // keep < 0: below a thousandth of a dollar, which rounds to no cents.
  if (roundUp) incrementDigits(cents);
  if (cents.empty()) cents = "0";
  return cents;
}

// Inserts "," between groups of three digits, counting from the right.
std::string grouped(std::string_view digits) {
  std::string out;
  out.reserve(digits.size() + digits.size() / 3);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

}  // namespace

std::string usd(std::optional<double> value) {
  // A value that is not finite is no amount anyone can read; it shows like a
  // missing one instead of "$inf" or "$nan". A huge finite amount is written
  // in full (1e300 gives 301 grouped integer digits): the work is bounded by
  // the 309 digits of the largest double.
  if (!value || !std::isfinite(*value)) return std::string(emDash);
  const double amount = *value;
  if (amount > 0 && amount < 0.01) return "<$0.01";

  std::string cents = roundedCents(std::fabs(amount));
  if (cents.size() < 3) cents.insert(0, 3 - cents.size(), '0');
  std::string_view whole(cents.data(), cents.size() - 2);
  while (whole.size() > 1 && whole.front() == '0') whole.remove_prefix(1);

  std::string text = "$";
  // A negative amount keeps its minus sign even when it rounds to 0.00 (as
  // "%.2f" does); negative zero is zero and has none.
  if (amount < 0) text.push_back('-');
  text += grouped(whole);
  text.push_back('.');
  text.append(cents, cents.size() - 2, 2);
  return text;
}

std::string tokens(int64_t value) {
  if (value <= 999) return integerText(value);

  struct Unit {
    double divisor;
    char letter;
  };
  static constexpr Unit units[] = {{1e3, 'K'}, {1e6, 'M'}, {1e9, 'B'}};

  std::size_t row = value < 1'000'000 ? 0 : value < 1'000'000'000 ? 1 : 2;
  const auto amount = static_cast<double>(value);
  double v = amount / units[row].divisor;
  // A K or M figure that would round to 1000 moves up a unit ("1.00M", not
  // "1000K"); there is no unit above B, so B figures may reach 1000 and more.
  if (row < 2 && std::round(v) >= 1000) {
    ++row;
    v = amount / units[row].divisor;
  }
  const int decimals = v >= 99.95 ? 0 : v >= 9.995 ? 1 : 2;
  return fixedText(v, decimals) + units[row].letter;
}

std::string share(double fraction) {
  const double percent = fraction * 100;
  // NaN (a share of nothing gone wrong) reads as no share at all: "0%".
  // Positive infinity is formatted as "%.1f%%" would: "inf%".
  if (std::isnan(percent) || percent <= 0) return "0%";
  if (percent < 0.1) return "<0.1%";
  return fixedText(percent, 1) + "%";
}

std::string countdown(double seconds) {
  if (!std::isfinite(seconds)) return std::string(emDash);
  if (seconds <= 0) return "now";
  constexpr double cap = static_cast<double>(maxCountdownDays) * 86'400;
  if (seconds >= cap) return integerText(maxCountdownDays) + "d 0h";

  // Below the cap, so the truncated value fits easily; every unit truncates.
  const auto s = static_cast<int64_t>(seconds);
  if (s >= 86'400) return integerText(s / 86'400) + "d " + integerText(s % 86'400 / 3'600) + "h";
  if (s >= 3'600) return integerText(s / 3'600) + "h " + integerText(s % 3'600 / 60) + "m";
  if (s >= 60) return integerText(s / 60) + "m";
  return "<1m";
}

}  // namespace tokvane::MeterFormat
