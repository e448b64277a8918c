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
