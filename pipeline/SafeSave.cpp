#include "pipeline/SafeSave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <system_error>
#include <vector>

#include "pipeline/AudioEncoder.h"
#include "pipeline/FileBuffer.h"

namespace {

namespace fs = std::filesystem;

const char* const kWriteFailed = "Error occured while writing audio data";

std::string CannotWrite(const std::string& path) { return "Couldn't write to file '" + path + "'"; }

int RoundPercent(double value) { return int(value + 0.5); }

}  // namespace

std::string ReplacedFile(const std::string& path) {
  std::error_code error;
  if (fs::is_symlink(fs::symlink_status(path, error))) {
    const fs::path real = fs::weakly_canonical(path, error);
    if (!error) return real.string();
  }
  return path;
}

bool WrittenInPlace(const std::string& path) {
  struct stat existing {};
  return ::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode);
}

mode_t ModeForReplacement(const std::string& target) {
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0) return old.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

std::string SaveAudioSafely(CAP_AudioContainer& source, double seconds, const SaveTarget& target,
                            const AnnotationList* annotations, ProgressCallback progress, std::intptr_t user) {
  const fs::path finalPath = ReplacedFile(target.path);
  // The rename could replace a file the user may not write to; such a file stays as it is.
  if (::access(finalPath.c_str(), F_OK) == 0 && ::access(finalPath.c_str(), W_OK) != 0) return CannotWrite(target.path);
  const bool device = WrittenInPlace(finalPath);
  std::string tempPath;
  std::FILE* file = nullptr;
  if (device) {
    file = std::fopen(finalPath.c_str(), "wb");
    if (!file) return CannotWrite(target.path);
  } else {
    fs::path directory = finalPath.parent_path();
    if (directory.empty()) directory = ".";
    std::string pattern = (directory / ("." + finalPath.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return CannotWrite(target.path);
    tempPath = pattern;
    file = ::fdopen(fd, "wb");
    if (!file) {
      ::close(fd);
      ::unlink(tempPath.c_str());
      return CannotWrite(target.path);
    }
  }

  std::string error;
  bool cancelled = false;
  {
    CUP_FileBuffer buffer;
    buffer.Attach(file);
    std::ostream out(&buffer);
    {
      CAP_AudioEncoder encoder(out, target.channels, target.rate, target.compression, target.fileFormat, seconds,
                               source.channels, source.sampleRate, annotations);
      if (encoder.errorText.empty()) {
        const std::int64_t total = std::int64_t(source.sampleRate * seconds + 0.5);
        std::vector<float> frames(std::size_t(kSaveChunkFrames) * std::max(source.channels, 1));
        int position = 0;
        while (out.good() && encoder.errorText.empty()) {
          const int n = source.ReadFloat(frames.data(), kSaveChunkFrames, position);
          if (n < 1) break;
          encoder.WriteFloat(frames.data(), n, position);
          position += n;
          if (progress && total > 0 && !progress(user, "Saving audio data:", RoundPercent(100.0 * position / total))) {
            cancelled = true;
            break;
          }
        }
      }
      encoder.Finish();  // completes the header and the trailing chunks
      error = cancelled ? kSaveCancelled : encoder.errorText;
      if (progress && !cancelled) progress(user, "", 100);
    }
    out.flush();
    const bool streamGood = !out.fail();
    // Data must be on the disk before the rename makes it the file, or a crash leaves nothing.
    const bool flushed = std::fflush(file) == 0 && (device || ::fsync(::fileno(file)) == 0);
    const bool modeSet = device || ::fchmod(::fileno(file), ModeForReplacement(finalPath)) == 0;
    const bool closed = buffer.Close();
    if (error.empty() && (!streamGood || !flushed || !closed)) error = kWriteFailed;
    if (error.empty() && !modeSet) error = CannotWrite(target.path);
  }
  if (device) return error;
  if (error.empty() && std::rename(tempPath.c_str(), finalPath.c_str()) != 0) error = CannotWrite(target.path);
  if (!error.empty()) ::unlink(tempPath.c_str());
  return error;
}
