#include "analysis/AudioContainer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "analysis/SoundSignature.h"

int CAP_AudioContainer::ReadFloat(float*, int, int) { return 0; }
int CAP_AudioContainer::WriteFloat(const float*, int, int) { return 0; }

int CAP_AudioContainer::ReadInt(void* buffer, int bits, int frames, int position) {
  const int frameChannels = std::clamp(channels, 1, 2);
  const int bytesPerFrame = bits * frameChannels / 8;
  float scratch[kChunkFrames * 2];
  auto* out = static_cast<unsigned char*>(buffer);
  int done = 0;
  while (done < frames) {
    const int n = ReadFloat(scratch, std::min(frames - done, int(kChunkFrames)), position);
    if (n <= 0) break;
    FloatToIntSamples(scratch, out + std::size_t(done) * bytesPerFrame, bits, n, frameChannels);
    position += n;
    done += n;
  }
  return done;
}

int CAP_AudioContainer::WriteInt(const void* buffer, int bits, int frames, int position) {
  if (frames < 1) return 0;
  const int frameChannels = std::clamp(channels, 1, 2);
  const int bytesPerFrame = bits / 8 * frameChannels;
  float scratch[kChunkFrames * 2];
  const auto* in = static_cast<const unsigned char*>(buffer);
  int done = 0;
  int written;
  do {
    const int n = std::min(frames - done, int(kChunkFrames));
    IntToFloatSamples(in + std::size_t(done) * bytesPerFrame, scratch, bits, n, frameChannels);
    written = WriteFloat(scratch, n, position);
    position += written;
    done += written;
  } while (written > 0 && done < frames);
  return done;
}

namespace {
std::int8_t FloatToInt8(float v) {
  if (!(v == v)) return 0;
  if (v < 0) {
    double r = double(v) * 128.0 - 0.5;
    return r <= -128.0 ? std::int8_t(-128) : std::int8_t(int(r));
  }
  double r = double(v) * 128.0 + 0.5;
  return r >= 127.0 ? std::int8_t(127) : std::int8_t(int(r));
}

// The 24-bit two's complement pattern of a float, as the integer layout table gives it.
std::uint32_t FloatToInt24(float v) {
  if (!(v == v)) return 0;
  if (v < 0) {
    const double r = (std::max(double(v), -1.0) + 1.0) * 8388608.0 + 0.5;
    return (std::uint32_t(std::int64_t(r)) + 0x800000u) & 0xFFFFFFu;
  }
  const double r = double(v) * 8388608.0 + 0.5;
  return r >= 8388607.0 ? 0x7FFFFFu : std::uint32_t(std::int64_t(r));
}
}  // namespace

void FloatToIntSamples(const float* source, void* dest, int bits, int frames, int channels) {
  const std::size_t n = std::size_t(std::max(frames, 0)) * std::size_t(std::max(channels, 0));
  auto* out = static_cast<unsigned char*>(dest);
  switch (bits) {
    case 8:
      for (std::size_t i = 0; i < n; ++i) out[i] = std::uint8_t(FloatToInt8(source[i]));
      break;
    case 16:
      for (std::size_t i = 0; i < n; ++i) {
        const auto v = std::uint16_t(FloatToInt16(source[i]));
        out[2 * i] = std::uint8_t(v & 0xFF);
        out[2 * i + 1] = std::uint8_t(v >> 8);
      }
      break;
    case 24:
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t v = FloatToInt24(source[i]);
        out[3 * i] = std::uint8_t(v >> 16);
        out[3 * i + 1] = std::uint8_t(v >> 8);
        out[3 * i + 2] = std::uint8_t(v);
      }
      break;
    default:
      break;
  }
}

void IntToFloatSamples(const void* source, float* dest, int bits, int frames, int channels) {
  const std::size_t n = std::size_t(std::max(frames, 0)) * std::size_t(std::max(channels, 0));
  const auto* in = static_cast<const unsigned char*>(source);
  switch (bits) {
    case 8:
      for (std::size_t i = 0; i < n; ++i) dest[i] = float(std::int8_t(in[i])) * (1.0f / 128);
      break;
    case 16:
      for (std::size_t i = 0; i < n; ++i)
        dest[i] = float(std::int16_t(in[2 * i] | (in[2 * i + 1] << 8))) * (1.0f / 32768);
      break;
    case 24:
      for (std::size_t i = 0; i < n; ++i) {
        std::int32_t v = (in[3 * i] << 16) | (in[3 * i + 1] << 8) | in[3 * i + 2];
        if (v & 0x800000) v -= 0x1000000;
        dest[i] = float(v) * (1.0f / 8388608);
      }
      break;
    default:
      break;
  }
}

void CAP_AudioViewer::AddShift(double seconds) {
  shift += seconds;
  if (std::fabs(shift) < 0.00001) shift = 0;
}

void CAP_AudioViewer::AddChangedRange(double start, double length) {
  if (changedLength == 0) {
    changedStart = start;
    changedLength = length;
    return;
  }
  const double end = std::max(changedStart + changedLength, start + length);
  changedStart = std::min(changedStart, start);
  changedLength = end - changedStart;
}

bool CAP_AudioViewer::ApplyChanges(int, int) {
  changedStart = 0;
  changedLength = 0;
  shift = 0;
  return true;
}
