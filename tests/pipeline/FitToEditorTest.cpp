// Files beyond the tracks' limits: above 96,000 Hz they are converted to 96,000 Hz, of more than
// two channels down-mixed to stereo (5.1, 7.1) or cut to channels 1 and 2, each with a notice and
// the file's own layout kept for info; below 8,000 Hz they are still refused.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "formats/Probe.h"
#include "pipeline/AudioDecoder.h"
#include "tests/formats/TestSupport.h"

namespace {

using namespace formats_test;

struct Opened {
  std::string error, notice;
  int rate = 0, channels = 0, fileRate = 0, fileChannels = 0;
  std::vector<float> samples;
};

Opened Open(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  CAP_AudioDecoder decoder(in, std::int64_t(std::filesystem::file_size(path)), ExtensionOf(path), true);
  Opened o{decoder.errorText, decoder.notice, decoder.sampleRate, decoder.channels, decoder.fileRate,
           decoder.fileChannels, {}};
  if (!o.error.empty()) return o;
  std::vector<float> block(4096 * 2);
  for (int at = 0;;) {
    const int n = decoder.ReadFloat(block.data(), 4096, at);
    if (n <= 0) break;
    o.samples.insert(o.samples.end(), block.begin(), block.begin() + n * o.channels);
    at += n;
  }
  return o;
}

TEST(FitToEditor, LayoutsBeyondTheTracks) {
  if (!HaveSox() || !HaveFfmpeg()) GTEST_SKIP() << "sox or ffmpeg missing";
  TempDir dir;
  const struct {
    const char* name;
    const char* make;  // %o the file
    int rate, channels, fileRate, fileChannels;
    const char* notice;
  } kCases[] = {
      {"a.flac", "sox -n -r 192000 -c 2 -b 24 %o synth 1 sine 1000 sine 3000", 96000, 2, 192000, 2,
       "192,000 Hz converted to 96,000 Hz"},
      {"b.wav", "sox -n -r 176400 -c 1 -b 16 %o synth 1 sine 440", 96000, 1, 176400, 1,
       "176,400 Hz converted to 96,000 Hz"},
      {"c.wav", "sox -n -r 48000 -c 6 -b 16 %o synth 1 sine 100 sine 200 sine 300 sine 400 sine 500 sine 600", 48000, 2,
       48000, 6, "5.1 down-mixed to stereo"},
      {"d.flac", "sox -n -r 44100 -c 8 -b 16 %o synth 1 sine 100 sine 200 sine 300 sine 400 sine 500 sine 600 sine 700 sine 800",
       44100, 2, 44100, 8, "7.1 down-mixed to stereo"},
      {"e.wav", "sox -n -r 192000 -c 4 -b 16 %o synth 1 sine 100 sine 200 sine 300 sine 400", 96000, 2, 192000, 4,
       "4 channels: channels 1 and 2 shown; 192,000 Hz converted to 96,000 Hz"},
      {"f.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 1 sine 100 sine 200", 44100, 2, 44100, 2, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir / c.name;
    std::string make = c.make;
    make.replace(make.find("%o"), 2, file);
    ASSERT_TRUE(RunQuietly(make));
    const Opened o = Open(file);
    ASSERT_EQ(o.error, "");
    EXPECT_EQ(o.rate, c.rate);
    EXPECT_EQ(o.channels, c.channels);
    EXPECT_EQ(o.fileRate, c.fileRate);
    EXPECT_EQ(o.fileChannels, c.fileChannels);
    EXPECT_EQ(o.notice, c.notice);
    // One second of the file is one second of the document, to the converter's rounding.
    EXPECT_NEAR(double(o.samples.size()) / c.channels, c.rate, 2);

    // The file's own samples, as ffmpeg decodes them.
    ASSERT_TRUE(RunQuietly("ffmpeg -v error -i " + file + " -f f32le " + file + ".f32"));
    const std::vector<float> own = ReadFloats(file + ".f32");
    const int n = c.fileChannels;
    const std::size_t frames = own.size() / std::size_t(n);
    if (c.rate == c.fileRate) {
      ASSERT_EQ(o.samples.size(), frames * 2);
      const float k = 0.70710678f, scale = 1.0f / (1.0f + k * (n == 8 ? 3 : 2));
      for (std::size_t i = 0; i < frames; ++i) {
        const float* f = &own[i * std::size_t(n)];
        float left = f[0], right = f[1];
        if (n == 6 || n == 8) {
          left = (f[0] + k * (f[2] + f[4]) + (n == 8 ? k * f[6] : 0)) * scale;
          right = (f[1] + k * (f[2] + f[5]) + (n == 8 ? k * f[7] : 0)) * scale;
        }
        ASSERT_NEAR(o.samples[2 * i], left, 1e-6) << i;
        ASSERT_NEAR(o.samples[2 * i + 1], right, 1e-6) << i;
      }
    } else {
      // Converted: the tones are below both Nyquist frequencies, so their loudness is kept.
      double ownPower = 0, ourPower = 0;
      for (std::size_t i = 0; i < frames; ++i) ownPower += double(own[i * std::size_t(n)]) * own[i * std::size_t(n)];
      for (std::size_t i = 0; i < o.samples.size(); i += std::size_t(c.channels)) ourPower += double(o.samples[i]) * o.samples[i];
      EXPECT_NEAR(std::sqrt(ourPower / (double(o.samples.size()) / c.channels)), std::sqrt(ownPower / double(frames)), 0.01);
    }
  }
  // Below the tracks' lowest rate there is still no document.
  const std::string low = dir / "low.wav";
  ASSERT_TRUE(RunQuietly("sox -n -r 4000 -c 1 -b 16 " + low + " synth 1 sine 100"));
  EXPECT_EQ(Open(low).error, "Sample rate out of bounds");
}

}  // namespace
