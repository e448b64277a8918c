// The sample mixer: frames over the channel and mix tracks, DC correction, the halftone rate
// table and pitch shift, the loader's progress calls and growth notices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "pipeline/SampleMixer.h"
#include "tests/pipeline/PipelineTestSupport.h"

namespace {

using namespace pipeline_test;

TEST(Mixer, StereoFramesLandOnLeftRightAndMixTracks) {
  CAP_SampleMixer mixer(2, 44100, true);
  ASSERT_EQ(mixer.TrackCount(), 3);
  const float frames[4] = {0.5f, -0.5f, 0.25f, 0.75f};
  EXPECT_EQ(mixer.WriteFloat(frames, 2, 0), 2);
  EXPECT_EQ(mixer.writePosition, 2);
  float sample[2];
  const float expected[3][2] = {{0.5f, 0.25f}, {-0.5f, 0.75f}, {0.0f, 0.5f}};
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(mixer.Track(k)->ReadSamples(sample, 2, 0), 2);
    EXPECT_EQ(sample[0], expected[k][0]) << k;
    EXPECT_EQ(sample[1], expected[k][1]) << k;
  }
  float back[4] = {};
  EXPECT_EQ(mixer.ReadFloat(back, 5, 0), 2);
  EXPECT_EQ(std::vector<float>(back, back + 4), std::vector<float>(frames, frames + 4));
  EXPECT_EQ(mixer.readPosition, 2);
  EXPECT_DOUBLE_EQ(mixer.duration, 2.0 / 44100);
}

TEST(Mixer, MonoHasOneTrackAndTrackCountsChange) {
  CAP_SampleMixer mono(1, 8000, true);
  ASSERT_EQ(mono.TrackCount(), 1);
  const float v[3] = {0.1f, 0.2f, 0.3f};
  mono.WriteFloat(v, 3, 0);
  float out[3];
  EXPECT_EQ(mono.Track(0)->ReadSamples(out, 3, 0), 3);
  EXPECT_EQ(out[2], 0.3f);
  EXPECT_EQ(mono.Track(1), nullptr);

  CAP_SampleMixer bare(2, 8000, false);
  EXPECT_EQ(bare.TrackCount(), 2);
  bare.SetTrackCount(3);  // a new track is empty and has no write gain
  const float f[2] = {0.5f, 0.5f};
  bare.WriteFloat(f, 1, 0);
  EXPECT_EQ(bare.Track(2)->Length(), 1);
  EXPECT_EQ(bare.Track(2)->ReadSamples(out, 1, 0), 1);
  EXPECT_EQ(out[0], 0.0f);
  bare.SetTrackCount(1);
  EXPECT_EQ(bare.TrackCount(), 1);
  EXPECT_EQ(bare.Track(1), nullptr);
}

