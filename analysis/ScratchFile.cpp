#include "analysis/ScratchFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

#if defined(__linux__)
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace scratch {
namespace {
constexpr std::size_t kHugePage = std::size_t(2) << 20;

struct File {
  std::mutex lock;
  int fd = -1;
  off_t end = 0;                       // the file's length: every region ever placed
  std::vector<off_t> holes;            // offsets of regions given back, for reuse
  struct Placed {
    int fd;  // -1: in memory
    off_t at;
  };
  std::map<const void*, Placed> where;  // mapped regions: their file and offset
  std::size_t inUse = 0;
  std::size_t inMemory = 0;            // bytes of the regions in memory
  std::size_t share = kAutomaticShare;  // as set; worked out on first use when automatic
  std::string directory;               // where the file is; empty: none
};

// Never destroyed: tracks that outlive main (the clipboard is a static) give their regions back
// while the process exits, after the statics made before them are gone.
File& TheFile() {
  static File* const file = new File;
  return *file;
}

#if defined(__linux__)
// The lowest memory limit of this process's cgroup and its parents (v2 memory.max, v1
// memory.limit_in_bytes); none: the largest size.
std::size_t CgroupLimit() {
  std::size_t limit = ~std::size_t(0);
  std::ifstream self("/proc/self/cgroup");
  for (std::string line; std::getline(self, line);) {
    const std::size_t colon = line.find(':'), second = line.find(':', colon + 1);
    if (colon == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(colon + 1, second - colon - 1);
    const std::string path = line.substr(second + 1);
    std::filesystem::path root, file;
    if (controllers.empty()) root = "/sys/fs/cgroup", file = "memory.max";
    else if (("," + controllers + ",").find(",memory,") != std::string::npos)
      root = "/sys/fs/cgroup/memory", file = "memory.limit_in_bytes";
    else continue;
    for (std::filesystem::path at = root / path.substr(std::min<std::size_t>(1, path.size()));;
         at = at.parent_path()) {
      unsigned long long bytes = 0;
      std::ifstream value(at / file);
      if (value >> bytes) limit = std::min<std::size_t>(limit, std::size_t(bytes));  // "max" reads as nothing
      if (at == root || at.parent_path() == at || at.string().size() <= root.string().size()) break;
    }
  }
  return limit;
}

std::size_t AutomaticShare() {
  if (const char* given = std::getenv("TINTWAVE_SAMPLES_IN_MEMORY"); given && *given) {
    char* end = nullptr;
    const unsigned long long bytes = std::strtoull(given, &end, 10);
    if (end && *end == 0) return std::size_t(bytes);
  }
  return std::min(MemInfo("MemTotal"), CgroupLimit()) / 4;
}

// Anonymous memory, mapped with room to spare, then trimmed so that the region starts on a
// huge-page boundary.
void* MapMemoryRegion(std::size_t bytes) {
  const std::size_t mapped = bytes + kHugePage;
  void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  char* start = static_cast<char*>(raw);
  char* base = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(start) + kHugePage - 1) & ~(kHugePage - 1));
  if (base > start) munmap(start, std::size_t(base - start));
  const std::size_t tail = std::size_t(start + mapped - (base + bytes));
  if (tail > 0) munmap(base + bytes, tail);
#if defined(MADV_HUGEPAGE)
  madvise(base, bytes, MADV_HUGEPAGE);  // a hint: without huge pages the region still works
#endif
  return base;
}

int MakeUnnamedFile(const std::string& directory) {
#if defined(O_TMPFILE)
  const int fd = open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
#endif
  // Filesystems without O_TMPFILE: a named file, unlinked at once.
  std::string path = directory + "/scratch-XXXXXX";
  const int named = mkostemp(path.data(), O_CLOEXEC);
  if (named >= 0) unlink(path.c_str());
  return named;
}
#endif
}  // namespace

std::size_t MemInfo(const char* key) {
  std::ifstream meminfo("/proc/meminfo");
  const std::string prefix = std::string(key) + ":";
  for (std::string line; std::getline(meminfo, line);) {
    unsigned long long kib = 0;
    if (line.compare(0, prefix.size(), prefix) == 0 && std::sscanf(line.c_str() + prefix.size(), "%llu", &kib) == 1)
      return std::size_t(kib) * 1024;
  }
  return 0;
}

