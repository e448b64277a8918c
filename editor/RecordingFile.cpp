#include "editor/RecordingFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

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

struct RecordingFile::Shared {
  std::mutex mutex;
  std::condition_variable wake, done;
  std::deque<std::vector<std::uint8_t>> queue;
  std::uint64_t queued = 0, written = 0;  // buffers
  bool stop = false;
  bool flush = false;   // asked to write the header now
  bool fresh = true;    // the header on disk tells everything written
  bool failed = false;
  std::string failure;
  int fd = -1;
  int channels = 1, rate = 0;
  bool isFloat = false;
  std::thread thread;
};

RecordingFile::RecordingFile(const std::string& path, int channels, int rate, bool isFloat)
    : path_(path), frameBytes_(channels * (isFloat ? 4 : 2)), shared_(std::make_unique<Shared>()) {
  Shared& s = *shared_;
  s.channels = channels;
  s.rate = rate;
  s.isFloat = isFloat;
  s.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::uint8_t header[kHeaderBytes];
  Header(header, channels, rate, isFloat, 0);
  if (s.fd < 0 || !WriteAll(s.fd, header, sizeof header)) {
    s.failure = std::string("The recording's recovery file could not be written (") + std::strerror(errno) + ")";
    s.failed = true;
    return;
  }
  s.thread = std::thread([this] { Run(); });
}

RecordingFile::~RecordingFile() {
  if (shared_->thread.joinable()) {
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      shared_->stop = true;
    }
    shared_->wake.notify_all();
    shared_->thread.join();
  }
  if (shared_->fd >= 0) ::close(shared_->fd);
}

void RecordingFile::Append(const void* data, int frames) {
  if (frames <= 0) return;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::vector<std::uint8_t> copy(bytes, bytes + std::size_t(frames) * std::size_t(frameBytes_));
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->failed) return;
    shared_->queue.push_back(std::move(copy));
    ++shared_->queued;
  }
  shared_->wake.notify_one();
}

void RecordingFile::Run() {
  Shared& s = *shared_;
  using Clock = std::chrono::steady_clock;
  std::uint64_t dataBytes = 0;
  bool headerStale = false;
  Clock::time_point lastHeader = Clock::now();
  std::unique_lock<std::mutex> lock(s.mutex);
  for (;;) {
    s.wake.wait_until(lock, lastHeader + std::chrono::seconds(1),
                      [&] { return s.stop || s.flush || !s.queue.empty(); });
    std::deque<std::vector<std::uint8_t>> batch;
    batch.swap(s.queue);
    const bool stopping = s.stop, flushing = s.flush;
    s.flush = false;
    lock.unlock();
    bool ok = true;
    for (const auto& bytes : batch) {
      ok = ok && WriteAll(s.fd, bytes.data(), bytes.size());
      dataBytes += bytes.size();
    }
    headerStale = headerStale || !batch.empty();
    // Once a second (and at the end) the header tells the size, and the disk has it all.
    if (ok && headerStale && (stopping || flushing || Clock::now() - lastHeader >= std::chrono::seconds(1))) {
      std::uint8_t header[kHeaderBytes];
      Header(header, s.channels, s.rate, s.isFloat, dataBytes);
      ok = ::pwrite(s.fd, header, sizeof header, 0) == kHeaderBytes && ::fdatasync(s.fd) == 0;
      headerStale = false;
      lastHeader = Clock::now();
    } else if (!headerStale) {
      lastHeader = Clock::now();
    }
    lock.lock();
    if (!ok && !s.failed) {
      s.failure = std::string("The recording's recovery file could not be written (") + std::strerror(errno) + ")";
      s.failed = true;
    }
    s.written += batch.size();
    s.fresh = !headerStale;
    s.done.notify_all();
    if (stopping && s.queue.empty()) return;
  }
}

bool RecordingFile::Flush() {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  if (!shared_->thread.joinable()) return false;
  const std::uint64_t target = shared_->queued;
  shared_->flush = true;
  shared_->wake.notify_all();
  shared_->done.wait(lock, [&] {
    return (shared_->written >= target && shared_->fresh && !shared_->flush) || shared_->failed;
  });
  return !shared_->failed;
}

bool RecordingFile::Failed() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->failed;
}

std::string RecordingFile::FailureText() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->failure;
}

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
