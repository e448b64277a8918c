#pragma once
// The wave-device layer under the player: one direction of the system's default sound device,
// driven with fixed buffers that the device hands back through a notification sink. Every call
// returns kWaveOk or a result whose text ErrorText gives.
#include <cstdint>
#include <string>

enum class WaveDirection { Output, Input };

// Interleaved samples, 32-bit float or 16-bit signed little-endian, channel 0 first.
struct WaveFormat {
  int sampleRate = 0;
  int channels = 0;
  int bits = 16;
  bool isFloat = false;

  int BlockAlign() const { return channels * bits / 8; }
  bool operator==(const WaveFormat&) const = default;
};

// A buffer lent to the device. While queued it belongs to the device (and its I/O thread); it
// comes back through the sink, and its done mark is set on the UI thread when that notice is
// handled, so the UI thread never reads a field the device may still be writing.
struct WaveHeader {
  std::uint8_t* data = nullptr;
  std::uint32_t bufferLength = 0;   // bytes to play, or room to record into
  std::uint32_t bytesRecorded = 0;  // an input device sets it before handing the buffer back
  void* user = nullptr;             // the player that owns the buffer
  bool done = false;
  bool prepared = false;
};

// Receives the buffers a device hands back; called on whatever thread the device runs.
class WaveNotificationSink {
public:
  virtual void PostBufferDone(WaveDirection direction, WaveHeader* header) = 0;

protected:
  ~WaveNotificationSink() = default;
};

inline constexpr int kWaveOk = 0;

class CAI_WaveDevice {
public:
  virtual ~CAI_WaveDevice() = default;

  virtual WaveDirection Direction() const = 0;
  // Devices of this direction; 0 when there is no usable sound device at all.
  virtual int DeviceCount() = 0;
  // Whether the default device takes the format, without keeping it open.
  virtual int QueryFormat(const WaveFormat& format) = 0;
  virtual int Open(const WaveFormat& format, WaveNotificationSink* sink) = 0;
  // Output: hold the sound while the first buffers are queued, then release it.
  virtual int Pause() = 0;
  virtual int Restart() = 0;
  // Input: start capturing into the queued buffers.
  virtual int Start() = 0;
  virtual int Prepare(WaveHeader* header) = 0;
  virtual int Unprepare(WaveHeader* header) = 0;
  // Output: play the buffer's bufferLength bytes. Input: fill it (bytesRecorded from 0).
  virtual int Queue(WaveHeader* header) = 0;
  // Stop at once and hand every queued buffer back through the sink.
  virtual int Reset() = 0;
  // After Close the device touches no header and posts nothing more.
  virtual int Close() = 0;
  // Samples played or recorded since the device was opened.
  virtual int GetPosition(std::int64_t* samples) = 0;
  virtual std::string ErrorText(int result) const = 0;
};
