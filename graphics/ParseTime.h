#pragma once
// Times as the user types them, in the command-line tool and the selection bar alike.
#include <cstdint>
#include <string>

// A position or a length as the user writes it, the same in every command: seconds ("1.5"),
// minutes and seconds ("0:01.500"), hours too ("1:02:03.5"), or a sample count with the suffix
// s ("66150s"). A count of seconds becomes samples at the file's rate, rounded to the nearest.
struct TimeValue {
  bool isSamples = false;
  double seconds = 0;
  std::int64_t samples = 0;
  std::int64_t Samples(int rate) const;
  double Seconds(int rate) const;
};
// False with *error ("bad time 'x': ...") for anything else, negative values included.
bool ParseTime(const char* text, TimeValue* out, std::string* error);
// The time syntax for usage texts.
extern const char* const kTimeSyntax;

