// Change Pitch and Change Tempo against Rubber Band's own command-line tool on the same samples,
// and their undo and redo bit-exact; Shift Pitch's range.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "editor/CommandCode.h"
#include "tests/editor/EditorTestSupport.h"

namespace {
using namespace editor_test;
namespace fs = std::filesystem;

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::vector<float> ReadFloats(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> values(bytes.size() / sizeof(float));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  return values;
}

std::vector<float> TrackSamples(CAP_SampleTrack* track) {
  std::vector<float> samples(std::size_t(track->Length()));
  track->ReadSamples(samples.data(), track->Length(), 0);
  return samples;
}

struct Case {
  const char* name;
  bool tempo;
  double value;
  int from, to;               // the selection in frames; from == to: none (the whole document)
  const char* rubberbandArgs;  // the same change for the tool
};

TEST(Stretch, PitchAndTempoMatchTheRubberBandToolAndUndoBitExact) {
  if (!Shell("rubberband --version") || !Shell("sox --version")) GTEST_SKIP() << "rubberband-cli or sox is missing";
  const fs::path dir = fs::temp_directory_path() / ("tintwave-stretch-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string input = (dir / "in.wav").string();
  // Float samples, so that both sides read exactly the same values; a tone on the left, a
  // plucked note on the right.
  ASSERT_TRUE(Shell("sox -V1 -D -n -r 44100 -c 2 -e floating-point -b 32 " + input +
                  " synth 1.5 sine 330 pluck 550 vol 0.4"));
  const Case cases[] = {
      {"pitch up 3.5 halftones, whole", false, 3.5, 0, 0, "-p 3.5"},
      {"pitch down 7, selection", false, -7, 11025, 44100, "-p -7"},
      {"tempo +100 %, selection", true, 100, 22050, 55125, "-T 2"},
      {"tempo -50 %, whole", true, -50, 0, 0, "-T 0.5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    ASSERT_TRUE(rig.Open(input));
    std::vector<std::vector<float>> before;
    for (int t = 0; t < 3; ++t) before.push_back(TrackSamples(rig.Mixer()->Track(t)));
    const int total = int(before[0].size());
    const int from = c.from, count = c.to > c.from ? c.to - c.from : total;
    if (c.to > c.from) rig.Editor()->Select(double(c.from) / 44100, double(c.to) / 44100);

    const std::string part = (dir / "part.wav").string(), out = (dir / "out.wav").string();
    const std::string raw = (dir / "out.f32").string();
    ASSERT_TRUE(Shell("sox -V1 -D " + input + " " + part + " trim " + std::to_string(from) + "s " +
                    std::to_string(count) + "s"));
    ASSERT_TRUE(Shell(std::string("rubberband -3 -q --no-threads ") + c.rubberbandArgs + " " + part + " " + out));
    ASSERT_TRUE(Shell("sox -V1 -D " + out + " -t f32 " + raw));
    const std::vector<float> expected = ReadFloats(raw);  // interleaved

    rig.prompts.answer = true;
    const bool changed = c.tempo ? rig.Editor()->ChangeTempo(c.value) : rig.Editor()->ChangePitch(c.value);
    ASSERT_TRUE(changed) << rig.Editor()->ErrorText();
    const int made = c.tempo ? int(std::llround(count * 100.0 / (100.0 + c.value))) : count;
    std::vector<std::vector<float>> after;
    for (int t = 0; t < 3; ++t) after.push_back(TrackSamples(rig.Mixer()->Track(t)));
    ASSERT_EQ(int(after[0].size()), total - count + made);
    // The tool's length may differ by a frame; both sides agree on every frame they share.
    const int shared = std::min<int>(made, int(expected.size() / 2));
    EXPECT_GE(shared, made - 2);
    double worst = 0;
    for (int i = 0; i < shared; ++i)
      for (int ch = 0; ch < 2; ++ch)
        worst = std::max(worst, double(std::fabs(after[std::size_t(ch)][std::size_t(from + i)] -
                                                 expected[std::size_t(i) * 2 + std::size_t(ch)])));
    EXPECT_LT(worst, 1e-6);
    for (int i = 0; i < from; ++i) ASSERT_EQ(after[0][std::size_t(i)], before[0][std::size_t(i)]);
    for (int i = from + count; i < total; ++i)
      ASSERT_EQ(after[1][std::size_t(i - count + made)], before[1][std::size_t(i)]);
    for (std::size_t i = 0; i < after[2].size(); ++i)
      ASSERT_EQ(after[2][i], 0.5f * after[0][i] + 0.5f * after[1][i]) << i;

    ASSERT_TRUE(rig.document->Undo());
    for (int t = 0; t < 3; ++t) EXPECT_EQ(TrackSamples(rig.Mixer()->Track(t)), before[std::size_t(t)]) << t;
    ASSERT_TRUE(rig.document->Redo());
    for (int t = 0; t < 3; ++t) EXPECT_EQ(TrackSamples(rig.Mixer()->Track(t)), after[std::size_t(t)]) << t;
  }
  fs::remove_all(dir);
}

TEST(Stretch, RangesAreRefusedWithTheirText) {
  Rig rig;
  rig.New(1, 44100, 4410, [](int i, int) { return float(std::sin(i * 0.05)) * 0.5f; });
  AudioEditorApp& editor = *rig.Editor();
  EXPECT_EQ(editor.PitchRangeText(), "-29 to +13 halftones at 44,100 Hz");
  EXPECT_FALSE(editor.ShiftPitch(25));
  EXPECT_EQ(editor.ErrorText(), "The pitch shift must be from -29 to +13 halftones at 44,100 Hz");
  EXPECT_TRUE(editor.ShiftPitch(13));
  EXPECT_FALSE(editor.ChangePitch(36.5));
  EXPECT_FALSE(editor.ChangeTempo(-95));
  EXPECT_FALSE(editor.ChangeTempo(std::nan("")));
  EXPECT_EQ(rig.Mixer()->Track(0)->Length(), 4410);
}

}  // namespace
