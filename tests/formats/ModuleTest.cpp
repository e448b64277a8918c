// Tracker modules built here, rendered, and measured: pitch, timing, each effect's audible
// result, the song's flow, loops and the refusals of damaged files.
#include <gtest/gtest.h>

#include <functional>

#include "formats/Module.h"
#include "tests/formats/ModuleWriter.h"
#include "tests/formats/SynthTestSupport.h"

namespace formats_test {
namespace {

constexpr int kRate = 22050;
constexpr int kRow = 2646;  // frames per row at speed 6, tempo 125
constexpr int kTick = 441;
// The test sine is 439.94 Hz at the recording rate, so periods sound a hair below 111760 / p.
constexpr double kSineRatio = 14078.236 / 32 / 440;

double PeriodHz(int period) { return 111760.0 / period * kSineRatio; }

// A module whose instrument 1 is a looping sine and instrument 2 a short unlooped burst.
ModuleWriter ToneModule() {
  ModuleWriter m;
  m.samples[0].data = SineCycles(100);
  m.samples[0].loopLength = int(m.samples[0].data.size());
  m.samples[1].data = SineCycles(8);
  return m;
}

double TickHz(const Rendered& r, int row, int tick) {
  const std::int64_t at = std::int64_t(row) * kRow + tick * kTick;
  return Frequency(r.left, at + 20, at + kTick - 20, r.rate);
}
double TickLevel(const Rendered& r, int row, int tick) {
  const std::int64_t at = std::int64_t(row) * kRow + tick * kTick;
  return Rms(r.left, at, at + kTick);
}

TEST(Module, OpensAsStereoAt22050WithThePeriodsPitch) {
  ModuleWriter m = ToneModule();
  m.At(0, 0, 0) = {1, 428};
  const Rendered r = Render(m.Bytes());
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.rate, kRate);
  EXPECT_EQ(r.channels, 2);
  EXPECT_EQ(r.floatBytes, std::int64_t(64) * kRow * 2 * 4);
  ASSERT_EQ(r.left.size(), std::size_t(64 * kRow));
  // Within the 10-bit step fraction (at most a quarter of a percent here).
  EXPECT_NEAR(Frequency(r.left, 0, 4 * kRow, kRate), 261.1 * kSineRatio, 0.8);
  EXPECT_EQ(EndOfSound(r.right), 0) << "channel 0 plays on the left";

  // Channel 1 plays on the right; mono mixes both sides into one.
  m.At(0, 0, 1) = {1, 214};
  const Rendered mono = Render(m.Bytes(), 1);
  EXPECT_EQ(mono.channels, 1);
  EXPECT_EQ(mono.floatBytes, std::int64_t(64) * kRow * 4);
  EXPECT_TRUE(mono.right.empty());
  const Rendered stereo = Render(m.Bytes());
  EXPECT_NEAR(Frequency(stereo.right, 0, kRow, kRate), PeriodHz(214), 1.5);
  EXPECT_NEAR(mono.left[1000], stereo.left[1000] + stereo.right[1000], 2 / 32768.0);
}

TEST(Module, SpeedAndTempoSetTheRowAndTickLengths) {
  ModuleWriter m = ToneModule();
  m.At(0, 0, 0) = {1, 428, 0xF, 3};     // speed 3
  m.At(0, 0, 1) = {0, 0, 0xF, 150};     // tempo 150
  m.At(0, 1, 0) = {0, 0, 0x0, 0xC0};    // arpeggio: one octave on the second tick
  const Rendered r = Render(m.Bytes());
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.left.size(), std::size_t(64 * 1102));
  EXPECT_EQ(r.floatBytes, std::int64_t(64) * 1102 * 2 * 4);
  const double base = PeriodHz(428);
  EXPECT_NEAR(Frequency(r.left, 1102 + 20, 1102 + 347, kRate), base, 1.5);
  EXPECT_NEAR(Frequency(r.left, 1102 + 367 + 20, 1102 + 734 - 20, kRate), 2 * base, 3);
}

// One row's effect on a note started at period 428 in row 0 (row 1 for the effects that need
// a playing note), measured tick by tick.
struct EffectCase {
  const char* name;
  std::function<void(ModuleWriter&)> write;
  std::function<void(const Rendered&)> check;
};

