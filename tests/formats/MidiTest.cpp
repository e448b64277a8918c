// MIDI files built here, rendered and measured: pitch, tick-to-sample timing with its carry,
// tempo and SMPTE divisions, the volume scale, note release, and damaged files.
#include <gtest/gtest.h>

#include "formats/Midi.h"
#include "tests/formats/MidiWriter.h"
#include "tests/formats/SynthTestSupport.h"

namespace formats_test {
namespace {

constexpr int kRate = 11025;

std::vector<std::int64_t> Deltas(const std::string& bytes) {
  std::istringstream in(bytes);
  MidiRead reader(in, std::int64_t(bytes.size()));
  std::vector<std::int64_t> deltas;
  for (const MidiRead::Event& e : reader.Events()) deltas.push_back(e.delta);
  return deltas;
}

TEST(Midi, NotesSoundAtTheirPitchInMonoAt11025) {
  MidiWriter w(0, 96);
  w.Track().NoteOn(0, 0, 69, 100).NoteOff(192, 0, 69).NoteOn(0, 0, 81, 100).NoteOff(192, 0, 81).End(192);
  const Rendered r = Render(w.Bytes());
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.rate, kRate);
  EXPECT_EQ(r.channels, 1);
  EXPECT_EQ(r.floatBytes, 3 * kRate * 4);
  EXPECT_EQ(r.left.size(), std::size_t(3 * kRate));
  EXPECT_NEAR(Frequency(r.left, kRate / 10, kRate * 9 / 10, kRate), 440, 0.5);
  EXPECT_NEAR(Frequency(r.left, kRate * 11 / 10, kRate * 19 / 10, kRate), 880, 1);
}

TEST(Midi, TicksBecomeSamplesWithTheCarry) {
  struct TimingCase {
    const char* name;
    int division;
    std::uint32_t tempo;  // 0: none
    std::uint32_t delta;
    std::vector<std::int64_t> samples;  // of the four notes after the tempo event
  };
  const TimingCase cases[] = {
      {"96 ticks a quarter at 120 beats a minute", 96, 0, 96, {5512, 5513, 5512, 5513}},
      {"a tempo of 250,000 us halves them", 96, 250000, 96, {2756, 2756, 2756, 2757}},
      {"SMPTE 25 frames of 40 ticks", std::int16_t(0xE728), 0, 400, {4410, 4410, 4410, 4410}},
      {"SMPTE 29.97 frames of 2 ticks", std::int16_t(0xE302), 0, 6, {1103, 1104, 1103, 1104}},
      {"an unknown SMPTE code counts 30 frames", std::int16_t(0xEC02), 0, 6, {1102, 1103, 1102, 1103}},
  };
  for (const TimingCase& c : cases) {
    SCOPED_TRACE(c.name);
    MidiWriter w(0, c.division);
    w.Track();
    if (c.tempo) w.Tempo(0, c.tempo);
    else w.Event(0, std::string{char(0xFF), char(0x01), char(1), 'x'});
    for (int i = 0; i < 4; ++i) w.NoteOn(c.delta, 0, 60, 100);
    const std::vector<std::int64_t> deltas = Deltas(w.Bytes());
    ASSERT_EQ(deltas.size(), 5u);
    EXPECT_EQ(std::vector<std::int64_t>(deltas.begin() + 1, deltas.end()), c.samples);
  }
}

TEST(Midi, TracksMergeInTimeOrder) {
  MidiWriter w(1, 96);
  w.Track().NoteOn(10, 0, 60, 1).NoteOn(20, 0, 61, 1);
  w.Track().NoteOn(10, 1, 62, 1).NoteOn(5, 1, 63, 1);
  std::istringstream in(w.Bytes());
  MidiRead reader(in, 0);
  std::vector<int> keys;
  for (const MidiRead::Event& e : reader.Events()) keys.push_back(e.data[0]);
  EXPECT_EQ(keys, (std::vector<int>{60, 62, 63, 61})) << "equal times keep file order";

  MidiWriter independent(2, 96);
  independent.Track().NoteOn(0, 0, 60, 1);
  independent.Track().NoteOn(0, 0, 61, 1);
  std::istringstream in2(independent.Bytes());
  MidiRead second(in2, 0);
  EXPECT_EQ(second.Events().size(), 1u) << "of independent tracks only the first plays";
}

TEST(Midi, TheLoudestMomentSetsTheVolumeAndReleasesFadeOut) {
  MidiWriter w(0, 96);
  // Velocities 100 and 60 together, later 127 alone; note 69 is held 2 s and released at 2.5 s.
  w.Track().NoteOn(0, 0, 60, 100).NoteOn(0, 1, 64, 60).NoteOff(48, 0, 60).NoteOff(0, 1, 64);
  w.NoteOn(0, 2, 69, 127).NoteOff(384, 2, 69).End(384);
  std::istringstream in(w.Bytes());
  MidiRead reader(in, 0);
  reader.Events();
  EXPECT_FLOAT_EQ(reader.VolumeScale(), 1.0f / 160);

  const Rendered r = Render(w.Bytes());
  ASSERT_EQ(r.error, "");
  const std::int64_t on = kRate / 4, off = on + 2 * kRate;
  // Sustain: a quarter of the attack's peak, scaled by 0.78125 x 127 / 160.
  const double sustain = 0.25 * 0.78125 * 127 / 160;
  EXPECT_NEAR(Rms(r.left, off - kRate / 2, off) * std::sqrt(2.0), sustain, 0.01);
  const std::int64_t end = EndOfSound(r.left);
  // The rest of the sustain segment (up to 0.25 s; here almost none) and the 0.5 s fade.
  EXPECT_GT(end, off + kRate * 45 / 100) << "the release plays on after the note-off";
  EXPECT_LE(end, off + kRate * 3 / 4 + 10) << "and fades out within 0.75 s";
}

TEST(Midi, DamagedFilesPlayWhatTheyHoldOrAreRefused) {
  // A track that starts with a data byte: the byte is skipped, the notes after it play.
  MidiWriter running(0, 96);
  running.Track().Raw(std::string{0, 0x40}).NoteOn(0, 0, 69, 100).NoteOff(96, 0, 69).End();
  Rendered r = Render(running.Bytes());
  ASSERT_EQ(r.error, "");
  EXPECT_NEAR(Frequency(r.left, 500, 5000, kRate), 440, 1);

  // A meta event longer than its track ends the track; what came before plays.
  MidiWriter longMeta(0, 96);
  longMeta.Track().NoteOn(0, 0, 69, 100).NoteOff(96, 0, 69).Raw(std::string{0, char(0xFF), 0x01}) .Raw(Variable(1 << 26));
  r = Render(longMeta.Bytes());
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.left.size(), 5512u);

