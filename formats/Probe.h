#pragma once
// Choosing the reader for a file from its content and the extension of its name.
#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <string_view>

#include "formats/AudioAbstract.h"

// The extension as the probes take it: the file name's final dot and what follows, or empty when
// the name (after the last '/') has no dot. "song.WAV" gives ".WAV"; "dir.d/noext" gives "".
std::string ExtensionOf(std::string_view path);

// Probes the stream and constructs the matching reader, positioned at offset 0. The first bytes
// decide wherever they identify the format (RIFF/WAVE and RF64, FORM/AIFF/AIFC/8SVX, ".snd", Creative
// Voice, MThd, module tags, ID3), whatever the name; only MPEG audio without an ID3 tag also
// needs its extension (empty, .mp3, .mp2, .mpg), compared case-insensitively as a whole.
// fileSize bounds every chunk length. readTrailingChunks goes to the WAVE reader: it also
// walks the chunks behind the audio (for their annotations) and skips by seeking.
// FLAC, Ogg, CAF go to libsndfile; MP4, WMA, Matroska, Monkey's Audio, WavPack, Wave64, AVI and
// FLV to FFmpeg. Returns null when no probe recognises the file; the chosen reader's SoundError
// goes to the caller.
std::unique_ptr<AudioAbstract> CreateReaderForFile(std::istream& in, std::int64_t fileSize,
                                                   std::string_view extension, bool readTrailingChunks);
