#include "editor/RoomToOpen.h"

#include "analysis/ScratchFile.h"

#include <sys/statvfs.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::int64_t ScratchFree() {
  // The folder itself may not exist yet; its nearest parent is on the same file system.
  for (std::string at = scratch::DefaultDirectory(); !at.empty(); at = at.substr(0, at.rfind('/'))) {
    struct statvfs fs {};
    if (::statvfs(at.c_str(), &fs) == 0) return std::int64_t(fs.f_bavail) * std::int64_t(fs.f_frsize);
  }
  return 0;
}

std::string Gigabytes(std::int64_t bytes) {
  char text[32];
  if (bytes >= 1000000000) std::snprintf(text, sizeof text, "%.1f GB", bytes / 1e9);
  else std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
  return text;
}

}  // namespace

bool SampleStorePagesToDisk() { return scratch::Active(); }

std::int64_t RoomForSamples() {
  const std::int64_t memory = std::int64_t(scratch::MemInfo("MemAvailable"));
  if (memory <= 0) return -1;
  return memory + (SampleStorePagesToDisk() ? ScratchFree() : 0);
}

std::int64_t BytesToOpen(std::int64_t frames, int channels) {
  // A stereo document's mix keeps no samples of its own, only its blocks.
  const int tracks = channels;
  // About 3 % for the blocks: a signature, a colour, the summaries and the links of every
  // 0.05-0.1 s.
  return frames * tracks * std::int64_t(sizeof(float)) * 103 / 100;
}

std::string RefusalToOpen(const std::string& name, std::int64_t needed, std::int64_t room) {
  if (room < 0 || needed <= room) return "";
  return name + " needs " + Gigabytes(needed) + " to open; " + Gigabytes(room) + " are free";
}
