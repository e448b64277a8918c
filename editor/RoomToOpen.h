#pragma once
// Whether a file's samples fit where they can live, asked before loading starts, so that a file
// too large is refused with the sizes instead of the machine swapping or the program being
// killed part-way through.
#include <cstdint>
#include <string>

// True while the block store pages samples out to its scratch file; then that file's free space
// counts too.
bool SampleStorePagesToDisk();

// Bytes free for samples: MemAvailable of /proc/meminfo, plus the free space of
// $XDG_CACHE_HOME/tintwave/ when the store pages to disk. -1 when it cannot be told.
std::int64_t RoomForSamples();

// The bytes a document of frames frames and channels channels takes: a float per sample of every
// channel (a stereo document's mono mix is made from them) and the blocks' bookkeeping.
std::int64_t BytesToOpen(std::int64_t frames, int channels);

// "x.wav needs 19.2 GB to open; 11.5 GB are free", or "" when it fits (or room is unknown).
std::string RefusalToOpen(const std::string& name, std::int64_t needed, std::int64_t room);
