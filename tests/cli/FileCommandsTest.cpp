// tintwave-cli info and decode on files made by sox: the floats equal sox's own decoding, the
// layout lines, annotations, and every failure ending in "error: " and the system's message.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/cli/CliTestSupport.h"

namespace {

using namespace cli_test;

// sox makes its floats from 32-bit integers rounded to 24-bit fixed point, so for 32-bit integer
// and float files the two decodings may differ by up to 2^-24; every other encoding is the same
// exact power-of-two scaling (or G.711 table) in both decoders.
constexpr double kSox24BitRounding = 1.0 / 16777216.0;
struct Encoding {
  const char* sox;
  int compression;
  double tolerance;
};
const Encoding kEncodings[] = {
    {"-e unsigned -b 8", 16, 0},          {"-e signed -b 16", 17, 0},
    {"-e signed -b 16 -t wavpcm", 17, 0}, {"-e signed -b 24", 18, 0},  // extensible / plain tag 1
    {"-e signed -b 24 -t wavpcm", 18, 0}, {"-e signed -b 32", 19, kSox24BitRounding},
    {"-e float -b 32", 20, kSox24BitRounding}, {"-e u-law", 2, 0},
    {"-e a-law", 3, 0},
};

TEST_F(SoxFixture, DecodeGivesSoxsOwnFloatsForEveryEncodingRateAndChannelCount) {
  int files = 0;
  for (const Encoding& e : kEncodings)
    for (int channels : {1, 2})
      for (int rate : {8000, 11025, 22050, 44100, 48000, 96000}) {
        SCOPED_TRACE(testing::Message() << e.sox << ", " << channels << " channels, " << rate << " Hz");
        const std::string wav = Make("in.wav", "-r " + std::to_string(rate) + " -c " + std::to_string(channels) + " " + e.sox,
                                     channels == 1 ? "synth 0.05 whitenoise" : "synth 0.05 whitenoise sine 1000");
        const std::vector<float> sox = SoxFloats(wav), ours = CliFloats(wav);
        ASSERT_EQ(ours.size(), sox.size());
        for (std::size_t i = 0; i < ours.size(); ++i) ASSERT_NEAR(ours[i], sox[i], e.tolerance) << "sample " << i;
        const CliRun info = RunCli("info " + wav);
        ASSERT_EQ(info.status, 0) << info.err;
        const std::vector<std::string> lines = Lines(info.out);
        ASSERT_GE(lines.size(), 5u) << info.out;
        const std::string compression = "(" + std::to_string(e.compression) + ")";
        EXPECT_EQ(lines[1].substr(lines[1].size() - compression.size()), compression) << lines[1];
        EXPECT_EQ(lines[2], "rate: " + std::to_string(rate) + " Hz");
        EXPECT_EQ(lines[3], "channels: " + std::to_string(channels));
        EXPECT_NE(lines[4].find("(" + std::to_string(sox.size() / channels) + " frames)"), std::string::npos) << lines[4];
        ++files;
      }
  EXPECT_EQ(files, 9 * 2 * 6);
}

TEST_F(SoxFixture, InfoShowsTheLayoutAndTheAnnotations) {
  const std::string wav = Make("tone.wav", "-r 22050 -c 2 -b 24", "synth 1.5 sine 440");
  CliRun run = RunCli("info " + wav);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "format: WAVE\nencoding: 24-bit PCM (18)\nrate: 22050 Hz\nchannels: 2\nduration: 0:01.500 (33075 frames)\n"
            "bits: 24\n");
  EXPECT_EQ(run.err, "");

  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string tagged = dir / "tagged.wav";
  ASSERT_TRUE(RunQuietly("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=0.3:sample_rate=44100 "
                         "-metadata title=Song -metadata artist=Band -c:a pcm_s16le " + tagged));
  run = RunCli("info " + tagged);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_GE(lines.size(), 8u) << run.out;
  EXPECT_EQ(lines[0], "format: WAVE");
  EXPECT_EQ(lines[4], "duration: 0:00.300 (13230 frames)");
  // The text items of the INFO list with their text; the JSON form carries the same.
  const std::vector<std::string> tags(lines.begin() + 6, lines.end());
  for (const char* item : {"name: Song", "artist: Band"})
    EXPECT_NE(std::find(tags.begin(), tags.end(), item), tags.end()) << run.out;
  const CliRun json = RunCli("info --json " + tagged);
  ASSERT_EQ(json.status, 0) << json.err;
  for (const char* key : {"\"format\":\"WAVE\"", "\"formatCode\":1,", "\"compression\":17,", "\"rate\":44100,",
                          "\"channels\":1,", "\"frames\":13230,", "\"seconds\":0.300000,", "{\"kind\":\"name\",\"text\":\"Song\"",
                          "{\"kind\":\"artist\",\"text\":\"Band\""})
    EXPECT_NE(json.out.find(key), std::string::npos) << key << " in " << json.out;
  EXPECT_EQ(json.out.front(), '{');
  EXPECT_EQ(json.out.substr(json.out.size() - 3), "]}\n");
}

