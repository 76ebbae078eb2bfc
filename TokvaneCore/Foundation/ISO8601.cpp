#include "TokvaneCore/Foundation/ISO8601.hpp"

#include <cmath>
#include <cstdio>

namespace tokvane::ISO8601 {

namespace {

bool digits(std::string_view s, size_t pos, size_t count, int& out) {
  if (pos + count > s.size()) return false;
  int value = 0;
  for (size_t i = 0; i < count; ++i) {
    const char c = s[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  out = value;
  return true;
}

bool isLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(int64_t y, unsigned m) {
  static constexpr unsigned table[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : table[m - 1];
}

// Parses one of the two forms; `withFraction` selects which.
std::optional<Date> parseForm(std::string_view s, bool withFraction) {
  int year, month, day, hour, minute, second;
  if (!digits(s, 0, 4, year) || s.size() < 19 || s[4] != '-' || !digits(s, 5, 2, month) ||
      s[7] != '-' || !digits(s, 8, 2, day) || s[10] != 'T' || !digits(s, 11, 2, hour) ||
      s[13] != ':' || !digits(s, 14, 2, minute) || s[16] != ':' || !digits(s, 17, 2, second)) {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || static_cast<unsigned>(day) > daysInMonth(year, month) ||
      hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  size_t pos = 19;
  double fraction = 0;
  if (withFraction) {
    if (pos >= s.size() || s[pos] != '.') return std::nullopt;
    ++pos;
    const size_t start = pos;
    double scale = 0.1;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
      fraction += (s[pos] - '0') * scale;
      scale /= 10;
      ++pos;
    }
    if (pos == start) return std::nullopt;
  }
  if (pos >= s.size()) return std::nullopt;
  int offsetSeconds = 0;
  if (s[pos] == 'Z') {
    ++pos;
  } else if (s[pos] == '+' || s[pos] == '-') {
    const int sign = s[pos] == '-' ? -1 : 1;
    int oh, om;
    if (!digits(s, pos + 1, 2, oh) || pos + 3 >= s.size() || s[pos + 3] != ':' ||
        !digits(s, pos + 4, 2, om) || oh > 23 || om > 59) {
      return std::nullopt;
    }
    offsetSeconds = sign * (oh * 3600 + om * 60);
    pos += 6;
  } else {
    return std::nullopt;
  }
  if (pos != s.size()) return std::nullopt;
  const int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  const double unix = static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second - offsetSeconds);
  const Date date = Date::fromUnix(unix + fraction);
  // An offset can move the instant out of the years 0000 to 9999 (UTC), which
  // `format` could not write back as a text that parses.
  const double whole = std::floor(date.unixSeconds());
  if (whole < Date::firstUnixSecondOfYear0 || whole >= Date::firstUnixSecondOfYear10000) return std::nullopt;
  return date;
}

}  // namespace

int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& year, unsigned& month, unsigned& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = y + (month <= 2);
}

std::optional<Date> parse(std::string_view text) {
  if (auto date = parseForm(text, true)) return date;
  return parseForm(text, false);
}

std::string format(Date date) {
  double unix = std::floor(date.unixSeconds());
  if (!std::isfinite(unix)) unix = 0;
  // Keep the arithmetic in range for absurd values; such dates never occur in practice.
  if (unix > 2.5e14) unix = 2.5e14;
  if (unix < -2.5e14) unix = -2.5e14;
  const auto total = static_cast<int64_t>(unix);
  int64_t days = total / 86400;
  int64_t rest = total % 86400;
  if (rest < 0) {
    rest += 86400;
    days -= 1;
  }
  int64_t year;
  unsigned month, day;
  civilFromDays(days, year, month, day);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(year), month,
                day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return buffer;
}

}  // namespace tokvane::ISO8601
