#include "cli/CommandLine.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

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

bool TakeRegionOption(int argc, char** argv, int* i, int* start, int* count, std::string* error) {
  const std::string option = argv[*i];
  if ((option != "--start" && option != "--count") || *i + 1 >= argc) return false;
  const char* value = argv[++*i];
  const bool ok = option == "--start" ? ParseInteger(value, 0, INT32_MAX, start) : ParseInteger(value, 1, INT32_MAX, count);
  if (!ok) *error = "bad value for " + option;
  return true;
}

std::string StartBeyondEnd(int start, int length) {
  return "The start " + std::to_string(start) + " lies beyond the end of the audio (" + std::to_string(length) +
         " samples)";
}

int ReportError(const std::string& message) {
  // Some of the format library's texts end in a line break of their own.
  std::string text = message;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  std::fprintf(stderr, "error: %s\n", text.c_str());
  return 1;
}

int ReportMisuse(const std::string& message, const char* usage) {
  std::fprintf(stderr, "error: %s\n%s", message.c_str(), usage);
  return 2;
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