TEST(Module, EachEffectIsHeard) {
  const double base = PeriodHz(428);
  const EffectCase cases[] = {
      {"arpeggio 0x47", [](ModuleWriter& m) { m.At(0, 0, 0) = {1, 428, 0x0, 0x47}; },
       [&](const Rendered& r) {
         EXPECT_NEAR(TickHz(r, 0, 0), base, 2);
         EXPECT_NEAR(TickHz(r, 0, 1), base * std::pow(2, 4 / 12.0), 2.5);
         EXPECT_NEAR(TickHz(r, 0, 2), base * std::pow(2, 7 / 12.0), 3);
         EXPECT_NEAR(TickHz(r, 0, 3), base, 2);
         EXPECT_NEAR(TickHz(r, 1, 0), base, 2) << "the base pitch comes back after the row";
       }},
      {"slide up 0x10", [](ModuleWriter& m) { m.At(0, 0, 0) = {1, 428, 0x1, 0x10}; },
       [](const Rendered& r) {
         EXPECT_NEAR(TickHz(r, 0, 1), PeriodHz(412), 2);
         EXPECT_NEAR(TickHz(r, 0, 5), PeriodHz(348), 2.5);
         EXPECT_NEAR(TickHz(r, 1, 2), PeriodHz(348), 2.5) << "the slid period stays";
       }},
      {"slide down 0x10, then again from memory",
       [](ModuleWriter& m) {
         m.At(0, 0, 0) = {1, 428, 0x2, 0x10};
         m.At(0, 1, 0) = {0, 0, 0x2, 0};
       },
       [](const Rendered& r) {
         EXPECT_NEAR(TickHz(r, 0, 5), PeriodHz(508), 2);
         EXPECT_NEAR(TickHz(r, 1, 5), PeriodHz(588), 2);
       }},
      {"tone portamento reaches its target and stops there",
       [](ModuleWriter& m) {
         m.At(0, 0, 0) = {1, 428};
         m.At(0, 1, 0) = {0, 214, 0x3, 0x20};
         m.At(0, 2, 0) = {0, 0, 0x3, 0};
       },
       [](const Rendered& r) {
         EXPECT_NEAR(TickHz(r, 1, 0), PeriodHz(428), 2) << "the note goes on; no new note starts";
         EXPECT_NEAR(TickHz(r, 1, 5), PeriodHz(268), 2.5);
         EXPECT_NEAR(TickHz(r, 2, 5), PeriodHz(214), 3);
         EXPECT_NEAR(TickHz(r, 3, 3), PeriodHz(214), 3);
       }},
      {"vibrato 0x4F swings the period by 30", [](ModuleWriter& m) { m.At(0, 0, 0) = {1, 428, 0x4, 0x4F}; },
       [](const Rendered& r) {
         EXPECT_NEAR(TickHz(r, 0, 0), PeriodHz(428), 2);
         EXPECT_NEAR(TickHz(r, 0, 4), PeriodHz(458), 2) << "the sine's peak, 16 steps in";
         EXPECT_NEAR(TickHz(r, 1, 1), PeriodHz(428), 2) << "no vibrato after the row";
       }},
      {"volume slide down 4 a tick", [](ModuleWriter& m) { m.At(0, 0, 0) = {1, 428, 0xA, 0x04}; },
       [](const Rendered& r) {
         EXPECT_NEAR(TickLevel(r, 0, 5) / TickLevel(r, 0, 0), 44.0 / 64, 0.02);
         EXPECT_NEAR(TickLevel(r, 1, 0) / TickLevel(r, 0, 0), 44.0 / 64, 0.02) << "the volume stays";
       }},
      {"set volume 32, then slide up 2 a tick",
       [](ModuleWriter& m) {
         m.At(0, 0, 0) = {1, 428};
         m.At(0, 1, 0) = {0, 0, 0xC, 32};
         m.At(0, 2, 0) = {0, 0, 0xA, 0x20};
       },
       [](const Rendered& r) {
         EXPECT_NEAR(TickLevel(r, 1, 2) / TickLevel(r, 0, 2), 0.5, 0.02);
         EXPECT_NEAR(TickLevel(r, 2, 5) / TickLevel(r, 0, 2), 42.0 / 64, 0.02);
       }},
      {"sample offset skips 256 samples a step",
       [](ModuleWriter& m) {
         m.samples[2].data.assign(512, 0);
         const auto tone = SineCycles(16);
         m.samples[2].data.insert(m.samples[2].data.end(), tone.begin(), tone.end());
         m.At(0, 0, 0) = {3, 428};
         m.At(0, 1, 0) = {3, 428, 0x9, 2};
       },
       [](const Rendered& r) {
         const double step = PeriodHz(428) * 32 / kRate;  // source samples per frame
         EXPECT_NEAR(double(FirstSound(r.left)), 512 / step, 8);
         EXPECT_LT(FirstSound(r.left, kRow) - kRow, 3);
       }},
      {"retrigger every 3 ticks", [](ModuleWriter& m) { m.At(0, 0, 0) = {2, 428, 0xE, 0x93}; },
       [](const Rendered& r) {
         const std::vector<std::int64_t> onsets = Onsets(r.left, 200);
         ASSERT_EQ(onsets.size(), 2u);
         EXPECT_NEAR(double(onsets[0]), 0, 2);
         EXPECT_NEAR(double(onsets[1]), 3 * kTick, 2);
       }},
      {"note cut at tick 2", [](ModuleWriter& m) { m.At(0, 0, 0) = {1, 428, 0xE, 0xC2}; },
       [](const Rendered& r) { EXPECT_NEAR(double(EndOfSound(r.left)), 2 * kTick, 2); }},
      {"note delay by 3 ticks", [](ModuleWriter& m) { m.At(0, 0, 0) = {1, 428, 0xE, 0xD3}; },
       [](const Rendered& r) { EXPECT_NEAR(double(FirstSound(r.left)), 3 * kTick, 2); }},
      {"fine slide up by 8 once", [](ModuleWriter& m) { m.At(0, 0, 0) = {1, 428, 0xE, 0x18}; },
       [](const Rendered& r) { EXPECT_NEAR(TickHz(r, 0, 0), PeriodHz(420), 2); }},
      {"fine volume down by 32 once", [](ModuleWriter& m) {
         m.At(0, 0, 0) = {1, 428};
         m.At(0, 1, 0) = {0, 0, 0xE, 0xB0 | 15};
       },
       [](const Rendered& r) { EXPECT_NEAR(TickLevel(r, 1, 0) / TickLevel(r, 0, 0), 49.0 / 64, 0.02); }},
  };
  for (const EffectCase& c : cases) {
    SCOPED_TRACE(c.name);
    ModuleWriter m = ToneModule();
    c.write(m);
    const Rendered r = Render(m.Bytes());
    ASSERT_EQ(r.error, "");
    c.check(r);
  }
}

