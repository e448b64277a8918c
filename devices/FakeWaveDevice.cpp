#include "devices/FakeWaveDevice.h"

#include <algorithm>
#include <cstdio>

namespace {
constexpr int kNotOpen = 1;
constexpr int kNoDevice = 2;
constexpr int kBadFormat = 3;
constexpr int kAlreadyOpen = 4;
constexpr int kStillQueued = 5;
constexpr int kWrongDirection = 6;
constexpr int kInjected = 100;  // + the call

const char* const kCallNames[] = {"QueryFormat", "Open",  "Pause", "Restart", "Start",      "Prepare",
                                  "Unprepare",   "Queue", "Reset", "Close",   "GetPosition"};
}  // namespace

void FakeWaveDevice::FailOn(FakeWaveCall call, int nth) { failAt_[int(call)] = std::max(nth, 1); }

int FakeWaveDevice::Enter(FakeWaveCall call) {
  ++calls_[int(call)];
  int& armed = failAt_[int(call)];
  if (armed > 0 && --armed == 0) return kInjected + int(call);
  return kWaveOk;
}

std::string FakeWaveDevice::ErrorText(int result) const {
  char text[256];
  switch (result) {
    case kWaveOk: return {};
    case kNotOpen: return "Fake device: not open.";
    case kNoDevice: return "Fake device: no device.";
    case kBadFormat: return "Fake device: format not supported.";
    case kAlreadyOpen: return "Fake device: already open.";
    case kStillQueued: return "Fake device: the buffer is still queued.";
    case kWrongDirection: return "Fake device: not a call of this direction.";
    default:
      if (result >= kInjected && result < kInjected + int(FakeWaveCall::kCount)) {
        std::snprintf(text, sizeof text, "Fake device: %s failed.", kCallNames[result - kInjected]);
        return text;
      }
      std::snprintf(text, sizeof text, "Fake device: error %d.", result);
      return text;
  }
}

int FakeWaveDevice::QueryFormat(const WaveFormat& format) {
  if (int r = Enter(FakeWaveCall::Query)) return r;
  if (deviceCount < 1) return kNoDevice;
  if (format.isFloat && !acceptsFloat) return kBadFormat;
  return kWaveOk;
}

int FakeWaveDevice::Open(const WaveFormat& format, WaveNotificationSink* sink) {
  if (int r = Enter(FakeWaveCall::Open)) return r;
  if (deviceCount < 1) return kNoDevice;
  if (open_) return kAlreadyOpen;
  if (format.isFloat && !acceptsFloat) return kBadFormat;
  format_ = format;
  sink_ = sink;
  open_ = true;
  paused_ = started_ = false;
  position_ = 0;
  frontOffset_ = 0;
  return kWaveOk;
}

int FakeWaveDevice::Pause() {
  if (int r = Enter(FakeWaveCall::Pause)) return r;
  if (!open_) return kNotOpen;
  if (direction_ != WaveDirection::Output) return kWrongDirection;
  paused_ = true;
  return kWaveOk;
}

int FakeWaveDevice::Restart() {
  if (int r = Enter(FakeWaveCall::Restart)) return r;
  if (!open_) return kNotOpen;
  if (direction_ != WaveDirection::Output) return kWrongDirection;
  paused_ = false;
  return kWaveOk;
}

int FakeWaveDevice::Start() {
  if (int r = Enter(FakeWaveCall::Start)) return r;
  if (!open_) return kNotOpen;
  if (direction_ != WaveDirection::Input) return kWrongDirection;
  started_ = true;
  return kWaveOk;
}

int FakeWaveDevice::Prepare(WaveHeader*) {
  if (int r = Enter(FakeWaveCall::Prepare)) return r;
  return open_ ? kWaveOk : kNotOpen;
}

int FakeWaveDevice::Unprepare(WaveHeader* header) {
  if (int r = Enter(FakeWaveCall::Unprepare)) return r;
  if (!open_) return kNotOpen;
  return std::find(queue_.begin(), queue_.end(), header) != queue_.end() ? kStillQueued : kWaveOk;
}

int FakeWaveDevice::Queue(WaveHeader* header) {
  if (int r = Enter(FakeWaveCall::Queue)) return r;
  if (!open_) return kNotOpen;
  if (direction_ == WaveDirection::Input) header->bytesRecorded = 0;
  queue_.push_back(header);
  queuedLengths.push_back(header->bufferLength);
  return kWaveOk;
}

void FakeWaveDevice::HandBack(WaveHeader* header) {
  if (sink_) sink_->PostBufferDone(direction_, header);
}

int FakeWaveDevice::Reset() {
  if (int r = Enter(FakeWaveCall::Reset)) return r;
  if (!open_) return kNotOpen;
  started_ = false;
  position_ = 0;
  frontOffset_ = 0;
  if (!returnsOnReset) return kWaveOk;
  while (!queue_.empty()) {
    WaveHeader* h = queue_.front();
    queue_.pop_front();
    HandBack(h);
  }
  return kWaveOk;
}

int FakeWaveDevice::Close() {
  if (int r = Enter(FakeWaveCall::Close)) return r;
  if (!open_) return kNotOpen;
  queue_.clear();  // whatever the device still held is forgotten, never handed back
  open_ = false;
  sink_ = nullptr;
  return kWaveOk;
}

int FakeWaveDevice::GetPosition(std::int64_t* samples) {
  if (int r = Enter(FakeWaveCall::GetPosition)) return r;
  if (!open_) return kNotOpen;
  *samples = position_;
  return kWaveOk;
}

void FakeWaveDevice::Advance(std::int64_t frames) {
  if (!open_ || frames <= 0) return;
  const std::uint32_t bytesPerFrame = std::max(format_.BlockAlign(), 1);
  if (direction_ == WaveDirection::Output) {
    if (paused_) return;
    while (frames > 0 && !queue_.empty()) {
      WaveHeader* h = queue_.front();
      const std::int64_t left = (h->bufferLength - frontOffset_) / bytesPerFrame;
      const std::int64_t take = std::min(left, frames);
      played.insert(played.end(), h->data + frontOffset_, h->data + frontOffset_ + take * bytesPerFrame);
      frontOffset_ += std::uint32_t(take * bytesPerFrame);
      position_ += take;
      frames -= take;
      if (take == left) {
        queue_.pop_front();
        frontOffset_ = 0;
        HandBack(h);
      }
    }
    return;
  }
  if (!started_) return;
  position_ += frames;  // the input runs on whether or not a buffer waits
  while (frames > 0 && !queue_.empty()) {
    WaveHeader* h = queue_.front();
    const std::int64_t room = (h->bufferLength - h->bytesRecorded) / bytesPerFrame;
    const std::int64_t take = std::min(room, frames);
    for (std::int64_t i = 0; i < take * bytesPerFrame; ++i) {
      h->data[h->bytesRecorded + i] = captureData.empty() ? 0 : captureData[captureOffset_];
      if (!captureData.empty()) captureOffset_ = (captureOffset_ + 1) % captureData.size();
    }
    h->bytesRecorded += std::uint32_t(take * bytesPerFrame);
    frames -= take;
    if (take == room) {
      queue_.pop_front();
      HandBack(h);
    }
  }
}

bool FakeWaveDevice::ReturnNext() {
  if (queue_.empty()) return false;
  WaveHeader* h = queue_.front();
  queue_.pop_front();
  frontOffset_ = 0;
  HandBack(h);
  return true;
}