// DC correction measures the whole file and removes only a steady offset; every other file loads
// exactly as it is, also with the preference on.
TEST(Mixer, DCCorrectionRemovesOnlyASteadyOffsetOfTheWholeFile) {
  const int rate = 8000, frames = 3 * rate;
  auto sweep = [&](int i) {  // 300 to 3,000 Hz over the three seconds, mean near zero
    const double t = double(i) / rate;
    return float(0.5 * std::sin(2 * M_PI * (300 * t + 450 * t * t)));
  };
  struct Case {
    const char* what;
    std::function<float(int)> left;
    double removed;  // from the left channel; the right is always the plain sweep
  } cases[] = {
      {"a sweep", sweep, 0},
      {"a steady offset of 5 %", [&](int i) { return 0.05f + sweep(i); }, 0.05},
      {"a steady offset of 0.05 %, too small to matter", [&](int i) { return 0.0005f + sweep(i); }, 0},
      {"a lopsided opening", [&](int i) { return i < rate / 10 ? 0.5f : sweep(i); }, 0},
      {"an offset in the second half only", [&](int i) { return i < frames / 2 ? sweep(i) : 0.1f + sweep(i); }, 0},
      {"an offset that clamps", [&](int i) { return i == 100 ? -0.99f : 0.1f + sweep(i) * 0.1f; }, 0.1},
  };
  for (const Case& c : cases) {
    std::vector<float> data(2 * std::size_t(frames));
    for (int i = 0; i < frames; ++i) data[2 * std::size_t(i)] = c.left(i), data[2 * std::size_t(i) + 1] = sweep(i);
    for (int threads : {1, 2}) {
      VectorSource source(2, rate, data);
      CAP_SampleMixer mixer(2, rate, true);
      mixer.SetCorrectDC(true);
      mixer.SetLoadThreads(threads);
      ASSERT_TRUE(mixer.LoadFrom(source, frames, nullptr, 0)) << c.what;
      EXPECT_NEAR(mixer.DCOffset(0), c.removed, 2e-4) << c.what;
      EXPECT_EQ(mixer.DCOffset(1), 0.0) << c.what;
      std::vector<float> left(frames), right(frames), mix(frames);
      mixer.Track(0)->ReadSamples(left.data(), frames, 0);
      mixer.Track(1)->ReadSamples(right.data(), frames, 0);
      mixer.Track(2)->ReadSamples(mix.data(), frames, 0);
      for (int i = 0; i < frames; ++i) {
        const float expected = float(std::clamp(double(data[2 * std::size_t(i)]) - mixer.DCOffset(0), -1.0, 1.0));
        ASSERT_EQ(left[i], c.removed == 0 ? data[2 * std::size_t(i)] : expected) << c.what << " frame " << i;
        ASSERT_EQ(right[i], data[2 * std::size_t(i) + 1]) << c.what << " frame " << i;
        ASSERT_EQ(mix[i], (left[i] + right[i]) / 2) << c.what << " frame " << i;
      }
    }
  }
}

TEST(Mixer, TheHalftoneRateTable) {
  CAP_SampleMixer m(1, 44100, true);
  ASSERT_EQ(m.RateTableSize(), 43);
  EXPECT_EQ(m.RateTableEntry(0), 8259);
  EXPECT_EQ(m.RateTableEntry(42), 93445);
  EXPECT_EQ(m.BaseIndex(), 29);
  EXPECT_EQ(m.RateTableEntry(28), 41625);
  EXPECT_EQ(m.RateTableEntry(30), 46722);
  int lowest, highest;
  m.PitchRange(&lowest, &highest);
  EXPECT_EQ(lowest, -29);
  EXPECT_EQ(highest, 13);
  EXPECT_EQ(m.RateForPitch(0), 44100);
  EXPECT_EQ(m.RateForPitch(1), 46722);
  EXPECT_EQ(m.RateForPitch(-100), 8259);
  EXPECT_EQ(m.NearestPitch(44000), 0);
  EXPECT_EQ(m.NearestPitch(42800), -1);
  EXPECT_EQ(m.NearestPitch(1000000), 13);

  // Rates that lie on a bound keep their table entry despite the rounding of logarithms.
  CAP_SampleMixer at48(1, 48000, false);
  EXPECT_EQ(at48.RateTableEntry(at48.RateTableSize() - 1), 96000);
  CAP_SampleMixer at8(1, 8000, false);
  EXPECT_EQ(at8.BaseIndex(), 0);
  EXPECT_EQ(at8.RateTableEntry(0), 8000);
  CAP_SampleMixer at96(2, 96000, true);
  EXPECT_EQ(at96.RateTableEntry(at96.BaseIndex()), 96000);
  EXPECT_EQ(at96.BaseIndex(), at96.RateTableSize() - 1);
}

TEST(Mixer, PitchShiftReinterpretsEveryTrackAndClamps) {
  CAP_SampleMixer m(2, 22050, true);
  const std::vector<float> frames(2 * 44100, 0.1f);
  m.WriteFloat(frames.data(), 44100, 0);
  EXPECT_DOUBLE_EQ(m.duration, 2.0);
  m.SetPitchShift(12);
  EXPECT_EQ(m.sampleRate, 44100);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(m.Track(k)->sampleRate, 44100);
  EXPECT_DOUBLE_EQ(m.duration, 1.0);
  EXPECT_EQ(m.NearestPitch(44100), 12);
  EXPECT_EQ(m.Track(2)->Length(), 44100);
  m.SetPitchShift(0);
  EXPECT_EQ(m.sampleRate, 22050);
  EXPECT_DOUBLE_EQ(m.duration, 2.0);

  CAP_SampleMixer high(1, 44100, true);
  high.SetPitchShift(100);
  EXPECT_EQ(high.PitchShift(), 13);
  EXPECT_EQ(high.sampleRate, 93445);
  high.SetPitchShift(-100);
  EXPECT_EQ(high.PitchShift(), -29);
  EXPECT_EQ(high.sampleRate, 8259);
  high.SetPitchShift(std::nanf(""));
  EXPECT_EQ(high.PitchShift(), -29);
}

