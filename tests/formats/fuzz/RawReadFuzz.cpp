// libFuzzer target for the raw reader: the first two input bytes choose the layout the user would
// state (channels, encoding, byte order, sign, rate; now and then an impossible one), the rest is
// the file. It either decodes and seeks, or ends in a SoundError with a short, non-empty message.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "formats/Raw.h"

namespace {

struct Encoding {
  int compression;
  int bits;
};

constexpr Encoding kEncodings[] = {
    {CompressionPcm8, 8},     {CompressionPcm16, 16}, {CompressionPcm24, 24}, {CompressionPcm32, 32},
    {CompressionFloat32, 32}, {CompressionMuLaw, 8},  {CompressionALaw, 8},   {CompressionPcm16, 8},  // last: mismatch
};
constexpr int kRates[] = {8000, 44100, 1, 0};

void Pull(AudioAbstract& reader, std::vector<float>& block, int rounds, int count) {
  for (int round = 0; round < rounds; ++round) {
    const int got = reader.PullSamples(block.data(), count);
    if (got < 0 || got > count) __builtin_trap();
    if (got == 0) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::cerr.rdbuf(nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int channels = data[0] & 0x0F;  // 0 and 13..15 are refused
  const bool bigEndian = data[0] & 0x10;
  const bool isSigned = data[0] & 0x20;
  const int count = 1 + (data[0] >> 6) * 700;  // odd request sizes, smaller and larger than a frame
  const Encoding encoding = kEncodings[data[1] & 7];
  const int rate = kRates[(data[1] >> 3) & 3];
  const int bits = data[1] & 0x80 ? 12 : encoding.bits;
  const std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  for (std::int64_t fileSize : {std::int64_t(bytes.size()), std::int64_t(0)}) {
    std::istringstream in(bytes);
    try {
      RawRead reader(in, fileSize, channels, rate, bits, encoding.compression, bigEndian, isSigned);
      if (reader.FloatByteCount() < 0) __builtin_trap();
      std::vector<float> block(std::size_t(count) + 16);
      Pull(reader, block, 64, count);
      const std::int64_t samples = reader.FloatByteCount() / 4;
      for (std::int64_t target : {std::int64_t(1), samples / 2, samples + 3}) {
        if (reader.SeekToSample(target)) Pull(reader, block, 2, count);
      }
    } catch (const SoundError& error) {
      if (error.Message().empty() || error.Message().size() > SoundError::kMaxMessage) __builtin_trap();
    }
  }
  return 0;
}
