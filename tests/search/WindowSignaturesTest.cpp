// The window series of a track against the track's own region signature for each window.
#include <gtest/gtest.h>

#include <random>

#include "analysis/SampleTrack.h"
#include "search/WindowSignatures.h"
#include "tests/analysis/TestAudio.h"

namespace {

TEST(WindowSignatures, EachWindowEqualsTheRegionSignatureOfTheTrack) {
  std::mt19937 rng(7);
  for (const int rate : {8000, 11025, 22050, 44100, 48000, 96000}) {
    CAP_SampleTrack track(rate);
    // Tone, sweep, silence and noise, so that every lag byte and the impulse byte vary.
    std::vector<float> audio = testaudio::Tone(rate, rate, 440);
    const auto sweep = testaudio::Sweep(rate * 2, rate, 100, 3900);
    audio.insert(audio.end(), sweep.begin(), sweep.end());
    audio.insert(audio.end(), std::size_t(rate / 3), 0.0f);
    const auto noise = testaudio::Noise(rate + 77, unsigned(rate));
    audio.insert(audio.end(), noise.begin(), noise.end());
    for (std::size_t i = 0; i < audio.size(); i += 4410) {
      const int n = int(std::min<std::size_t>(4410, audio.size() - i));
      track.InsertSamples(audio.data() + i, n, track.Length());
    }
    const std::vector<std::int32_t> lengths = {2, 101, rate / 2 + 1, rate, 2 * rate, track.Length(), track.Length() + 1};
    const auto series = ComputeWindowSeries(track, lengths);
    ASSERT_EQ(series.size(), lengths.size());
    int compared = 0;
    for (const WindowSeries& s : series) {
      EXPECT_EQ(s.hop, s.length / 2);
      const std::int64_t expected = s.length <= track.Length() ? (track.Length() - s.length) / s.hop + 1 : 0;
      ASSERT_EQ(std::int64_t(s.signatures.size()), expected) << rate << " " << s.length;
      // Every window of the short lengths would be slow as written: all of the first 24 (every
      // decimation phase), then random ones.
      for (std::size_t k = 0; k < std::min<std::size_t>(s.signatures.size(), 60); ++k) {
        const std::size_t i = k < 24 ? k : std::size_t(rng()) % s.signatures.size();
        SoundSignature plain;
        track.ComputeRegionSignature(s.length, int(i) * s.hop, &plain);
        ASSERT_EQ(s.signatures[i], plain) << "rate " << rate << " length " << s.length << " window " << i;
        ++compared;
      }
    }
    EXPECT_GE(compared, 140);
  }
}

TEST(WindowSignatures, NothingBelowTheAnalyzersRate) {
  CAP_SampleTrack track(7999);
  const auto tone = testaudio::Tone(8000, 7999, 300);
  track.InsertSamples(tone.data(), int(tone.size()), 0);
  EXPECT_TRUE(ComputeWindowSeries(track, {4000}).empty());
}

}  // namespace
