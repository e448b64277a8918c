#pragma once
// Argument helpers shared by the commands of tintwave-cli.
#include <cstdint>
#include <string>

#include "graphics/ParseTime.h"

// A whole decimal number within min..max, nothing else in the text.
bool ParseInteger(const char* text, std::int64_t min, std::int64_t max, std::int64_t* out);
bool ParseInteger(const char* text, int min, int max, int* out);

// "error: MESSAGE" on standard error; returns 1, the exit code of a failure.
int ReportError(const std::string& message);
// "error: MESSAGE" and the usage on standard error; returns 2, the exit code of a misuse.
int ReportMisuse(const std::string& message, const char* usage);
// "FILE: MESSAGE", unless the message names the file already.
std::string AboutFile(const std::string& path, const std::string& message);

// Whether the command's arguments ask for its help (--help or -h); PrintUsage prints the usage on
// standard output and returns 0.
bool HelpRequested(int argc, char** argv);
int PrintUsage(const char* usage);

// "176400s (0:04.000)": a sample position with its time, for messages.
std::string PositionText(std::int64_t samples, int rate);

// The region options of signature and find: --start TIME (0 or more) and --count TIME (more than
// 0). True when argv[*i] is one of them with its value: *i then moves onto the value, and *error
// names a bad value.
bool TakeRegionOption(int argc, char** argv, int* i, TimeValue* start, TimeValue* count, bool* haveStart,
                      bool* haveCount, std::string* error);
// The region in samples within a track of length samples at rate, or false with *error: a start
// at or past the end, or a count that runs past it.
bool ResolveRegion(const TimeValue& start, const TimeValue* count, int length, int rate, int* startOut,
                   int* countOut, std::string* error);

// The text for an output that is the input (the same file, through any path or link), or "".
// The check runs before anything is written, so a file about to be replaced is never read half-
// written. "-" (standard output) is never the input.
std::string SameFileError(const std::string& input, const std::string& output);

// 32 lowercase hexadecimal digits of 16 bytes.
std::string HexDigits(const std::uint8_t* bytes, int count);