struct ProgressLog {
  std::vector<std::pair<std::string, int>> calls;
  int cancelAt = -1;  // answer false on this call
  static bool Record(std::intptr_t user, const char* text, int percent) {
    auto* log = reinterpret_cast<ProgressLog*>(user);
    log->calls.emplace_back(text, percent);
    return int(log->calls.size()) - 1 != log->cancelAt;
  }
};

TEST(Mixer, TheLoaderReportsProgressAsTheDecoderDelivers) {
  using Calls = std::vector<std::pair<std::string, int>>;
  {  // announces frames, delivers none
    VectorSource source(1, 8000, {});
    CAP_SampleMixer m(1, 8000, true);
    ProgressLog log;
    EXPECT_TRUE(m.LoadFrom(source, 1000, ProgressLog::Record, std::intptr_t(&log)));
    EXPECT_EQ(log.calls, (Calls{{"Loading audio data:", 0}, {"Loading audio data:", 0}, {"", 100}}));
  }
  {  // announces none
    VectorSource source(1, 8000, {});
    CAP_SampleMixer m(1, 8000, true);
    ProgressLog log;
    EXPECT_TRUE(m.LoadFrom(source, 0, ProgressLog::Record, std::intptr_t(&log)));
    EXPECT_EQ(log.calls, (Calls{{"Loading audio data:", 0}}));
  }
  {  // 2,000 frames in chunks of 800 (0.1 s at 8,000 Hz)
    VectorSource source(2, 8000, std::vector<float>(4000, 0.5f));
    CAP_SampleMixer m(2, 8000, true);
    ProgressLog log;
    EXPECT_TRUE(m.LoadFrom(source, 2000, ProgressLog::Record, std::intptr_t(&log)));
    EXPECT_EQ(log.calls, (Calls{{"Loading audio data:", 0},
                                {"Loading audio data:", 40},
                                {"Loading audio data:", 80},
                                {"Loading audio data:", 100},
                                {"Loading audio data:", 100}}));
    EXPECT_EQ(m.Track(2)->Length(), 2000);
  }
  {  // cancelled at the start: nothing loaded
    VectorSource source(1, 8000, std::vector<float>(2000, 0.5f));
    CAP_SampleMixer m(1, 8000, true);
    ProgressLog log;
    log.cancelAt = 0;
    EXPECT_FALSE(m.LoadFrom(source, 2000, ProgressLog::Record, std::intptr_t(&log)));
    EXPECT_EQ(m.Track(0)->Length(), 0);
  }
  {  // cancelled after the first chunk
    VectorSource source(1, 8000, std::vector<float>(2000, 0.5f));
    CAP_SampleMixer m(1, 8000, true);
    ProgressLog log;
    log.cancelAt = 1;
    EXPECT_FALSE(m.LoadFrom(source, 2000, ProgressLog::Record, std::intptr_t(&log)));
    EXPECT_EQ(m.Track(0)->Length(), 800);
    EXPECT_EQ(log.calls, (Calls{{"Loading audio data:", 0}, {"Loading audio data:", 40}, {"", 100}}));
  }
  {  // a decoder of another channel count is not read with the wrong stride
    VectorSource source(2, 8000, std::vector<float>(2000, 0.5f));
    CAP_SampleMixer m(1, 8000, true);
    EXPECT_FALSE(m.LoadFrom(source, 1000, nullptr, 0));
    EXPECT_EQ(m.Track(0)->Length(), 0);
  }
}

struct GrowthLog : MixerGrowthListener {
  void AudioAboutToGrow(int newLength) override { lengths.push_back(newLength); }
  std::vector<int> lengths;
};