TEST_F(SoxFixture, FailuresPrintTheSystemsMessageAndExitOne) {
  // Every message names the file it is about.
  const auto expectError = [](const std::string& command, const std::string& path, const std::string& message,
                              const std::string& more = "") {
    const CliRun run = RunCli(command + " " + path + more);
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_EQ(run.err, "error: " + path + ": " + message + "\n") << command;
    EXPECT_EQ(run.out, "") << command;
  };
  expectError("info", dir / "missing.wav", "Could not open file (No such file or directory)");
  std::ofstream(dir / "words.txt") << "not audio";
  expectError("decode", dir / "words.txt", "Could not decode audio", " " + dir / "out.f32");
  expectError("info", Make("slow.wav", "-r 7999 -b 16", "synth 0.1 sine 100"), "Sample rate out of bounds");
  expectError("info", Make("fast.wav", "-r 1000000 -b 16", "synth 0.01 sine 100"), "Sample rate out of bounds");
  // More than two channels open, as channels 1 and 2.
  EXPECT_EQ(RunCli("blocks " + Make("three.wav", "-r 8000 -c 3 -b 16", "synth 0.1 sine 100 sine 200 sine 300")).status, 0);
  // Usage mistakes exit 2 with the usage.
  for (const char* args : {"info", "decode x.wav", "info a.wav b.wav"}) {
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_NE(run.err.find("usage: tintwave-cli"), std::string::npos) << args;
  }
}

TEST_F(SoxFixture, DamagedFilesEndInTheDecodersErrorText) {
  const std::string good = ReadText(Make("good.wav", "-r 8000 -c 1 -b 16", "synth 0.2 sine 300"));
  ASSERT_GT(good.size(), 44u);
  const auto withLength = [&](std::size_t at, std::uint32_t value) {
    std::string bytes = good;
    bytes.replace(at, 4, Le32(value));
    return bytes;
  };
  const std::string damaged[] = {
      good.substr(0, 30),                   // truncated in the fmt chunk
      good.substr(0, 40),                   // truncated before the data chunk's length
      withLength(16, 1000),                 // fmt chunk longer than the file
      withLength(16, 13),                   // an odd, short fmt chunk
      withLength(24, 0),                    // zero rate
      withLength(24, 4000000000u),          // absurd rate
      good.substr(0, 22) + Le16(0) + good.substr(24),  // zero channels
  };
  int n = 0;
  for (const std::string& bytes : damaged) {
    const std::string path = dir / ("damaged" + std::to_string(n++) + ".wav");
    std::ofstream(path, std::ios::binary) << bytes;
    for (const char* command : {"info ", "blocks "}) {
      const CliRun run = RunCli(command + path);
      EXPECT_EQ(run.status, 1) << path;
      EXPECT_EQ(run.err.rfind("error: ", 0), 0u) << path;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
      EXPECT_EQ(run.out, "");
    }
  }
  // A data chunk cut short opens with the frames that are there.
  const std::string cut = dir / "cut.wav";
  std::ofstream(cut, std::ios::binary) << good.substr(0, good.size() - 1000);
  const CliRun run = RunCli("info " + cut);
  if (run.status == 0) {
    EXPECT_NE(run.out.find("(" + std::to_string((good.size() - 1000 - 44) / 2) + " frames)"), std::string::npos) << run.out;
  } else {
    EXPECT_EQ(run.err.rfind("error: ", 0), 0u);
  }
}

}  // namespace