std::string DefaultDirectory() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && *cache == '/') return std::string(cache) + "/tintwave";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.cache/tintwave";
}

bool UseDirectory(const std::string& directory, std::string* error) {
  File& f = TheFile();
  std::lock_guard<std::mutex> hold(f.lock);
#if defined(__linux__)
  // An old file stays open while regions are mapped from it (they give their space back to it).
  bool oldInUse = false;
  for (const auto& [base, placed] : f.where) oldInUse = oldInUse || placed.fd == f.fd;
  if (f.fd >= 0 && !oldInUse) close(f.fd);
  f.fd = -1;
  f.end = 0;
  f.holes.clear();
  f.directory.clear();
  if (directory.empty()) return true;
  std::error_code made;
  std::filesystem::create_directories(directory, made);
  const int fd = MakeUnnamedFile(directory);
  if (fd < 0) {
    if (error) *error = directory + ": " + std::strerror(errno);
    return false;
  }
  f.fd = fd;
  f.directory = directory;
  return true;
#else
  if (error) *error = "no scratch files on this system";
  return directory.empty();
#endif
}

std::string Directory() {
  File& f = TheFile();
  std::lock_guard<std::mutex> hold(f.lock);
  return f.directory;
}

bool Active() {
  File& f = TheFile();
  std::lock_guard<std::mutex> hold(f.lock);
  return f.fd >= 0;
}

void SetMemoryShare(std::size_t bytes) {
  File& f = TheFile();
  std::lock_guard<std::mutex> hold(f.lock);
  f.share = bytes;
}

std::size_t MemoryShare() {
  File& f = TheFile();
  std::lock_guard<std::mutex> hold(f.lock);
#if defined(__linux__)
  if (f.share == kAutomaticShare) f.share = AutomaticShare();
#endif
  return f.share;
}

void* MapRegion(std::size_t bytes) {
#if defined(__linux__)
  File& f = TheFile();
  std::lock_guard<std::mutex> hold(f.lock);
  if (f.share == kAutomaticShare) f.share = AutomaticShare();
  // In memory within the share, and while the machine still has the rest of the share free.
  const bool inMemory = f.fd < 0 || (f.inMemory + bytes <= f.share && MemInfo("MemAvailable") >= f.share - f.inMemory);
  if (inMemory) {
    void* base = MapMemoryRegion(bytes);
    f.where[base] = File::Placed{-1, 0};
    f.inMemory += bytes;
    return base;
  }
  const bool reuse = !f.holes.empty();
  const off_t at = reuse ? f.holes.back() : f.end;
  // The disk space is taken now: a full disk is a clear failure here, not a SIGBUS on a write.
  if (posix_fallocate(f.fd, at, off_t(bytes)) != 0) throw ScratchFull();
  void* base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, f.fd, at);
  if (base == MAP_FAILED) {
    fallocate(f.fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, at, off_t(bytes));
    throw std::bad_alloc();
  }
  if (reuse) f.holes.pop_back();
  else f.end += off_t(bytes);
  f.where[base] = File::Placed{f.fd, at};
  f.inUse += bytes;
  return base;
#else
  (void)bytes;
  throw std::bad_alloc();
#endif
}

void UnmapRegion(void* base, std::size_t bytes) {
#if defined(__linux__)
  File& f = TheFile();
  std::lock_guard<std::mutex> hold(f.lock);
  munmap(base, bytes);
  const auto it = f.where.find(base);
  if (it == f.where.end()) return;
  const File::Placed placed = it->second;
  f.where.erase(it);
  if (placed.fd < 0) {
    f.inMemory -= bytes;
    return;
  }
  // The samples are dead: their disk space goes back without being written.
  fallocate(placed.fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, placed.at, off_t(bytes));
  if (placed.fd == f.fd) f.holes.push_back(placed.at);
  f.inUse -= bytes;
#else
  (void)base;
  (void)bytes;
#endif
}

std::size_t DiskBytes() {
  File& f = TheFile();
  std::lock_guard<std::mutex> hold(f.lock);
  return f.inUse;
}
}  // namespace scratch
