#pragma once
// What the index keeps of one sound file: its facts and its signatures, from the file opened as
// the editor opens it (the editor's document, no window, no devices, no DC correction), so that
// every signature is the one the editor's web search would send for that region.
#include <cstdint>
#include <string>
#include <vector>

#include "search/WindowSignatures.h"

struct SoundFacts {
  std::int32_t format = 0;  // FileFormatCode
  std::int32_t channels = 0;
  std::int32_t bits = 0;
  std::int32_t rate = 0;
  std::int64_t length = 0;  // frames
};

struct AnalysedSound {
  SoundFacts facts;
  // The whole file (one signature, hop 0) followed by the series of kIndexWindowSeconds.
  std::vector<WindowSeries> series;
};

// False with *error set ("Could not open file (No such file or directory)", the decoder's text...).
bool AnalyseSoundFile(const std::string& path, AnalysedSound* sound, std::string* error);

// The format keys of the search query and the names shown for them; "other" for the rest.
const char* FormatKey(std::int32_t fileFormat);
const char* FormatName(std::int32_t fileFormat);
// FileFormatNone when the key names no format.
std::int32_t FormatFromKey(const std::string& key);
