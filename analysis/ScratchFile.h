#pragma once
// Sample storage that pages to disk instead of to swap: once a directory is chosen, the large
// regions of every track's slabs are mapped from one scratch file in it, so that the kernel can
// write a document larger than memory out to that file and read it back as it is used. The file
// is made without a name (O_TMPFILE, or unlinked at once): it goes with the process however the
// process ends, and a region's disk space goes back when the region does. Thread-safe.
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
// $XDG_CACHE_HOME/tintwave, or ~/.cache/tintwave.
std::string DefaultDirectory();
bool Active();
// The directory of the file in use; empty when none is.
std::string Directory();
// A region of bytes (a multiple of the page size) mapped from the file; null when no file is in
// use. Throws ScratchFull when the disk has no room.
void* MapRegion(std::size_t bytes);
// Unmaps a region from MapRegion and frees its disk space; false for any other address.
bool UnmapRegion(void* base, std::size_t bytes);
// Bytes of disk the file holds now (regions in use).
std::size_t DiskBytes();
}  // namespace scratch
