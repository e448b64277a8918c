// Real-world files: WAVE files made by sox during the test run decode to exactly sox's own
// 32-bit float decoding, and every file the writer makes is accepted by sox with the right
// rate, channels, encoding and length.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "formats/Wave.h"
#include "tests/formats/TestSupport.h"

namespace {

using namespace formats_test;

constexpr double kSox24BitRounding = 1.0 / 16777216.0;

struct SoxEncoding {
  const char* arguments;
  int compression;
  // sox makes its floats from 32-bit integers rounded to 24-bit fixed point ((v + 64) & ~127),
  // so for 32-bit integer and float files the two decodings may differ by up to 2^-24; every
  // other encoding is the same exact power-of-two scaling in both decoders.
  double tolerance;
};
const SoxEncoding kSoxEncodings[] = {
    {"-e unsigned -b 8", CompressionPcm8, 0},
    {"-e signed -b 16", CompressionPcm16, 0},
    {"-e signed -b 24", CompressionPcm24, 0},              // sox writes WAVE_FORMAT_EXTENSIBLE
    {"-e signed -b 24 -t wavpcm", CompressionPcm24, 0},   // plain format tag 1
    {"-e signed -b 32", CompressionPcm32, kSox24BitRounding},  // extensible
    {"-e signed -b 32 -t wavpcm", CompressionPcm32, kSox24BitRounding},
    {"-e float -b 32", CompressionFloat32, kSox24BitRounding},
    {"-e float -b 64", CompressionFloat32, kSox24BitRounding},  // read as a float file
    {"-e u-law", CompressionMuLaw, 0},
    {"-e a-law", CompressionALaw, 0},
};
const int kRates[] = {8000, 11025, 22050, 44100, 48000, 96000};

struct Decoded {
  int rate = 0, channels = 0, compression = 0, formatTag = 0;
  std::int64_t floatByteCount = 0;
  std::vector<float> samples;
};

Decoded DecodeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(0, std::ios::end);
  const std::int64_t size = in.tellg();
  in.seekg(0);
  auto reader = CreateReaderForFile(in, size, ".wav", true);
  Decoded d;
  if (!reader) return d;
  d.rate = reader->CurrentSamplingRate();
  d.channels = reader->CurrentChannels();
  d.compression = reader->Compression();
  d.floatByteCount = reader->FloatByteCount();
  d.formatTag = static_cast<WaveRead&>(*reader).FormatTag();
  d.samples = PullAll(*reader);
  return d;
}

void ExpectSameSamples(const std::vector<float>& ours, const std::vector<float>& sox, double tolerance) {
  ASSERT_EQ(ours.size(), sox.size());
  for (std::size_t i = 0; i < ours.size(); ++i) {
    if (tolerance == 0)
      ASSERT_EQ(ours[i], sox[i]) << "sample " << i;
    else
      ASSERT_NEAR(ours[i], sox[i], tolerance) << "sample " << i;
  }
}

class SoxFilesTest : public testing::Test {
protected:
  void SetUp() override {
    if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  }
  TempDir dir;
};

TEST_F(SoxFilesTest, DecodedFloatsEqualSoxDecoding) {
  int files = 0;
  for (const SoxEncoding& e : kSoxEncodings) {
    for (int channels : {1, 2}) {
      for (int rate : kRates) {
        SCOPED_TRACE(testing::Message() << e.arguments << ", " << channels << " channels, " << rate << " Hz");
        const std::string wav = dir / "in.wav", raw = dir / "sox.f32";
        // Noise at full scale reaches every code; the second channel gets its own tone.
        const std::string synth = channels == 1 ? "synth 0.05 whitenoise" : "synth 0.05 whitenoise sine 1000";
        ASSERT_TRUE(RunQuietly("sox -V1 -D -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " " +
                        e.arguments + " " + wav + " " + synth));
        ASSERT_TRUE(RunQuietly("sox -V1 -D " + wav + " -t f32 " + raw));
        const Decoded d = DecodeFile(wav);
        EXPECT_EQ(d.rate, rate);
        EXPECT_EQ(d.channels, channels);
        EXPECT_EQ(d.compression, e.compression);
        EXPECT_EQ(d.floatByteCount, std::int64_t(d.samples.size()) * 4);
        const std::int64_t frames = std::stoll(Capture("soxi -s " + wav));
        EXPECT_EQ(std::int64_t(d.samples.size()), frames * channels);
        ExpectSameSamples(d.samples, ReadFloats(raw), e.tolerance);
        ++files;
      }
    }
  }
  EXPECT_EQ(files, 10 * 2 * 6);
}

