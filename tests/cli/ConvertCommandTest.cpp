// tintwave-cli convert: every encoding, rate and channel count written and checked with soxi and
// sox, the values within one step of the encoding, annotations kept, DC correction, and a failed
// save that leaves the old file as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "tests/cli/CliTestSupport.h"

namespace {

using namespace cli_test;

struct Written {
  int code;
  const char* soxiEncoding;
  int bits;
  double step;  // the largest quantisation step of the encoding in the range used
};
const Written kWritten[] = {
    {16, "Unsigned Integer PCM", 8, 1.0 / 128},      {17, "Signed Integer PCM", 16, 1.0 / 32768},
    {18, "Signed Integer PCM", 24, 1.0 / 8388608},   {19, "Signed Integer PCM", 32, 1.0 / 16777216},
    {20, "Floating Point PCM", 32, 1.0 / 16777216},  {2, "u-law", 8, 1.0 / 32},
    {3, "A-law", 8, 1.0 / 32},
};

TEST_F(SoxFixture, ConvertWritesEveryEncodingRateAndChannelCount) {
  const int sourceRate = 44100;
  const std::string source = Make("source.wav", "-r 44100 -c 2 -b 24", "synth 0.25 sine 440 sine 1000 vol 0.8");
  const std::vector<float> original = SoxFloats(source);
  const std::size_t sourceFrames = original.size() / 2;
  for (const Written& w : kWritten)
    for (int channels : {1, 2})
      for (int rate : {8000, 44100, 48000, 96000}) {
        SCOPED_TRACE(testing::Message() << "encoding " << w.code << ", " << channels << " channels, " << rate << " Hz");
        const std::string out = dir / "out.wav";
        const CliRun run = RunCli("convert " + source + " " + out + " --encoding " + std::to_string(w.code) +
                               " --channels " + std::to_string(channels) + " --rate " + std::to_string(rate));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out + run.err, "");
        const std::size_t frames = std::size_t(std::floor(double(rate) * sourceFrames / sourceRate + 1e-9));
        EXPECT_EQ(Capture("soxi -r " + out), std::to_string(rate));
        EXPECT_EQ(Capture("soxi -c " + out), std::to_string(channels));
        EXPECT_EQ(Capture("soxi -e " + out), w.soxiEncoding);
        EXPECT_EQ(Capture("soxi -b " + out), std::to_string(w.bits));
        EXPECT_EQ(Capture("soxi -s " + out), std::to_string(frames));
        // Our reading of the file is sox's reading of it.
        const std::vector<float> ours = CliFloats(out), sox = SoxFloats(out);
        ASSERT_EQ(ours.size(), frames * channels);
        ASSERT_EQ(sox.size(), ours.size());
        const double soxTolerance = w.bits == 32 ? 1.0 / 16777216 : 0;
        for (std::size_t i = 0; i < ours.size(); ++i) ASSERT_NEAR(ours[i], sox[i], soxTolerance) << i;
        if (rate != sourceRate) continue;
        // At the same rate the values are the source's (or the mean of its pair) within a step.
        for (std::size_t f = 0; f < frames; ++f)
          for (int c = 0; c < channels; ++c) {
            const double expected =
                channels == 2 ? original[2 * f + c] : (double(original[2 * f]) + original[2 * f + 1]) * 0.5;
            ASSERT_NEAR(ours[f * channels + c], expected, w.step) << f;
          }
      }
}

