#pragma once

#include <string>

#include "TokvaneCore/Foundation/Date.hpp"

namespace tokvane::widgets {

// A window's time to reset as a widget shows it: a running timer that the
// host advances every second, or a text fixed at the entry's date.
struct Countdown {
  bool running = false;
  Date resetsAt;
  std::string fixedText;  // used when not running

  // Running when `live` and the reset lies less than a day after `now` (and
  // still ahead); otherwise MeterFormat.countdown of the time left.
  static Countdown make(Date resetsAt, Date now, bool live);

  // The text at the wall-clock moment `clock` (only a running timer moves).
  std::string text(Date clock) const;

  friend bool operator==(const Countdown&, const Countdown&) = default;
};

// A running timer's text: "H:MM:SS" from an hour up, else "M:SS"; whole
// seconds rounded up, so it reaches "0:00" at the reset and stays there.
std::string runningTimerText(double remaining);

}  // namespace tokvane::widgets
