#include "TokvaneWidgets/Display/Countdown.hpp"

#include <cmath>

#include "TokvaneCore/Format/MeterFormat.hpp"
#include "TokvaneCore/Presentation/WidgetDisplay.hpp"

namespace tokvane::widgets {

namespace {

void appendTwoDigits(std::string& text, long long value) {
  text += static_cast<char>('0' + value / 10);
  text += static_cast<char>('0' + value % 10);
}

}  // namespace

Countdown Countdown::make(Date resetsAt, Date now, bool live) {
  const double remaining = resetsAt - now;
  if (live && WidgetDisplay::usesLiveTimer(remaining)) return Countdown{true, resetsAt, {}};
  return Countdown{false, resetsAt, MeterFormat::countdown(remaining)};
}

std::string Countdown::text(Date clock) const { return running ? runningTimerText(resetsAt - clock) : fixedText; }

std::string runningTimerText(double remaining) {
  long long seconds = 0;
  if (std::isfinite(remaining) && remaining > 0) seconds = static_cast<long long>(std::ceil(remaining));
  const long long hours = seconds / 3600;
  const long long minutes = seconds / 60 % 60;
  std::string text;
  if (hours > 0) {
    text = std::to_string(hours) + ":";
    appendTwoDigits(text, minutes);
  } else {
    text = std::to_string(minutes);
  }
  text += ':';
  appendTwoDigits(text, seconds % 60);
  return text;
}

}  // namespace tokvane::widgets
