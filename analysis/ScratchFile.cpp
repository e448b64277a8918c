#include "analysis/ScratchFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
struct File {
  std::mutex lock;
  int fd = -1;
  off_t end = 0;                       // the file's length: every region ever placed
  std::vector<off_t> holes;            // offsets of regions given back, for reuse
  struct Placed {
    int fd;
    off_t at;
  };
  std::map<const void*, Placed> where;  // mapped regions: their file and offset
  std::size_t inUse = 0;
  std::string directory;               // where the file is; empty: none
};

File& TheFile() {
  static File file;
  return file;
}

#if defined(__linux__)
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

void* MapRegion(std::size_t bytes) {
#if defined(__linux__)
  File& f = TheFile();
  std::lock_guard<std::mutex> hold(f.lock);
  if (f.fd < 0) return nullptr;
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
  return nullptr;
#endif
}

bool UnmapRegion(void* base, std::size_t bytes) {
#if defined(__linux__)
  File& f = TheFile();
  std::lock_guard<std::mutex> hold(f.lock);
  const auto it = f.where.find(base);
  if (it == f.where.end()) return false;
  munmap(base, bytes);
  // The samples are dead: their disk space goes back without being written.
  const File::Placed placed = it->second;
  fallocate(placed.fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, placed.at, off_t(bytes));
  if (placed.fd == f.fd) f.holes.push_back(placed.at);
  f.inUse -= bytes;
  f.where.erase(it);
  return true;
#else
  (void)base;
  (void)bytes;
  return false;
#endif
}

std::size_t DiskBytes() {
  File& f = TheFile();
  std::lock_guard<std::mutex> hold(f.lock);
  return f.inUse;
}
}  // namespace scratch
