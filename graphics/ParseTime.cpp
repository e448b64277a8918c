#include "graphics/ParseTime.h"

#include <cmath>
#include <cstdlib>
#include <vector>

const char* const kTimeSyntax =
    "  TIME: seconds (1.5), minutes:seconds (0:01.500), hours:minutes:seconds (1:02:03.5)\n"
    "        or a sample count with the suffix s (66150s)\n";

namespace {

// Limits that keep every conversion exact and far from overflow: a century, 10^15 samples.
constexpr double kMaxSeconds = 3.2e9;
constexpr std::int64_t kMaxSamples = 1000000000000000LL;

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// "12", "12.5", ".5", "12." (digits on at least one side of the point).
bool ParseDecimal(const std::string& text, double* out) {
  const std::size_t dot = text.find('.');
  const std::string whole = text.substr(0, dot), fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return false;
  if ((!whole.empty() && !AllDigits(whole)) || (!fraction.empty() && !AllDigits(fraction))) return false;
  if (whole.size() > 12) return false;
  *out = std::strtod(text.c_str(), nullptr);
  return true;
}

}  // namespace

std::int64_t TimeValue::Samples(int rate) const {
  return isSamples ? samples : std::int64_t(std::llround(seconds * rate));
}

double TimeValue::Seconds(int rate) const {
  return isSamples ? (rate > 0 ? double(samples) / rate : 0.0) : seconds;
}

bool ParseTime(const char* text, TimeValue* out, std::string* error) {
  const std::string t = text ? text : "";
  const auto bad = [&](const std::string& why) {
    *error = "bad time '" + t + "': " + why;
    return false;
  };
  if (t.empty()) return bad("give seconds (1.5), m:ss.mmm (0:01.500) or samples (66150s)");
  if (t[0] == '-') return bad("a time is never negative");
  if (t.back() == 's') {
    const std::string digits = t.substr(0, t.size() - 1);
    if (!AllDigits(digits)) return bad("a sample count is a whole number before the s (66150s)");
    if (digits.size() > 15) return bad("too many samples");
    TimeValue v;
    v.isSamples = true;
    v.samples = std::strtoll(digits.c_str(), nullptr, 10);
    if (v.samples > kMaxSamples) return bad("too many samples");
    *out = v;
    return true;
  }
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    const std::size_t colon = t.find(':', start);
    parts.push_back(t.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() > 3) return bad("at most hours:minutes:seconds");
  double seconds = 0;
  if (!ParseDecimal(parts.back(), &seconds))
    return bad("give seconds (1.5), m:ss.mmm (0:01.500) or samples (66150s)");
  if (parts.size() > 1 && seconds >= 60) return bad("the seconds after a colon are below 60");
  double scale = 60;
  for (std::size_t i = parts.size() - 1; i-- > 0; scale *= 60) {
    if (!AllDigits(parts[i]) || parts[i].size() > 9) return bad("the hours and minutes are whole numbers");
    const double value = std::strtod(parts[i].c_str(), nullptr);
    if (i > 0 && value >= 60) return bad("the minutes after the hours are below 60");
    seconds += value * scale;
  }
  if (!(seconds <= kMaxSeconds)) return bad("too long");
  TimeValue v;
  v.seconds = seconds;
  *out = v;
  return true;
}