// The song's flow: how many rows play, and that the duration estimate agrees.
TEST(Module, FlowEffectsNeverGoBackAndTheEstimateFollowsThem) {
  struct FlowCase {
    const char* name;
    std::vector<int> order;
    std::function<void(ModuleWriter&)> write;
    int rows;
  };
  const FlowCase cases[] = {
      {"plain", {0, 1}, [](ModuleWriter&) {}, 128},
      {"a jump back goes on to the next position", {0, 1, 0},
       [](ModuleWriter& m) { m.At(1, 10, 2) = {0, 0, 0xB, 0}; }, 64 + 11 + 64},
      {"a jump forward skips", {0, 1, 1, 1}, [](ModuleWriter& m) { m.At(0, 3, 0) = {0, 0, 0xB, 3}; }, 4 + 64},
      {"a pattern break starts the next pattern at its row", {0, 1},
       [](ModuleWriter& m) { m.At(0, 5, 1) = {0, 0, 0xD, 0x10}; }, 6 + 54},
      {"a break beyond the pattern starts at its first row", {0, 1},
       [](ModuleWriter& m) { m.At(0, 5, 1) = {0, 0, 0xD, 0x99}; }, 6 + 64},
      {"pattern delay EE2 plays its row three times", {0},
       [](ModuleWriter& m) { m.At(0, 0, 0) = {2, 428, 0xE, 0xE2}; }, 66},
      {"speed 0 ends the song", {0, 1}, [](ModuleWriter& m) { m.At(0, 7, 3) = {0, 0, 0xF, 0}; }, 7},
  };
  for (const FlowCase& c : cases) {
    SCOPED_TRACE(c.name);
    ModuleWriter m = ToneModule();
    m.order = c.order;
    c.write(m);
    const Rendered r = Render(m.Bytes());
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.left.size(), std::size_t(c.rows) * kRow);
    EXPECT_EQ(r.floatBytes, std::int64_t(c.rows) * kRow * 2 * 4);
  }
  ModuleWriter m = ToneModule();
  m.At(0, 0, 0) = {2, 428, 0xE, 0xE2};
  EXPECT_EQ(Onsets(Render(m.Bytes()).left, 500).size(), 3u) << "each play of the delayed row starts the note";
}

