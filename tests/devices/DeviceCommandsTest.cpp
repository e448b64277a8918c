// tintwave-cli play, record and levels against an ALSA configuration whose "default" is a file
// plugin (or missing). Inputs are made by sox during the test and outputs checked with sox.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Result {
  int exitCode = -1;
  std::string out;  // stdout and stderr together
};

class DeviceCommands : public testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/tintwave-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::ofstream(dir_ / "file.conf") << "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \""
                                      << (dir_ / "played.raw").string() << "\"\n  infile \""
                                      << (dir_ / "to-capture.raw").string()
                                      << "\"\n  format \"raw\"\n  perm 0644\n}\n";
    std::ofstream(dir_ / "none.conf") << "# no default PCM\n";
  }
  void TearDown() override { fs::remove_all(dir_); }

  static bool Have(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
  }
  Result Run(const std::string& args, const char* config = "file.conf") {
    const std::string command = "ALSA_CONFIG_PATH='" + (dir_ / config).string() + "' '" TINTWAVE_CLI "' " + args +
                                " 2>&1 </dev/null";
    Result r;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
    const int status = pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }
  void Sox(const std::string& args) { ASSERT_EQ(std::system(("sox " + args + " 2>/dev/null").c_str()), 0) << args; }
  std::vector<float> ReadFloats(const fs::path& path) const {
    std::ifstream in(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<float> v(bytes.size() / 4);
    std::memcpy(v.data(), bytes.data(), v.size() * 4);
    return v;
  }
  std::string P(const char* name) const { return "'" + Path(name) + "'"; }
  std::string Path(const char* name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The number after "<channel> <name>" in a levels line ("L peak", "R hold", "L dc").
double Field(const std::string& line, const std::string& key) {
  const std::string channel = key.substr(0, key.find(' ')), name = key.substr(key.find(' ') + 1);
  std::size_t at = line.find("  " + channel + " ");
  if (at == std::string::npos) return NAN;
  at = line.find(name + " ", at);
  return at == std::string::npos ? NAN : std::strtod(line.c_str() + at + name.size() + 1, nullptr);
}

TEST_F(DeviceCommands, LevelsPrintsOneLinePerSecond) {
  if (!Have("sox")) GTEST_SKIP() << "sox is not installed";
  // 2 s of a half-scale sine, then 1 s of a tenth-scale one, 22050 Hz stereo float.
  Sox("-n -r 22050 -c 2 -b 32 -e floating-point -t raw " + P("to-capture.raw") +
      " synth 2 sine 441 vol 0.5 : synth 2 sine 441 vol 0.1");
  const Result r = Run("levels --seconds 3 --rate 22050 --channels 2");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(lines[0].rfind("0:01  L peak", 0), 0u) << lines[0];
  EXPECT_EQ(lines[2].rfind("0:03  L peak", 0), 0u) << lines[2];
  EXPECT_NEAR(Field(lines[0], "L peak"), -6.0, 0.3) << lines[0];
  EXPECT_NEAR(Field(lines[0], "R hold"), -6.0, 0.3) << lines[0];
  EXPECT_NEAR(Field(lines[2], "L peak"), -20.0, 0.3) << lines[2];
  EXPECT_NEAR(Field(lines[2], "R hold"), -20.0, 0.3) << lines[2];  // the loud buffers left the hold
  EXPECT_NEAR(Field(lines[2], "L dc"), 0.0, 0.01) << lines[2];
}

TEST_F(DeviceCommands, LevelsWithoutADeviceIsAClearError) {
  const Result r = Run("levels --seconds 1", "none.conf");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "error: Cannot open the sound input \"default\": No such file or directory\n");
  EXPECT_EQ(Run("levels --rate 5", "none.conf").exitCode, 2);  // misuse
}

TEST_F(DeviceCommands, PlaySendsTheFilesSamplesAsSoxDecodesThem) {
  if (!Have("sox")) GTEST_SKIP() << "sox is not installed";
  Sox("-n -r 44100 -c 2 -b 16 " + P("tone.wav") + " synth 2 sine 440 sine 660 vol 0.6");
  Sox(P("tone.wav") + " -t raw -e floating-point -b 32 " + P("expected.raw") + " trim 0.5 1");
  const Result r = Run("play " + P("tone.wav") + " --from 0.5 --to 1.5");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("0:01.500 / 0:01.500"), std::string::npos) << r.out;
  const std::vector<float> played = ReadFloats(dir_ / "played.raw"), expected = ReadFloats(dir_ / "expected.raw");
  ASSERT_EQ(played.size(), 44100u * 2);
  ASSERT_EQ(played.size(), expected.size());
  for (std::size_t i = 0; i < played.size(); ++i) ASSERT_NEAR(played[i], expected[i], 1e-7) << i;
}

