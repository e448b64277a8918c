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

// 32 lowercase hexadecimal digits of 16 bytes.
std::string HexDigits(const std::uint8_t* bytes, int count);
