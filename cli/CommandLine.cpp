#include "cli/CommandLine.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/Console.h"

bool ParseInteger(const char* text, std::int64_t min, std::int64_t max, std::int64_t* out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (*end || errno || v < min || v > max) return false;
  *out = v;
  return true;
}

bool ParseInteger(const char* text, int min, int max, int* out) {
  std::int64_t v;
  if (!ParseInteger(text, std::int64_t(min), std::int64_t(max), &v)) return false;
  *out = int(v);
  return true;
}

// ---- times ----

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

std::string PositionText(std::int64_t samples, int rate) {
  return std::to_string(samples) + "s (" + ConsoleTimeText(rate > 0 ? double(samples) / rate : 0.0) + ")";
}

bool TakeRegionOption(int argc, char** argv, int* i, TimeValue* start, TimeValue* count, bool* haveStart,
                      bool* haveCount, std::string* error) {
  const std::string option = argv[*i];
  if ((option != "--start" && option != "--count") || *i + 1 >= argc) return false;
  const char* value = argv[++*i];
  const bool isStart = option == "--start";
  if (!ParseTime(value, isStart ? start : count, error)) {
    *error = option + ": " + *error;
    return true;
  }
  if (!isStart && (count->isSamples ? count->samples == 0 : count->seconds == 0))
    *error = "--count: the region needs at least one sample";
  *(isStart ? haveStart : haveCount) = true;
  return true;
}

bool ResolveRegion(const TimeValue& start, const TimeValue* count, int length, int rate, int* startOut,
                   int* countOut, std::string* error) {
  const std::int64_t s = start.Samples(rate);
  if (s > length || (s == length && length > 0)) {
    *error = "the start " + PositionText(s, rate) + " lies beyond the end of the audio at " + PositionText(length, rate);
    return false;
  }
  std::int64_t n = count ? count->Samples(rate) : length - s;
  if (count && n < 1) {
    *error = "the region " + std::to_string(n) + "s is shorter than one sample at " + std::to_string(rate) + " Hz";
    return false;
  }
  if (s + n > length) {
    *error = "the count " + PositionText(n, rate) + " runs past the end of the audio at " + PositionText(length, rate) +
             ": from the start " + std::to_string(s) + "s there are " + PositionText(length - s, rate);
    return false;
  }
  *startOut = int(s);
  *countOut = int(n);
  return true;
}

// ---- messages ----

int ReportError(const std::string& message) {
  // Some of the format library's texts end in a line break of their own.
  std::string text = message;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  std::fprintf(stderr, "error: %s\n", text.c_str());
  return 1;
}

int ReportMisuse(const std::string& message, const char* usage) {
  std::fprintf(stderr, "error: %s\n%s", message.c_str(), usage);
  return 2;
}

std::string AboutFile(const std::string& path, const std::string& message) {
  if (message.find(path) != std::string::npos) return message;
  return path + ": " + message;
}

bool HelpRequested(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) return true;
  return false;
}

int PrintUsage(const char* usage) {
  std::fputs(usage, stdout);
  return 0;
}

std::string SameFileError(const std::string& input, const std::string& output) {
  if (output == "-") return "";
  std::error_code error;
  // equivalent compares device and inode: the same file through ./, a symbolic or a hard link.
  if (!std::filesystem::equivalent(input, output, error) || error) return "";
  return output + ": the output is the input file" + (output == input ? "" : " " + input) +
         "; write it to another file";
}

std::string HexDigits(const std::uint8_t* bytes, int count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}
