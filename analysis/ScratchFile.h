#pragma once
// Where the large regions of every track's slabs live. Sample storage that pages to disk instead
// of to swap: once a directory is chosen, regions past the memory share are mapped from one
// scratch file in it, so that the kernel can write a document larger than memory out to that
// file and read it back as it is used. The file is made without a name (O_TMPFILE, or unlinked
// at once): it goes with the process however the process ends, and a region's disk space goes
// back when the region does. Regions within the share stay in memory, in huge pages: a page of
// the file costs a fault of its own the first time it is written, which made loading an hour
// take twice as long as in memory. Thread-safe.
#include <cstddef>
#include <new>
#include <string>

// The scratch disk has no room for another region.
class ScratchFull : public std::bad_alloc {
public:
  const char* what() const noexcept override { return "The scratch disk is full"; }
};

namespace scratch {
// Regions from now on come from a file in directory (made when missing); false, with the
// reason in *error, when no file can be made there: regions then stay in memory. An empty
// directory turns the file off for new regions.
bool UseDirectory(const std::string& directory, std::string* error);
// A value of /proc/meminfo ("MemAvailable", "MemTotal") in bytes; 0 when it is missing.
std::size_t MemInfo(const char* key);
// $XDG_CACHE_HOME/tintwave, or ~/.cache/tintwave.
std::string DefaultDirectory();
bool Active();
// The directory of the file in use; empty when none is.
std::string Directory();
// A region of bytes (a multiple of 2 MB) starting on a huge-page boundary: in memory while the
// regions in memory stay within the memory share or no file is in use, else mapped from the file.
// Throws ScratchFull when the disk has no room, std::bad_alloc when the memory has none.
void* MapRegion(std::size_t bytes);
// Unmaps a region from MapRegion and frees its memory or disk space.
void UnmapRegion(void* base, std::size_t bytes);
// Bytes of disk the file holds now (regions in use).
std::size_t DiskBytes();
// Bytes of regions kept in memory before the file takes over. Automatic: the bytes in
// $TINTWAVE_SAMPLES_IN_MEMORY when set, else a quarter of the memory this process may use (the
// machine's, or its memory cgroup's limit when lower).
inline constexpr std::size_t kAutomaticShare = ~std::size_t(0);
void SetMemoryShare(std::size_t bytes);
std::size_t MemoryShare();
}  // namespace scratch