// AIFF and AU by extension and by --type: what sox reads of them is what we read.
TEST_F(SoxFixture, ConvertWritesAiffAndAu) {
  const std::string source = Make("src.wav", "-r 22050 -c 2 -b 16", "synth 0.2 sine 440 sine 700 vol 0.7");
  struct Target { std::string name, type; std::vector<int> encodings; };
  const Target targets[] = {{"out.aiff", "", {16, 17, 18, 19, 20}},
                            {"out.au", "", {2, 3, 16, 17, 18}},
                            {"typed.bin", "aiff", {17}},
                            {"typed2.bin", "au", {17}}};
  for (const Target& t : targets)
    for (int code : t.encodings) {
      SCOPED_TRACE(t.name + " encoding " + std::to_string(code));
      const std::string out = dir / t.name;
      const CliRun run = RunCli("convert " + source + " " + out + " --encoding " + std::to_string(code) +
                                (t.type.empty() ? "" : " --type " + t.type));
      ASSERT_EQ(run.status, 0) << run.err;
      const std::string named = t.type.empty() ? out : out + "." + t.type;
      if (!t.type.empty()) std::filesystem::rename(out, named);
      const bool au = t.name.find(".au") != std::string::npos || t.type == "au";
      EXPECT_EQ(Capture("soxi -t " + named), au ? "au" : (code == 20 ? "aifc" : "aiff"));  // float needs AIFF-C
      EXPECT_EQ(Capture("soxi -r " + named), "22050");
      EXPECT_EQ(Capture("soxi -c " + named), "2");
      EXPECT_EQ(Capture("soxi -s " + named), "4410");
      const std::vector<float> ours = CliFloats(named), sox = SoxFloats(named);
      ASSERT_EQ(ours.size(), sox.size());
      const double tolerance = (code == 19 || code == 20) ? 1.0 / 16777216 : 0;
      for (std::size_t i = 0; i < ours.size(); ++i) ASSERT_NEAR(ours[i], sox[i], tolerance) << i;
    }
}

// The codec types, chosen by name or --type, through the editor's save: ffprobe finds the codec,
// rate and channels asked for (Opus always 48,000 Hz by the product's converter, MP3 at most
// 48,000 Hz); FLAC gives back the document's samples, and the file reopens.
TEST_F(SoxFixture, ConvertWritesTheCodecTypes) {
  const std::string source = Make("codec-source.wav", "-r 96000 -c 2 -b 16", "synth 0.5 sine 440 sine 1000 vol 0.8");
  const std::vector<float> original = CliFloats(source);
  const struct {
    const char* out;
    const char* options;
    const char* codec;
    int rate, channels;
  } kCodecs[] = {
      {"c.flac", " --level 8", "flac", 96000, 2},
      {"c24.flac", " --encoding 18 --channels 1", "flac", 96000, 1},
      {"c.ogg", " --quality 3 --rate 44100", "vorbis", 44100, 2},
      {"c.opus", " --bitrate 64", "opus", 48000, 2},
      {"c.mp3", " --vbr 4", "mp3", 48000, 2},
      {"c-mp3", " --type mp3 --bitrate 128 --rate 22050 --channels 1", "mp3", 22050, 1},
  };
  for (const auto& c : kCodecs) {
    SCOPED_TRACE(c.out);
    const std::string out = dir / c.out;
    const CliRun run = RunCli("convert " + source + " " + out + c.options);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string probe = Capture("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of default=nw=1 " + out);
    EXPECT_NE(probe.find("codec_name=" + std::string(c.codec)), std::string::npos) << probe;
    EXPECT_NE(probe.find("sample_rate=" + std::to_string(c.rate)), std::string::npos) << probe;
    EXPECT_NE(probe.find("channels=" + std::to_string(c.channels)), std::string::npos) << probe;
    EXPECT_EQ(RunCli("info " + out).status, 0);
  }
  EXPECT_EQ(CliFloats(dir / "c.flac"), original);
}

TEST_F(SoxFixture, ConvertDefaultsToTheDocumentsLayoutAndKeepsAnnotations) {
  const std::string source = Make("mono.wav", "-r 11025 -c 1 -e a-law", "synth 0.3 sine 300");
  const std::string out = dir / "copy.wav";
  ASSERT_EQ(RunCli("convert " + source + " " + out).status, 0);
  EXPECT_EQ(Capture("soxi -r " + out), "11025");
  EXPECT_EQ(Capture("soxi -c " + out), "1");
  EXPECT_EQ(Capture("soxi -e " + out), "A-law");
  EXPECT_EQ(CliFloats(out), CliFloats(source));
  // An uppercase extension and --type both choose WAVE.
  ASSERT_EQ(RunCli("convert " + source + " " + dir / "UPPER.WAV").status, 0);
  ASSERT_EQ(RunCli("convert " + source + " " + dir / "typed.bin --type wave").status, 0);
  // The file is WAVE, though only a .wav name opens it again.
  std::filesystem::rename(dir / "typed.bin", dir / "typed.wav");
  EXPECT_EQ(CliFloats(dir / "typed.wav"), CliFloats(source));

  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string tagged = dir / "tagged.wav", kept = dir / "kept.wav";
  ASSERT_TRUE(RunQuietly("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=0.3:sample_rate=44100 "
                         "-metadata title=Song -metadata comment=Note -c:a pcm_s16le " + tagged));
  ASSERT_EQ(RunCli("convert " + tagged + " " + kept + " --rate 22050 --encoding 20").status, 0);
  const std::vector<std::string> before = Lines(RunCli("info " + tagged).out), after = Lines(RunCli("info " + kept).out);
  ASSERT_EQ(before.size(), after.size());
  EXPECT_EQ(std::vector<std::string>(before.begin() + 7, before.end()), std::vector<std::string>(after.begin() + 7, after.end()));
  const std::string tags = Capture("ffprobe -v error -show_entries format_tags=title,comment -of default=nw=1 " + kept);
  EXPECT_NE(tags.find("TAG:title=Song"), std::string::npos) << tags;
  EXPECT_NE(tags.find("TAG:comment=Note"), std::string::npos) << tags;
}

