#pragma once
// Argument helpers shared by the file commands of tintwave-cli.
#include <cstdint>
#include <string>

// A whole decimal number within min..max, nothing else in the text.
bool ParseInteger(const char* text, std::int64_t min, std::int64_t max, std::int64_t* out);
bool ParseInteger(const char* text, int min, int max, int* out);

// "error: MESSAGE" on standard error; returns 1, the exit code of a failure.
int ReportError(const std::string& message);
// "error: MESSAGE" and the usage on standard error; returns 2, the exit code of a misuse.
int ReportMisuse(const std::string& message, const char* usage);

// The region options of signature and find: --start SAMPLE (0 or more) and --count SAMPLES (1 or
// more). True when argv[*i] is one of them with its value: *i then moves onto the value, and
// *error names a bad value.
bool TakeRegionOption(int argc, char** argv, int* i, int* start, int* count, std::string* error);
// The text for a start at or beyond the end of a track of length samples.
std::string StartBeyondEnd(int start, int length);

// 32 lowercase hexadecimal digits of 16 bytes.
std::string HexDigits(const std::uint8_t* bytes, int count);