TEST(Module, LoopsFollowTheRule) {
  struct LoopCase {
    const char* name;
    int loopStart, loopLength;
    bool loops;
  };
  const LoopCase cases[] = {
      {"whole sample", 0, 256, true},
      {"second half", 128, 128, true},
      {"two bytes at the start mean no loop", 0, 2, false},
      {"empty", 64, 0, false},
      {"beyond the data is cut to it", 128, 4000, true},
      {"starting beyond the data", 1000, 64, false},
  };
  for (const LoopCase& c : cases) {
    SCOPED_TRACE(c.name);
    ModuleWriter m;
    m.samples[0].data = SineCycles(8);
    m.samples[0].loopStart = c.loopStart;
    m.samples[0].loopLength = c.loopLength;
    m.At(0, 0, 0) = {1, 428};
    const Rendered r = Render(m.Bytes());
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(EndOfSound(r.left) > 60 * kRow, c.loops);
  }
  // A loop over silence is dropped: the note ends with its data.
  ModuleWriter m;
  m.samples[0].data = SineCycles(8);
  m.samples[0].data.resize(512, 0);
  m.samples[0].loopStart = 256;
  m.samples[0].loopLength = 256;
  m.At(0, 0, 0) = {1, 428};
  EXPECT_LT(EndOfSound(Render(m.Bytes()).left), kRow);
}

TEST(Module, DamagedFilesAreRefusedOrPlayedSafely) {
  ModuleWriter m = ToneModule();
  m.At(0, 0, 0) = {1, 428};
  const std::string good = m.Bytes();
  EXPECT_EQ(Render(good).error, "");

  EXPECT_NE(Render(good.substr(0, good.size() - 10)).error.find("sample data runs past the end of the file"),
            std::string::npos);
  std::string manyPatterns = good;
  manyPatterns[952 + 1] = 100;  // the order table names pattern 100
  EXPECT_NE(Render(manyPatterns).error.find("more patterns than the file holds"), std::string::npos);
  EXPECT_NE(Render(good.substr(0, 1084 + 500)).error, "");

  std::istringstream badTag(good.substr(0, 1080) + "XYZW" + good.substr(1084));
  EXPECT_THROW(ModRead(badTag, 0), SoundError);

  // Instrument numbers above 31 end the row's channels; the song plays on.
  ModuleWriter odd = ToneModule();
  odd.At(0, 0, 0) = {40, 428};
  odd.At(0, 1, 0) = {1, 428};
  const Rendered r = Render(odd.Bytes());
  ASSERT_EQ(r.error, "");
  EXPECT_NEAR(double(FirstSound(r.left)), kRow, 2);

  // Six- and eight-channel modules open too.
  for (const char* tag : {"6CHN", "8CHN", "FLT8"}) {
    ModuleWriter wide(tag);
    wide.samples[0] = ToneModule().samples[0];
    wide.At(0, 0, wide.Channels() - 1) = {1, 428};
    const Rendered w = Render(wide.Bytes());
    ASSERT_EQ(w.error, "") << tag;
    EXPECT_GT(Rms(wide.Channels() == 8 ? w.left : w.right, 0, kRow), 0.01) << tag;
  }
}

}  // namespace
}  // namespace formats_test

namespace formats_test {
namespace {

// The hoisted loop against the plain one, over pitches, loops, sample offsets, releases and
// pull sizes that end runs at every kind of boundary.
TEST(SampledNote, FastPathEqualsThePlainLoop) {
  std::vector<std::int16_t> data(3000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::int16_t((i * 7919) % 65536 - 32768);
  const struct {
    int loopStart, loopEnd;
  } loops[] = {{0, 3000}, {1000, 1003}, {2999, 3000}, {0, 0}, {500, 2500}};
  for (const auto& loop : loops)
    for (float pitch : {13.7f, 440.0f, 1234.5f, 7040.0f, 90000.0f})
      for (int pull : {1, 7, 512}) {
        SampledInstrument instrument(data, loop.loopStart, loop.loopEnd, 440, 8000);
        instrument.SetOutputRate(11025);
        SampledNote fast(instrument), plain(instrument);
        for (SampledNote* note : {&fast, &plain}) {
          note->SetPitch(pitch);
          note->SetVolume(0.7f);
          note->Restart();
          note->SetPosition(1234);
        }
        std::vector<std::int16_t> a(20000, 5), b(20000, 5);
        int at = 0;
        while (at + pull <= int(a.size())) {
          if (at >= 10000 && at < 10000 + pull) {
            fast.Release();
            plain.Release();
          }
          const int gotFast = fast.AddSamples(a.data() + at, pull), gotPlain = plain.AddSamplesPlain(b.data() + at, pull);
          ASSERT_EQ(gotFast, gotPlain) << pitch << " " << loop.loopStart;
          at += pull;
        }
        ASSERT_EQ(a, b) << "pitch " << pitch << ", loop " << loop.loopStart << ".." << loop.loopEnd << ", pull " << pull;
      }
}

}  // namespace
}  // namespace formats_test
