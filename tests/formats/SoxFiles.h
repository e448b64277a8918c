#pragma once
// Shared by the AU and AIFF tests: opening a file on disk through the probe table, and comparing
// a decoding with sox's own.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
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

namespace formats_test {

// Every truncation of a file, and the file with each header byte set to 0x00, 0x7F or 0xFF in
// turn, opens under the given extension either with audio or with a SoundError: never a crash,
// a hang or a read beyond the bytes (which the sanitizer build checks).
inline void ExpectDamageIsReported(const std::string& file, const std::string& extension, std::size_t headerBytes) {
  auto open = [&](const std::string& bytes) {
    std::istringstream in(bytes);
    try {
      auto reader = CreateReaderForFile(in, std::int64_t(bytes.size()), extension, true);
      if (!reader) return;
      reader->CurrentSamplingRate();
      reader->CurrentChannels();
      const std::int64_t expected = reader->FloatByteCount() / 4;
      const std::int64_t got = std::int64_t(PullAll(*reader).size());
      EXPECT_LE(got, std::int64_t(bytes.size()));  // never more samples than bytes
      if (expected > 0) {
        EXPECT_EQ(got, expected);
      }
    } catch (const SoundError& error) {
      EXPECT_NE(std::string(error.what()), "");
    }
  };
  for (std::size_t n = 0; n < file.size(); ++n) open(file.substr(0, n));
  for (std::size_t at = 0; at < std::min(headerBytes, file.size()); ++at) {
    for (char value : {'\x00', '\x7F', '\xFF'}) {
      std::string damaged = file;
      damaged[at] = value;
      open(damaged);
    }
  }
}

}  // namespace formats_test