TEST_F(SoxFilesTest, ExtensibleFilesOfMoreChannelsOpen) {
  const std::string wav = dir / "three.wav", raw = dir / "three.f32";
  ASSERT_TRUE(RunQuietly("sox -V1 -D -n -r 44100 -c 3 -b 16 " + wav + " synth 0.05 sine 300 sine 500 whitenoise"));
  ASSERT_TRUE(RunQuietly("sox -V1 -D " + wav + " -t f32 " + raw));
  const Decoded d = DecodeFile(wav);
  EXPECT_EQ(d.formatTag, 0xFFFE);
  EXPECT_EQ(d.channels, 3);
  EXPECT_EQ(d.compression, CompressionPcm16);
  ExpectSameSamples(d.samples, ReadFloats(raw), 0);
}

struct WrittenEncoding {
  int compression;
  const char* soxiEncoding;
  int bits;
};
const WrittenEncoding kWritten[] = {
    {CompressionPcm8, "Unsigned Integer PCM", 8},   {CompressionPcm16, "Signed Integer PCM", 16},
    {CompressionPcm24, "Signed Integer PCM", 24},   {CompressionPcm32, "Signed Integer PCM", 32},
    {CompressionFloat32, "Floating Point PCM", 32}, {CompressionMuLaw, "u-law", 8},
    {CompressionALaw, "A-law", 8},
};

TEST_F(SoxFilesTest, SoxAcceptsEveryFileTheWriterMakes) {
  AnnotationList annotations;
  annotations.SetByKind(AnnotationName, reinterpret_cast<const std::uint8_t*>("Tone"), 5);
  annotations.SetByKind(AnnotationComment, reinterpret_cast<const std::uint8_t*>("made by the tests"), 18);
  for (const WrittenEncoding& e : kWritten) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << "compression " << e.compression << ", " << channels << " channels");
      const int rate = 22050, frames = 2205 + 1;  // an odd count exercises the pad byte
      const std::string path = dir / "out.wav", raw = dir / "out.f32";
      {
        std::ofstream file(path, std::ios::binary);
        WaveWrite writer(file, frames, channels, rate, e.compression, annotations);
        std::vector<float> samples(std::size_t(frames) * channels);
        for (int i = 0; i < frames; ++i)
          for (int c = 0; c < channels; ++c) samples[std::size_t(i) * channels + c] = float(0.7 * std::sin(0.05 * i + c));
        writer.PushSamples(samples.data(), int(samples.size()));
      }
      EXPECT_EQ(Capture("soxi -r " + path), std::to_string(rate));
      EXPECT_EQ(Capture("soxi -c " + path), std::to_string(channels));
      EXPECT_EQ(Capture("soxi -e " + path), e.soxiEncoding);
      EXPECT_EQ(Capture("soxi -b " + path), std::to_string(e.bits));
      EXPECT_EQ(Capture("soxi -s " + path), std::to_string(frames));
      // sox reads the header without a warning (float data wants the 18-byte fmt chunk).
      const std::string warnings = dir / "warnings.txt";
      ASSERT_TRUE(RunQuietly("{ sox " + path + " -n 2>" + warnings + "; }"));
      EXPECT_EQ(ReadText(warnings), "");
      // sox does not show LIST/INFO items; ffprobe does.
      if (HaveFfmpeg()) {
        EXPECT_EQ(Capture("ffprobe -v error -show_entries format_tags=title,comment -of default=nw=1 " + path),
                  "TAG:title=Tone\nTAG:comment=made by the tests");
      }
      // sox reads back the values our reader does.
      ASSERT_TRUE(RunQuietly("sox -V1 -D " + path + " -t f32 " + raw));
      const double tolerance = e.bits == 32 ? kSox24BitRounding : 0;
      ExpectSameSamples(DecodeFile(path).samples, ReadFloats(raw), tolerance);
    }
  }
}