TEST_F(DeviceCommands, PlayFailuresAreClearErrors) {
  if (!Have("sox")) GTEST_SKIP() << "sox is not installed";
  Sox("-n -r 8000 -c 1 -b 16 " + P("short.wav") + " synth 0.5 sine 440");
  Result r = Run("play " + P("short.wav"), "none.conf");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "error: Cannot open the sound output \"default\": No such file or directory\n");
  r = Run("play " + P("missing.wav"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "error: " + Path("missing.wav") + ": Could not open file (No such file or directory)\n");
  r = Run("play " + P("short.wav") + " --from 3");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out.rfind("error: nothing to play", 0), 0u) << r.out;
  EXPECT_EQ(Run("play " + P("short.wav") + " --to -1").exitCode, 2);
}

TEST_F(DeviceCommands, RecordSavesTheCaptureLessItsMeasuredOffset) {
  if (!Have("sox")) GTEST_SKIP() << "sox is not installed";
  // Stereo float capture: a sine with a DC shift of 0.1 on both channels, 16000 Hz.
  Sox("-n -r 16000 -c 2 -b 32 -e floating-point -t raw " + P("to-capture.raw") +
      " synth 4 sine 500 sine 700 vol 0.5 dcshift 0.1");
  const Result r = Run("record " + P("take.wav") + " --seconds 1.5 --rate 16000 --channels 2 --correct-dc");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("DC offset: +0.1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("saved "), std::string::npos) << r.out;
  Sox(P("take.wav") + " -t raw -e floating-point -b 32 " + P("take.raw"));
  const std::vector<float> heard = ReadFloats(dir_ / "to-capture.raw"), saved = ReadFloats(dir_ / "take.raw");
  ASSERT_EQ(saved.size(), 24000u * 2);
  // The offset is the mean of the first second, which is about 0.1 on both channels.
  double maxError = 0;
  for (std::size_t i = 0; i < saved.size(); ++i) maxError = std::max(maxError, std::fabs(saved[i] - (heard[i] - 0.1)));
  EXPECT_LT(maxError, 0.002);
}

TEST_F(DeviceCommands, RecordFailuresLeaveTheOldFile) {
  std::ofstream(dir_ / "old.wav") << "keep me";
  Result r = Run("record " + P("old.wav") + " --seconds 1", "none.conf");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "error: Cannot open the sound input \"default\": No such file or directory\n");
  r = Run("record " + P("old.wav") + " --seconds 1 --correct-dc", "none.conf");
  EXPECT_EQ(r.exitCode, 1);
  std::ifstream in(dir_ / "old.wav");
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "keep me");
  EXPECT_EQ(Run("record " + P("x.wav") + " --rate 44100.5").exitCode, 2);
  EXPECT_EQ(Run("record " + P("x.txt") + " --seconds 1").exitCode, 2);
  EXPECT_EQ(Run("record " + P("x.wav") + " --channels 3").exitCode, 2);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);  // no leftovers
}

TEST_F(DeviceCommands, RecordSavesAiffAndAuByTheirNames) {
  if (!Have("sox")) GTEST_SKIP() << "sox is not installed";
  Sox("-n -r 8000 -c 1 -b 32 -e floating-point -t raw " + P("to-capture.raw") + " synth 2 sine 330 vol 0.4");
  for (const char* name : {"take.aiff", "take.au"}) {
    const Result r = Run(std::string("record ") + P(name) + " --seconds 0.5 --rate 8000 --channels 1");
    ASSERT_EQ(r.exitCode, 0) << name << ": " << r.out;
    Sox(P(name) + " -t raw -e floating-point -b 32 " + P("take.raw"));
    const std::vector<float> heard = ReadFloats(dir_ / "to-capture.raw"), saved = ReadFloats(dir_ / "take.raw");
    ASSERT_EQ(saved.size(), 4000u) << name;
    for (std::size_t i = 0; i < saved.size(); ++i) ASSERT_NEAR(saved[i], heard[i], 1.0 / 32768) << name << " " << i;
  }
}

}  // namespace