  // A track chunk that claims more bytes than the file holds reads what is there.
  std::string cut = running.Bytes();
  cut[18] = 0x7F;
  r = Render(cut);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.left.size(), 5512u);

  MidiWriter endless(0, 96);
  endless.Track().Raw(std::string(8, char(0x80)));
  EXPECT_EQ(Render(endless.Bytes()).error, "Unterminated variable");

  std::istringstream notMidi("MTrk" + std::string(20, '\0'));
  MidiRead reader(notMidi, 24);
  float sample;
  EXPECT_THROW(reader.PullSamples(&sample, 1), SoundError);
  EXPECT_EQ(reader.PullSamples(&sample, 1), 0) << "after a refusal nothing more comes";

  // Delta times of 2^28 ticks at the slowest tempo stop at the bound, not years later.
  MidiWriter slow(0, 1);
  slow.Track().Tempo(0, 0xFFFFFF).NoteOn(0, 0, 69, 100).NoteOff(0x0FFFFFFF, 0, 69).End();
  std::istringstream in(slow.Bytes());
  MidiRead bounded(in, 0);
  std::int64_t total = 0;
  for (const MidiRead::Event& e : bounded.Events()) total += e.delta;
  EXPECT_LE(total, std::int64_t(MidiRead::kMaxSeconds) * kRate);
}

TEST(Midi, AnMpcFileSilencesTheUpperChannels) {
  MidiWriter w(0, 96);
  w.Track().Event(0, std::string{char(0xFF), 0x7F, 3, 0, 0, 0x41}).NoteOn(0, 12, 69, 100).NoteOff(96, 12, 69).End();
  const Rendered r = Render(w.Bytes());
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(EndOfSound(r.left), 0);
  MidiWriter percussion(0, 96);
  percussion.Track().NoteOn(0, 9, 38, 100).NoteOff(96, 9, 38).End();
  EXPECT_GT(EndOfSound(Render(percussion.Bytes()).left), 5000) << "the percussion channel plays its sine too";
}

}  // namespace
}  // namespace formats_test