// Written to a pipe, sox and ffmpeg cannot go back to fix the header: their RIFF and data
// lengths are guesses beyond the file (sox) or 0xFFFFFFFF (ffmpeg). The audio is the whole
// frames up to the end of the file, with or without a known file size. RF64 files keep their
// true sizes in a ds64 chunk.
TEST_F(SoxFilesTest, FilesWrittenToAPipeRunToTheEndOfTheFile) {
  const std::string source = dir / "source.wav", piped = dir / "piped.wav", raw = dir / "source.f32";
  struct Writer {
    const char* tool;
    std::string command;
  };
  const Writer writers[] = {
      {"sox", "{ sox -V1 " + source + " -t wav - | cat > " + piped + "; }"},
      {"ffmpeg", "{ ffmpeg -v error -y -i " + source + " -f wav - | cat > " + piped + "; }"},
      {"ffmpeg", "{ ffmpeg -v error -y -i " + source + " -c:a pcm_f32le -f wav - | cat > " + piped + "; }"},
      // RF64, as broadcast recorders write it: the sizes are in its ds64 chunk.
      {"ffmpeg", "ffmpeg -v error -y -i " + source + " -rf64 always -f wav " + piped},
  };
  for (const Writer& w : writers) {
    if (std::string(w.tool) == "ffmpeg" && !HaveFfmpeg()) continue;
    for (int channels : {1, 2}) {
      SCOPED_TRACE(w.command + ", " + std::to_string(channels) + " channels");
      ASSERT_TRUE(RunQuietly("sox -V1 -D -n -r 22050 -c " + std::to_string(channels) + " -b 16 " + source +
                             " synth 0.3 whitenoise sine 500"));
      ASSERT_TRUE(RunQuietly("sox -V1 -D " + source + " -t f32 " + raw));
      ASSERT_TRUE(RunQuietly(w.command));
      // A torn last frame, as a cut stream leaves it.
      std::ofstream(piped, std::ios::binary | std::ios::app) << '\x01';
      const std::vector<float> expected = ReadFloats(raw);
      const Decoded d = DecodeFile(piped);
      EXPECT_EQ(d.channels, channels);
      EXPECT_EQ(d.floatByteCount, std::int64_t(expected.size()) * 4);
      ExpectSameSamples(d.samples, expected, 0);
      std::ifstream in(piped, std::ios::binary);
      WaveRead unknownSize(in, 0, false);
      const std::vector<float> streamed = PullAll(unknownSize);
      ASSERT_GE(streamed.size(), expected.size());  // up to the end of the stream: frames stay whole
      ExpectSameSamples(std::vector<float>(streamed.begin(), streamed.begin() + std::ptrdiff_t(expected.size())), expected, 0);
      EXPECT_LT(streamed.size() - expected.size(), std::size_t(channels));
    }
  }
}

TEST_F(SoxFilesTest, FfmpegInfoTagsBecomeAnnotations) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string wav = dir / "tagged.wav", raw = dir / "tagged.f32";
  ASSERT_TRUE(RunQuietly("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=0.1:sample_rate=44100 -ac 2 "
                         "-metadata title=Song -metadata artist=Band -metadata comment=Note -c:a pcm_s16le " + wav));
  ASSERT_TRUE(RunQuietly("sox -V1 -D " + wav + " -t f32 " + raw));
  std::ifstream in(wav, std::ios::binary);
  WaveRead reader(in, std::int64_t(std::filesystem::file_size(wav)), true);
  auto text = [&](int kind) {
    const Annotation* item = reader.Annotations().FindKind(kind);
    return item ? std::string(item->data.begin(), item->data.end()) : std::string("(none)");
  };
  EXPECT_EQ(text(AnnotationName), std::string("Song", 5));  // INFO texts keep their terminating zero
  EXPECT_EQ(text(AnnotationArtist), std::string("Band", 5));
  EXPECT_EQ(text(AnnotationComment), std::string("Note", 5));
  ExpectSameSamples(PullAll(reader), ReadFloats(raw), 0);
}

}  // namespace
