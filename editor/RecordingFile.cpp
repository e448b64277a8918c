#include "editor/RecordingFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>

namespace {

constexpr int kHeaderBytes = 44;

void Put16(std::uint8_t* p, unsigned v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// A canonical 44-byte header; sizes beyond 4 GB stay at the largest value (the reader goes by
// the file's length).
void Header(std::uint8_t* h, int channels, int rate, bool isFloat, std::uint64_t dataBytes) {
  const std::uint32_t data = std::uint32_t(std::min<std::uint64_t>(dataBytes, 0xFFFFFFFFu - 36));
  const int bytes = isFloat ? 4 : 2;
  std::memcpy(h, "RIFF", 4);
  Put32(h + 4, 36 + data);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  Put32(h + 16, 16);
  Put16(h + 20, isFloat ? 3 : 1);
  Put16(h + 22, unsigned(channels));
  Put32(h + 24, std::uint32_t(rate));
  Put32(h + 28, std::uint32_t(rate * channels * bytes));
  Put16(h + 32, unsigned(channels * bytes));
  Put16(h + 34, unsigned(bytes * 8));
  std::memcpy(h + 36, "data", 4);
  Put32(h + 40, data);
}

bool WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_t done = ::write(fd, p, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    p += done;
    n -= std::size_t(done);
  }
  return true;
}

}  // namespace

RecordingFile::RecordingFile(const std::string& path, int channels, int rate, bool isFloat)
    : path_(path), channels_(channels), rate_(rate), isFloat_(isFloat), frameBytes_(channels * (isFloat ? 4 : 2)) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::uint8_t header[kHeaderBytes];
  Header(header, channels, rate, isFloat, 0);
  if (fd_ < 0 || !WriteAll(fd_, header, sizeof header)) {
    writer_.Fail(std::string("The recording's recovery file could not be written (") + std::strerror(errno) + ")");
    return;
  }
  // Woken often enough that the header follows the audio within a second.
  writer_.Start([this](std::deque<std::vector<std::uint8_t>>& batch, bool flushing) { return Write(batch, flushing); },
                "The recording's recovery file could not be written", std::chrono::milliseconds(100));
}

RecordingFile::~RecordingFile() {
  writer_.Stop(false);
  if (fd_ >= 0) ::close(fd_);
}

void RecordingFile::Append(const void* data, int frames) {
  if (frames <= 0) return;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  writer_.Queue(std::vector<std::uint8_t>(bytes, bytes + std::size_t(frames) * std::size_t(frameBytes_)));
}

bool RecordingFile::Write(std::deque<std::vector<std::uint8_t>>& batch, bool flushing) {
  using Clock = std::chrono::steady_clock;
  for (const auto& bytes : batch) {
    if (!WriteAll(fd_, bytes.data(), bytes.size())) return false;
    dataBytes_ += bytes.size();
  }
  headerStale_ = headerStale_ || !batch.empty();
  const Clock::time_point now = Clock::now();
  if (!headerStale_) {
    lastHeader_ = now;
    return true;
  }
  // About once a second (and when asked) the header tells the size, and the disk has it all.
  if (!flushing && now - lastHeader_ < std::chrono::milliseconds(900)) return true;
  std::uint8_t header[kHeaderBytes];
  Header(header, channels_, rate_, isFloat_, dataBytes_);
  if (::pwrite(fd_, header, sizeof header, 0) != kHeaderBytes || ::fdatasync(fd_) != 0) return false;
  headerStale_ = false;
  lastHeader_ = now;
  return true;
}

bool RecordingFile::Flush() { return writer_.Flush(); }
bool RecordingFile::Failed() const { return writer_.Failed(); }
std::string RecordingFile::FailureText() const { return writer_.FailureText(); }

bool ReadRecordingFile(const std::string& path, RecordedAudio* audio, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = path + ": the recording could not be opened (" + std::strerror(errno) + ")";
    return false;
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[1 << 16];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  ::close(fd);
  if (bytes.size() < kHeaderBytes || std::memcmp(bytes.data(), "RIFF", 4) || std::memcmp(bytes.data() + 8, "WAVEfmt ", 8) ||
      std::memcmp(bytes.data() + 36, "data", 4)) {
    *error = path + ": not a recording's recovery file";
    return false;
  }
  const int format = bytes[20] | bytes[21] << 8;
  audio->channels = bytes[22] | bytes[23] << 8;
  audio->rate = int(Get32(bytes.data() + 24));
  audio->isFloat = format == 3;
  if (audio->channels < 1 || audio->channels > 2 || (format != 1 && format != 3)) {
    *error = path + ": not a recording's recovery file";
    return false;
  }
  const std::size_t frameBytes = std::size_t(audio->channels * (audio->isFloat ? 4 : 2));
  const std::size_t data = (bytes.size() - kHeaderBytes) / frameBytes * frameBytes;
  audio->data.assign(bytes.begin() + kHeaderBytes, bytes.begin() + kHeaderBytes + std::ptrdiff_t(data));
  return true;
}