TEST_F(SoxFixture, CorrectDCRemovesASteadyOffsetAndLeavesOtherFilesAlone) {
  const std::string source = Make("dc.wav", "-r 8000 -c 2 -b 16", "synth 1 sine 200 sine 300 vol 0.5 dcshift 0.2");
  const std::string out = dir / "fixed.wav";
  ASSERT_EQ(RunCli("convert " + source + " " + out + " --correct-dc --encoding 20").status, 0);
  const std::vector<float> fixed = CliFloats(out), plain = CliFloats(source);
  ASSERT_EQ(fixed.size(), plain.size());
  double sum[2] = {}, offset[2] = {};
  for (std::size_t i = 0; i < plain.size(); ++i) offset[i % 2] += plain[i] / 8000;
  for (std::size_t i = 0; i < plain.size(); ++i) sum[i % 2] += fixed[i];
  for (int c = 0; c < 2; ++c) {
    EXPECT_NEAR(offset[c], 0.2, 0.02);
    EXPECT_NEAR(sum[c] / 8000, 0.0, 1e-6);
    for (std::size_t i = c; i < plain.size(); i += 2) ASSERT_NEAR(fixed[i], plain[i] - offset[c], 1e-6) << i;
  }
  // A sweep has no offset: with the option on it is converted unchanged.
  const std::string sweep = Make("sweep.wav", "-r 8000 -c 2 -b 16", "synth 3 sine 300:3000");
  const std::string same = dir / "same.wav";
  ASSERT_EQ(RunCli("convert " + sweep + " " + same + " --correct-dc").status, 0);
  EXPECT_EQ(CliFloats(same), CliFloats(sweep));
}

TEST_F(SoxFixture, AFailedConvertLeavesTheOldFileAndMisuseIsRefused) {
  const std::string source = Make("s.wav", "-r 8000 -c 1 -b 16", "synth 0.2 sine 300");
  const std::string old = dir / "old.au";
  std::ofstream(old) << "the old file";
  CliRun run = RunCli("convert " + source + " " + old + " --encoding 20");  // AU holds no float
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "error: " + old + ": Compression type not supported for output\n");
  EXPECT_EQ(ReadText(old), "the old file");
  run = RunCli("convert " + source + " " + dir / "x.wav --rate 100");
  EXPECT_EQ(run.err, "error: Sample rate must be between 8000 and 96000\n");
  EXPECT_EQ(run.status, 1);
  run = RunCli("convert " + source + " " + dir / "x.wav --encoding 7");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Encoding 7 cannot be written"), std::string::npos);
  run = RunCli("convert " + source + " " + dir / "x.wav --channels 3");
  EXPECT_EQ(run.status, 1);
  run = RunCli("convert " + source + " " + dir / "no/such/dir/x.wav");
  EXPECT_EQ(run.err, "error: Couldn't write to file '" + dir / "no/such/dir/x.wav" + "'\n");
  for (const std::string& args : {"convert " + source, "convert " + source + " " + dir / "x.wav --type vox",
                                  "convert " + source + " " + dir / "x.vox", "convert " + source + " " + dir / "x.wav --rate"}) {
    EXPECT_EQ(RunCli(args).status, 2) << args;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "x.wav"));
}

}  // namespace

