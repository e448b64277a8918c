#pragma once
// The words of a decoding failure in the readers over the field's libraries: the format's name and
// where in the audio it happened, as "FLAC data is damaged at 0:12.345".
#include <cstdint>
#include <string>

std::string DamagedAt(const char* formatName, std::int64_t frame, int rate);
