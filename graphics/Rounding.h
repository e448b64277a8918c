#pragma once
// Integer conversions of the display: every pixel position is an int32, and values that come
// from damaged audio (NaN, huge numbers) must not turn into undefined conversions.
#include <cmath>
#include <cstdint>

// Round half away from zero, saturated to the int32 range; NaN gives 0.
inline std::int32_t RoundHalfAway(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<std::int32_t>(std::round(v));
}

// Truncation towards zero, saturated the same way.
inline std::int32_t TruncToInt(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}
