#pragma once
// Saving without risking the file being replaced: the audio is written through CAP_AudioEncoder
// into a temporary file in the target's directory, and only a complete, flushed and closed file
// is renamed over the target. A failure leaves the old file untouched.
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "analysis/AudioContainer.h"
#include "analysis/SoundSignature.h"
#include "formats/Annotations.h"
#include "formats/FormatCodes.h"

struct SaveTarget {
  std::string path;
  int fileFormat = FileFormatWave;  // 1 WAVE, 2 AU, 3 AIFF
  int channels = 1;
  int rate = 44100;
  int compression = CompressionPcm16;
};

inline constexpr int kSaveChunkFrames = 2048;

// The file that replacing path replaces: the file a symbolic link points to (the link stays), else
// path itself.
std::string ReplacedFile(const std::string& path);
// Whether path is a device or a pipe (/dev/null, a FIFO): written as it is, since a rename would
// put a plain file in its place.
bool WrittenInPlace(const std::string& path);
// The permissions a replacement gets: the old file's, or those a new file would get.
mode_t ModeForReplacement(const std::string& target);

// The text of a save that the progress callback stopped (it returned false): the old file stays.
inline constexpr const char* kSaveCancelled = "Saving was cancelled";

// Reads source (the document's mixer) from frame 0 in 2,048-frame pieces until it returns no
// more, for seconds of audio (the display track's duration), converting to the target's channels
// and rate. Progress: "Saving audio data:" with the percentage, then "" and 100; a false answer
// cancels. Returns "" on success, else the text for the user.
std::string SaveAudioSafely(CAP_AudioContainer& source, double seconds, const SaveTarget& target,
                            const AnnotationList* annotations, ProgressCallback progress = nullptr,
                            std::intptr_t user = 0);