TEST(Mixer, TheEditorHearsBeforeTheAudioGrows) {
  GrowthLog editor;
  EP_SampleMixer m(2, 8000, &editor, true);
  EXPECT_EQ(m.Editor(), &editor);
  const std::vector<float> frames(2 * 100, 0.25f);
  m.WriteFloat(frames.data(), 100, 0);
  m.WriteFloat(frames.data(), 50, 20);  // inside: no notice
  m.WriteFloat(frames.data(), 100, 60);
  EXPECT_EQ(editor.lengths, (std::vector<int>{100, 160}));
  EXPECT_EQ(m.Track(2)->Length(), 160);
  // Loading is no edit: no notices.
  GrowthLog loader;
  EP_SampleMixer loaded(2, 8000, &loader, true);
  VectorSource source(2, 8000, std::vector<float>(4000, 0.5f));
  ASSERT_TRUE(loaded.LoadFrom(source, 2000, nullptr, 0));
  EXPECT_EQ(loaded.Track(2)->Length(), 2000);
  EXPECT_TRUE(loader.lengths.empty());
  EP_SampleMixer alone(1, 8000, nullptr, true);
  EXPECT_EQ(alone.WriteFloat(frames.data(), 10, 0), 10);
}

// A sweep and a noise for the column checks.
std::vector<float> Sweep(int n, int rate) {
  std::vector<float> v(static_cast<std::size_t>(n));
  double phase = 0;
  for (int i = 0; i < n; ++i) {
    phase += 2 * M_PI * (50.0 + 9000.0 * i / n) / rate;
    v[std::size_t(i)] = float(0.7 * std::sin(phase));
  }
  return v;
}
std::vector<float> Noise(int n) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> d(-0.4f, 0.4f);
  std::vector<float> v(static_cast<std::size_t>(n));
  for (float& x : v) x = d(rng);
  return v;
}

// A computed mix makes only the samples a column's edges need: its columns equal min/max taken
// straight from the samples it produces, at every zoom.
TEST(Mixer, ComputedMixColumnsEqualBruteForce) {
  const int rate = 44100, frames = rate * 3;
  CAP_SampleMixer mixer(2, rate, true);
  ASSERT_TRUE(mixer.Track(2)->Computed());
  const auto left = Sweep(frames, rate);
  const auto right = Noise(frames);
  std::vector<float> interleaved(std::size_t(frames) * 2);
  for (int i = 0; i < frames; ++i) interleaved[2 * std::size_t(i)] = left[std::size_t(i)], interleaved[2 * std::size_t(i) + 1] = right[std::size_t(i)];
  mixer.WriteFloat(interleaved.data(), frames, 0);
  CAP_SampleTrack& mix = *mixer.Track(2);
  std::vector<float> v(std::size_t(mix.Length()));
  mix.ReadSamples(v.data(), mix.Length(), 0);
  std::mt19937 rng(9);
  std::vector<float> mins(300), maxs(300);
  std::vector<BlockColor> colors(300);
  for (int trial = 0; trial < 60; ++trial) {
    // A wide view is worked out in two halves on two threads, a narrow one in one pass.
    const int columns = trial % 2 ? 300 : 200;
    const double step = std::pow(2.0, std::uniform_real_distribution<double>(-14, -2)(rng));
    const double start = std::uniform_real_distribution<double>(0, 2.9)(rng);
    mix.GetColumns(start, step, columns, mins.data(), maxs.data(), colors.data());
    long long s = std::llround(rate * start);
    for (int k = 0; k < columns && s < (long long)v.size(); ++k) {
      const long long e = std::llround(rate * start + (k + 1) * step * rate);
      float lo = 1.0f, hi = -1.0f;
      for (long long i = s; i < e && i < (long long)v.size(); ++i) lo = std::min(lo, v[std::size_t(i)]), hi = std::max(hi, v[std::size_t(i)]);
      ASSERT_EQ(mins[k], lo) << trial << " column " << k;
      ASSERT_EQ(maxs[k], hi) << trial << " column " << k;
      s = e;
    }
  }
}

}  // namespace