namespace {

// A convert streams the file's decoder into the save; the edit command with nothing to do goes
// through the document. Both write the same file: byte for byte, or for Ogg and Opus (whose
// streams get a random serial number) the same decoded samples. Fitted files say so on stderr, both ways;
// a damaged file fails both ways alike and leaves no output.
TEST_F(SoxFixture, ConvertWritesWhatTheDocumentsSaveWrites) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string tone = Make("tone.wav", "-r 48000 -c 6 -b 24", "synth 0.7 sine 300 sine 500 sine 700 sine 900 sine 1100 sine 1300 gain -6");
  const std::string hiRes = Make("hires.wav", "-r 192000 -c 2 -b 24", "synth 0.4 sine 440 sine 1000 gain -3");
  const struct {
    const char* name;
    std::string make;  // %s the file
    const char* notice;  // what stderr notes, or null
  } kInputs[] = {
      {"s16.wav", "sox -V1 -D -n -r 44100 -c 2 -b 16 %s synth 0.6 sine 440 sine 1003 gain -3", nullptr},
      {"u8.wav", "sox -V1 -D -n -r 8000 -c 1 -b 8 %s synth 0.5 sine 300", nullptr},
      {"s24.aiff", "sox -V1 -D -n -r 48000 -c 2 -b 24 %s synth 0.5 sine 500 sine 700 gain -1", nullptr},
      {"alaw.au", "sox -V1 -D -n -r 11025 -c 1 -e a-law %s synth 0.5 sine 800", nullptr},
      {"x.mp3", "sox -V1 -D -n -r 44100 -c 2 -b 16 %s.wav synth 0.6 sine 440 && lame --quiet -b 128 %s.wav %s", nullptr},
      {"x.m4a", "ffmpeg -v error -i " + hiRes + " -ar 44100 -c:a alac %s", nullptr},
      {"x.ogg", "ffmpeg -v error -i " + hiRes + " -ar 44100 -c:a libvorbis %s", nullptr},
      {"surround.flac", "flac -s " + tone + " -o %s", "5.1 down-mixed to stereo"},
      {"hires.flac", "flac -s " + hiRes + " -o %s", "192,000 Hz converted to 96,000 Hz"},
  };
  const struct {
    const char* extension;
    const char* options;
    bool sameBytes;
  } kOutputs[] = {
      {".wav", "", true},
      {".flac", " --level 3", true},
      {".aiff", " --rate 22050 --channels 1 --encoding 18", true},
      {".au", " --encoding 2", true},
      {".mp3", " --bitrate 128", true},
      {".ogg", " --quality 2", false},
  };
  const std::string script = dir / "nothing.script";
  std::ofstream(script) << "# no edit\n";
  for (const auto& input : kInputs) {
    SCOPED_TRACE(input.name);
    const std::string file = dir / input.name;
    std::string make = input.make;
    for (std::size_t at; (at = make.find("%s")) != std::string::npos;) make.replace(at, 2, file);
    ASSERT_TRUE(RunQuietly(make)) << make;
    for (const auto& output : kOutputs) {
      SCOPED_TRACE(output.extension);
      const std::string streamed = dir / (std::string(input.name) + ".streamed" + output.extension);
      const std::string document = dir / (std::string(input.name) + ".document" + output.extension);
      const CliRun convert = RunCli("convert " + file + " " + streamed + output.options);
      ASSERT_EQ(convert.status, 0) << convert.err;
      const CliRun edit = RunCli("edit " + file + " " + document + " " + script + output.options);
      ASSERT_EQ(edit.status, 0) << edit.err;
      if (output.sameBytes) EXPECT_TRUE(ReadText(streamed) == ReadText(document));
      else EXPECT_EQ(CliFloats(streamed), CliFloats(document));
      EXPECT_EQ(convert.err, input.notice ? "note: " + file + ": " + input.notice + "\n" : "");
      EXPECT_EQ(edit.err, convert.err);
    }
  }
  // Cut in its audio, a FLAC file is refused both ways with the same text and nothing is written.
  const std::string whole = dir / "surround.flac", cut = dir / "cut.flac";
  std::filesystem::copy_file(whole, cut);
  std::filesystem::resize_file(cut, std::filesystem::file_size(whole) / 2);
  const CliRun convert = RunCli("convert " + cut + " " + dir / "cut.wav");
  const CliRun edit = RunCli("edit " + cut + " " + dir / "cut-edit.wav " + script);
  EXPECT_EQ(convert.status, 1);
  EXPECT_EQ(convert.err, edit.err);
  EXPECT_NE(convert.err.find("damaged"), std::string::npos) << convert.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "cut.wav"));
}

}  // namespace
