#include "graphics/FormatTime.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

std::string FormatTime(double seconds, int decimals, bool minutesForm, bool hoursForm) {
  if (decimals < 0) decimals = 0;
  if (decimals > 9) decimals = 9;
  std::int64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  // Times are never negative on screen; a damaged value must not overflow the arithmetic.
  double scaled = std::round(seconds * double(scale));
  if (!(scaled >= 0)) scaled = 0;
  if (scaled > 9.0e15) scaled = 9.0e15;
  const std::int64_t t = static_cast<std::int64_t>(scaled);
  const std::int64_t fraction = t % scale;
  std::int64_t s = t / scale;
  const std::int64_t m = t / (scale * 60);
  const std::int64_t h = t / (scale * 3600);
  if (minutesForm) s %= 60;

  char text[64];
  if (hoursForm) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", (long long)h, (long long)(m % 60),
                  (long long)(t / scale % 60));
  } else if (!minutesForm) {
    std::snprintf(text, sizeof text, "%lld", (long long)s);
  } else if (m <= 9) {
    std::snprintf(text, sizeof text, "%01lld:%02lld", (long long)m, (long long)s);
  } else if (m <= 59) {
    std::snprintf(text, sizeof text, "%02lld:%02lld", (long long)m, (long long)s);
  } else {
    // Beyond an hour the minutes form alone cannot say the time; keep every unit instead of
    // showing the seconds of the minute only.
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", (long long)h, (long long)(m % 60),
                  (long long)s);
  }
  std::string result = text;
  if (decimals > 0) {
    char frac[32];
    std::snprintf(frac, sizeof frac, ".%0*lld", decimals, (long long)fraction);
    result += frac;
  }
  return result;
}
