// The module and MIDI renderers against real players: the same files rendered by openmpt123
// and timidity must start their notes at the same moments and last as long (within 1 %).
// Waveforms are not compared: each player has its own instruments.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/formats/MidiWriter.h"
#include "tests/formats/ModuleWriter.h"
#include "tests/formats/SynthTestSupport.h"

namespace formats_test {
namespace {

bool Have(const char* tool) { return RunQuietly(std::string("command -v ") + tool); }

struct Timeline {
  double seconds = 0;
  std::vector<double> onsets;
};

// Onsets after 15 ms of quiet at a tenth of the loudest sample, of the mono mix (the players'
// interpolation lets a note ring on a little at a lower level).
Timeline TimelineOf(const Rendered& r) {
  Timeline t;
  std::vector<float> mono = r.left;
  for (std::size_t i = 0; i < r.right.size(); ++i) mono[i] += r.right[i];
  float peak = 0;
  for (float v : mono) peak = std::max(peak, std::fabs(v));
  for (std::int64_t at : Onsets(mono, r.rate * 15 / 1000, peak * 0.1f)) t.onsets.push_back(double(at) / r.rate);
  t.seconds = double(mono.size()) / r.rate;
  return t;
}

Timeline TimelineOfFile(const std::string& path) {
  const Rendered r = Render(ReadText(path));
  EXPECT_EQ(r.error, "") << path;
  return TimelineOf(r);
}

// Onsets are compared from the first one on, so that the instruments' attacks (the sine's takes
// 50 ms to rise) do not count.
void ExpectSameOnsets(const Timeline& ours, const Timeline& theirs) {
  ASSERT_EQ(ours.onsets.size(), theirs.onsets.size()) << testing::PrintToString(ours.onsets) << "\n"
                                                      << testing::PrintToString(theirs.onsets);
  for (std::size_t i = 1; i < ours.onsets.size(); ++i) {
    const double expected = theirs.onsets[i] - theirs.onsets[0];
    EXPECT_NEAR(ours.onsets[i] - ours.onsets[0], expected, 0.01 * expected) << "onset " << i;
  }
}

// Speed and tempo changes, a note delay, a pattern break and a jump out of a pattern. (A jump
// over a position is not compared: openmpt123 plays the skipped position after the end.)
ModuleWriter TimingModule() {
  ModuleWriter m;
  m.samples[1].data = SineCycles(8);  // a 30 ms burst, not looped
  m.order = {0, 1, 2};
  m.At(0, 0, 3) = {0, 0, 0xF, 5};
  m.At(0, 16, 3) = {0, 0, 0xF, 140};
  for (int row = 0; row <= 40; row += 4) m.At(0, row, 0) = {2, 428};
  m.At(0, 20, 1) = {2, 214, 0xE, 0xD2};
  m.At(0, 40, 2) = {0, 0, 0xD, 0x08};
  for (int row = 8; row < 64; row += 4) m.At(1, row, 1) = {2, 320};
  m.At(1, 32, 3) = {0, 0, 0xF, 3};
  m.At(1, 48, 2) = {0, 0, 0xB, 2};
  m.At(2, 0, 3) = {0, 0, 0xF, 12};
  for (int row = 0; row < 64; row += 8) m.At(2, row, 2) = {2, 254};
  return m;
}

TEST(ReferencePlayers, ModuleTimingMatchesOpenmpt123) {
  if (!Have("openmpt123")) GTEST_SKIP() << "openmpt123 is missing (scripts/setup.sh installs it)";
  TempDir dir;
  const std::string path = dir / "timing.mod";
  std::ofstream(path, std::ios::binary) << TimingModule().Bytes();
  ASSERT_TRUE(RunQuietly("openmpt123 --render --quiet --no-float --samplerate 22050 --channels 1 '" + path + "'"));
  const Timeline theirs = TimelineOfFile(path + ".wav");
  const Timeline ours = TimelineOfFile(path);
  ASSERT_GT(ours.onsets.size(), 20u);
  ExpectSameOnsets(ours, theirs);
  EXPECT_NEAR(ours.seconds, theirs.seconds, 0.01 * theirs.seconds);
}

struct MidiCase {
  const char* name;
  int division;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> tempos;  // (tick, microseconds a quarter)
  std::uint32_t spacing;                                        // ticks between notes
};

// Seconds from the start to a tick, by the case's tempo map (120 beats a minute before the first).
double SecondsAt(const MidiCase& c, std::uint32_t tick) {
  double seconds = 0, perTick = 0.5 / c.division;
  std::uint32_t at = 0;
  for (const auto& [change, microseconds] : c.tempos) {
    if (change >= tick) break;
    seconds += (change - at) * perTick;
    at = change;
    perTick = microseconds / 1e6 / c.division;
  }
  return seconds + (tick - at) * perTick;
}

// SMPTE divisions are not compared: timidity 2.14 times them its own way (the unit tests check
// ours).
TEST(ReferencePlayers, MidiTimingMatchesTimidity) {
  if (!Have("timidity")) GTEST_SKIP() << "timidity is missing (scripts/setup.sh installs it)";
  const char* config = "/etc/timidity/freepats.cfg";
  if (!std::ifstream(config)) GTEST_SKIP() << "timidity has no instruments: " << config << " is missing (freepats)";
  const MidiCase cases[] = {
      {"tempo changes", 480, {{0, 500000}, {3840, 400000}, {9600, 750000}}, 1920},
      {"120 beats a minute, 96 ticks a quarter", 96, {}, 288},
      {"960 ticks a quarter, twice as fast halfway", 960, {{0, 600000}, {9600, 300000}}, 2400},
  };
  for (const MidiCase& c : cases) {
    SCOPED_TRACE(c.name);
    // Track 0 holds the tempo map, track 1 eight short notes; the song ends with the last one.
    // The sine's envelope slows down with the pitch, so the notes lie above 440 Hz to die away
    // within a second.
    MidiWriter w(1, c.division);
    w.Track();
    std::uint32_t at = 0;
    for (const auto& [tick, microseconds] : c.tempos) {
      w.Tempo(tick - at, microseconds);
      at = tick;
    }
    w.End();
    w.Track().Event(0, {char(0xC0), 0});
    for (int i = 0; i < 8; ++i) w.NoteOn(i ? c.spacing - c.spacing / 8 : 0, 0, 69 + 2 * i, 100).NoteOff(c.spacing / 8, 0, 69 + 2 * i);
    w.End();
    TempDir dir;
    const std::string path = dir / "timing.mid";
    std::ofstream(path, std::ios::binary) << w.Bytes();
    ASSERT_TRUE(RunQuietly(std::string("timidity -c ") + config + " -Ow --output-mono -s 22050 -o '" + path + ".wav' '" +
                           path + "'"));
    const Timeline theirs = TimelineOfFile(path + ".wav");
    const Timeline ours = TimelineOfFile(path);
    ASSERT_EQ(ours.onsets.size(), 8u) << testing::PrintToString(ours.onsets);
    ExpectSameOnsets(ours, theirs);
    // timidity lets the last note ring out and pads its file after it, so the song's length is
    // checked against its tempo map instead.
    EXPECT_NEAR(ours.seconds, SecondsAt(c, 7 * c.spacing + c.spacing / 8), 0.01 * ours.seconds);
  }
}

}  // namespace
}  // namespace formats_test
