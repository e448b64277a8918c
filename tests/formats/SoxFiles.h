#pragma once
// Shared by the AU and AIFF tests: opening a file on disk through the probe table, and comparing
// a decoding with sox's own.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/formats/TestSupport.h"

namespace formats_test {

// sox keeps 32-bit integers and floats as 24-bit fixed point, so those decodings may differ
// from ours by up to 2^-24; every other encoding scales by the same power of two in both.
constexpr double kSox24BitRounding = 1.0 / 16777216.0;

struct DecodedFile {
  int rate = 0, channels = 0, compression = 0, fileFormat = 0, resolution = 0;
  std::int64_t floatByteCount = 0;
  std::vector<float> samples;
  std::string error;  // the SoundError text, "no reader" when no probe matched
};

inline DecodedFile DecodePath(const std::string& path) {
  DecodedFile d;
  std::ifstream in(path, std::ios::binary);
  try {
    auto reader = CreateReaderForFile(in, std::int64_t(std::filesystem::file_size(path)), ExtensionOf(path), true);
    if (!reader) {
      d.error = "no reader";
      return d;
    }
    d.rate = reader->CurrentSamplingRate();
    d.channels = reader->CurrentChannels();
    d.compression = reader->Compression();
    d.fileFormat = reader->FileFormat();
    d.resolution = reader->SampleResolution();
    d.floatByteCount = reader->FloatByteCount();
    d.samples = PullAll(*reader);
  } catch (const SoundError& error) {
    d.error = error.what();
  }
  return d;
}

inline void ExpectSameSamples(const std::vector<float>& ours, const std::vector<float>& sox, double tolerance) {
  ASSERT_EQ(ours.size(), sox.size());
  for (std::size_t i = 0; i < ours.size(); ++i) {
    if (tolerance == 0)
      ASSERT_EQ(ours[i], sox[i]) << "sample " << i;
    else
      ASSERT_NEAR(ours[i], sox[i], tolerance) << "sample " << i;
  }
}

// A test sound: a different tone on each channel.
inline std::vector<float> Tones(int frames, int channels) {
  std::vector<float> samples(std::size_t(frames) * channels);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) samples[std::size_t(i) * channels + c] = float(0.7 * std::sin(0.05 * i * (c + 1) + c));
  return samples;
}

inline std::string Be16(std::uint32_t v) { return std::string{char(v >> 8), char(v)}; }
inline std::string Be32(std::uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

}  // namespace formats_test
