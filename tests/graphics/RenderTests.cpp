// tintwave-cli render on real files made by sox and espeak-ng: size, colours and the grey mode.
#include <gtest/gtest.h>

#include <algorithm>

#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Render : ::testing::Test {
  static inline fs::path dir;
  static void SetUpTestSuite() {
    dir = fs::temp_directory_path() / ("tintwave-render-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string d = dir.string();
    // Two seconds of a rising tone, then two of noise: the colour must change at 2 s.
    ASSERT_EQ(std::system(("sox -n -r 44100 -b 16 " + d + "/tone.wav synth 2 sine 300-3000 vol 0.7 && "
                           "sox -n -r 44100 -b 16 " + d + "/noise.wav synth 2 whitenoise vol 0.5 && "
                           "sox " + d + "/tone.wav " + d + "/noise.wav " + d + "/both.wav && "
                           "sox -n -r 22050 -c 2 -b 16 " + d + "/stereo.wav synth 1 sine 440 sine 880")
                              .c_str()),
              0);
  }
  static void TearDownTestSuite() { fs::remove_all(dir); }

  static int Run(const std::string& args) {
    const std::string command = std::string(TINTWAVE_CLI) + " render " + args + " >" + (dir / "out.txt").string() +
                                " 2>" + (dir / "err.txt").string();
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static std::string ErrorText() {
    std::FILE* f = std::fopen((dir / "err.txt").c_str(), "r");
    std::string text;
    for (int c; f && (c = std::fgetc(f)) != EOF;) text += char(c);
    if (f) std::fclose(f);
    return text;
  }
  static std::string P(const char* name) { return (dir / name).string(); }

  // The colour most of column x shows inside the waveform strip (ignoring white and black).
  static QRgb ColumnColour(const QImage& image, int x) {
    for (int y = image.height() / 2 - 20; y < image.height() / 2 + 20; ++y) {
      const QRgb p = image.pixel(x, y) & 0xFFFFFF;
      if (p != 0xFFFFFF && p != 0) return p;
    }
    return 0;
  }
};

TEST_F(Render, ThePictureHasItsSizeAndTheColourChangesWithTheSound) {
  ASSERT_EQ(Run(P("both.wav") + " " + P("both.png")), 0) << ErrorText();
  const QImage image(QString::fromStdString(P("both.png")));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.width(), 1200);
  EXPECT_EQ(image.height(), 300);
  // The tone's colours move as it rises; the noise sits apart from all of them.
  const QRgb low = ColumnColour(image, 100), high = ColumnColour(image, 500), noise = ColumnColour(image, 900);
  EXPECT_NE(low, high);
  EXPECT_NE(noise, low);
  EXPECT_NE(noise, high);
  // Many different colours over the tone; over the noise they stay close to one another.
  std::set<QRgb> toneColours, noiseColours;
  for (int x = 10; x < 590; ++x) toneColours.insert(ColumnColour(image, x));
  for (int x = 610; x < 1190; ++x) noiseColours.insert(ColumnColour(image, x));
  EXPECT_GT(toneColours.size(), 10u);
  auto spread = [](const std::set<QRgb>& colours) {
    int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    for (QRgb c : colours) {
      const int v[3] = {qRed(c), qGreen(c), qBlue(c)};
      for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], v[k]), hi[k] = std::max(hi[k], v[k]);
    }
    return (hi[0] - lo[0]) + (hi[1] - lo[1]) + (hi[2] - lo[2]);
  };
  EXPECT_GT(spread(toneColours), 2 * spread(noiseColours));
  // The time axis runs under the waveform in the face colour.
  EXPECT_EQ(image.pixel(600, 295) & 0xFFFFFF, 0xF0F0F0u);
}

TEST_F(Render, GreyGivesOnlyGreyColumns) {
  ASSERT_EQ(Run(P("both.wav") + " " + P("grey.png") + " --grey --width 600 --height 200 --start 1 --seconds 2"), 0)
      << ErrorText();
  const QImage image(QString::fromStdString(P("grey.png")));
  ASSERT_EQ(image.width(), 600);
  ASSERT_EQ(image.height(), 200);
  int grey = 0, other = 0;
  for (int y = 0; y < 200 - 22; ++y)
    for (int x = 0; x < 600; ++x) {
      const QRgb p = image.pixel(x, y) & 0xFFFFFF;
      if (p == 0x808080) ++grey;
      else if (p != 0xFFFFFF && p != 0) ++other;
    }
  EXPECT_GT(grey, 20000);
  EXPECT_EQ(other, 0);
}

TEST_F(Render, TheSelectionIsABlackBandAndStereoShowsItsMix) {
  ASSERT_EQ(Run(P("stereo.wav") + " " + P("sel.png") + " --width 400 --height 120 --select 0.25 0.5"), 0)
      << ErrorText();
  const QImage image(QString::fromStdString(P("sel.png")));
  ASSERT_EQ(image.width(), 400);
  EXPECT_EQ(image.pixel(150, 0) & 0xFFFFFF, 0u);         // band at the top edge, 0.375 s
  EXPECT_EQ(image.pixel(50, 0) & 0xFFFFFF, 0xFFFFFFu);   // outside the selection
  EXPECT_NE(ColumnColour(image, 50), 0u);                // the mix is drawn
}

TEST_F(Render, BadInputGetsAClearMessage) {
  EXPECT_EQ(Run(P("missing.wav") + " " + P("x.png")), 1);
  EXPECT_NE(ErrorText().find("Could not open file"), std::string::npos);
  EXPECT_EQ(Run(P("err.txt") + " " + P("x.png")), 1);
  EXPECT_NE(ErrorText().find("not an audio file"), std::string::npos);
  EXPECT_EQ(Run(P("both.wav") + " " + P("x.png") + " --width 100000"), 2);
  EXPECT_NE(ErrorText().find("pixels wide"), std::string::npos);
  EXPECT_EQ(Run(P("both.wav") + " " + P("x.png") + " --start 99"), 2);
  EXPECT_EQ(Run(P("both.wav") + " " + P("x.png") + " --seconds -1"), 2);
  EXPECT_EQ(Run(P("both.wav") + " " + P("x.png") + " --select 1"), 2);
  EXPECT_EQ(Run(P("both.wav") + " " + P("x.png") + " --frobnicate"), 2);
  EXPECT_EQ(Run(P("both.wav") + " " + (dir / "no" / "such" / "dir.png").string()), 1);
  EXPECT_NE(ErrorText().find("cannot write"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "x.png"));
}

}  // namespace

