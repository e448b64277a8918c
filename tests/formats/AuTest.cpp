// AU and raw files: sox-made AU files decode as sox decodes them, every encoding the writer makes
// is read back and accepted by sox, the header is laid out as stated, and malformed headers end
// in a SoundError without reading beyond the file.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "formats/Au.h"
#include "formats/Raw.h"
#include "tests/formats/SoxFiles.h"

namespace {

using namespace formats_test;
using namespace std::string_literals;

// The reader on bytes held in memory, with the calls every client makes first.
std::string AuError(const std::string& bytes, std::int64_t fileSize = -1) {
  std::istringstream in(bytes);
  try {
    AuRead reader(in, fileSize < 0 ? std::int64_t(bytes.size()) : fileSize);
    reader.CurrentSamplingRate();
    reader.CurrentChannels();
    PullAll(reader);
    return "";
  } catch (const SoundError& error) {
    return error.what();
  }
}

std::vector<float> DecodeAuSamples(const std::string& bytes) {
  std::istringstream in(bytes);
  AuRead reader(in, std::int64_t(bytes.size()));
  return PullAll(reader);
}

std::string AuHeader(std::uint32_t headerSize, std::uint32_t dataSize, std::uint32_t encoding, std::uint32_t rate,
                     std::uint32_t channels) {
  return ".snd" + Be32(headerSize) + Be32(dataSize) + Be32(encoding) + Be32(rate) + Be32(channels);
}

struct SoxAuEncoding {
  const char* arguments;
  int compression;
  int bits;
  double tolerance;
};
const SoxAuEncoding kSoxAuEncodings[] = {
    {"-e signed -b 8", CompressionPcm8, 8, 0},
    {"-e signed -b 16", CompressionPcm16, 16, 0},
    {"-e signed -b 24", CompressionPcm24, 24, 0},
    {"-e signed -b 32", CompressionPcm32, 32, kSox24BitRounding},
    {"-e float -b 32", CompressionFloat32, 32, kSox24BitRounding},
    {"-e float -b 64", CompressionFloat32, 64, kSox24BitRounding},  // encoding 7, read as a float file
    {"-e u-law", CompressionMuLaw, 8, 0},
    {"-e a-law", CompressionALaw, 8, 0},
};

class AuSoxTest : public testing::Test {
protected:
  void SetUp() override {
    if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  }
  TempDir dir;
};

TEST_F(AuSoxTest, SoxFilesDecodeAsSoxDecodesThem) {
  for (const SoxAuEncoding& e : kSoxAuEncodings) {
    for (int channels : {1, 2}) {
      for (int rate : {8000, 22050, 44100, 96000}) {
        SCOPED_TRACE(testing::Message() << e.arguments << ", " << channels << " channels, " << rate << " Hz");
        const std::string au = dir / "in.au", raw = dir / "sox.f32";
        const std::string synth = channels == 1 ? "synth 0.05 whitenoise" : "synth 0.05 whitenoise sine 1000";
        ASSERT_TRUE(RunQuietly("sox -V1 -D -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " " +
                               e.arguments + " " + au + " " + synth));
        ASSERT_TRUE(RunQuietly("sox -V1 -D " + au + " -t f32 " + raw));
        const DecodedFile d = DecodePath(au);
        ASSERT_EQ(d.error, "");
        EXPECT_EQ(d.fileFormat, FileFormatAu);
        EXPECT_EQ(d.rate, rate);
        EXPECT_EQ(d.channels, channels);
        EXPECT_EQ(d.compression, e.compression);
        EXPECT_EQ(d.resolution, e.bits);
        EXPECT_EQ(d.floatByteCount, std::int64_t(d.samples.size()) * 4);
        EXPECT_EQ(std::int64_t(d.samples.size()), std::stoll(Capture("soxi -s " + au)) * channels);
        ExpectSameSamples(d.samples, ReadFloats(raw), e.tolerance);
      }
    }
  }
}

TEST_F(AuSoxTest, SoxFilesWithAnnotationTextAndTheSndNameOpen) {
  // sox stores a comment in the header's annotation field, which moves the first sample.
  const std::string au = dir / "tagged.snd", raw = dir / "sox.f32";
  ASSERT_TRUE(RunQuietly("sox -V1 -D -n -r 11025 -c 1 -b 16 -e signed --comment 'a longer comment text' -t au " + au +
                         " synth 0.02 sine 440"));
  ASSERT_TRUE(RunQuietly("sox -V1 -D -t au " + au + " -t f32 " + raw));
  std::ifstream in(au, std::ios::binary);
  AuRead reader(in, std::int64_t(std::filesystem::file_size(au)));
  EXPECT_GT(reader.DataStart(), 24);
  ExpectSameSamples(DecodePath(au).samples, ReadFloats(raw), 0);
}

struct WrittenAu {
  int compression;
  int encoding;
  const char* soxiEncoding;
  int bits;
};
const WrittenAu kWrittenAu[] = {
    {CompressionPcm8, 2, "Signed Integer PCM", 8},   {CompressionPcm16, 3, "Signed Integer PCM", 16},
    {CompressionPcm24, 4, "Signed Integer PCM", 24}, {CompressionMuLaw, 1, "u-law", 8},
    {CompressionALaw, 27, "A-law", 8},
};

TEST_F(AuSoxTest, EveryWrittenEncodingReadsBackAndSoxAcceptsIt) {
  for (const WrittenAu& e : kWrittenAu) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << "compression " << e.compression << ", " << channels << " channels");
      const int rate = 16000, frames = 1601;
      const std::string path = dir / "out.au", raw = dir / "out.f32";
      const std::vector<float> tones = Tones(frames, channels);
      {
        std::ofstream file(path, std::ios::binary);
        AuWrite writer(file, frames, channels, rate, e.compression);
        EXPECT_EQ(writer.PushSamples(tones.data(), int(tones.size())), int(tones.size()));
      }
      const std::vector<std::uint8_t> bytes = ReadBytes(path);
      ASSERT_EQ(bytes.size(), 28u + std::size_t(frames) * channels * e.bits / 8);
      EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 28),
                AuHeader(28, std::uint32_t(bytes.size() - 28), e.encoding, rate, channels) + Be32(0));
      EXPECT_EQ(Capture("soxi -r " + path), std::to_string(rate));
      EXPECT_EQ(Capture("soxi -c " + path), std::to_string(channels));
      EXPECT_EQ(Capture("soxi -e " + path), e.soxiEncoding);
      EXPECT_EQ(Capture("soxi -b " + path), std::to_string(e.bits));
      EXPECT_EQ(Capture("soxi -s " + path), std::to_string(frames));

      const DecodedFile d = DecodePath(path);
      ASSERT_EQ(d.error, "");
      EXPECT_EQ(d.compression, e.compression);
      ASSERT_TRUE(RunQuietly("sox -V1 -D " + path + " -t f32 " + raw));
      ExpectSameSamples(d.samples, ReadFloats(raw), 0);
      // Our own decoding is the written value within the encoding's step.
      const double step = e.bits == 8 ? (e.compression == CompressionPcm8 ? 1.0 / 128 : 0.04) : 2.0 / (1 << e.bits);
      for (std::size_t i = 0; i < tones.size(); ++i) ASSERT_NEAR(d.samples[i], tones[i], step) << i;
    }
  }
}

TEST(AuWriteTest, ThreeStereoFramesMakeA40ByteFileAndShortPushesArePadded) {
  std::ostringstream out;
  {
    AuWrite writer(out, 3, 2, 8000, CompressionPcm16);
    const float two[2] = {0.5f, -0.5f};
    EXPECT_EQ(writer.PushSamples(two, 2), 2);
  }
  const std::string bytes = out.str();
  ASSERT_EQ(bytes.size(), 40u);
  EXPECT_EQ(bytes.substr(0, 28), AuHeader(28, 12, 3, 8000, 2) + Be32(0));
  EXPECT_EQ(bytes.substr(28), Be16(0x4000) + Be16(0xC000) + std::string(8, '\0'));
}

TEST(AuWriteTest, PushesBeyondTheDeclaredLengthAndSeeksAreBounded) {
  std::ostringstream out;
  {
    AuWrite writer(out, 2, 1, 8000, CompressionPcm8);
    const float three[3] = {0.25f, 0.5f, 0.75f};
    EXPECT_EQ(writer.PushSamples(three, 3), 2);
    EXPECT_TRUE(writer.SeekToSample(0));
    EXPECT_EQ(writer.PushSamples(three + 2, 1), 1);
    EXPECT_FALSE(writer.SeekToSample(3));
  }
  EXPECT_EQ(out.str().substr(28), (std::string{char(96), char(64)}));
}

TEST(AuWriteTest, RefusedLayoutsWriteNothing) {
  for (int compression : {19, 20, 7, 0}) {
    std::ostringstream out;
    try {
      AuWrite writer(out, 10, 1, 8000, compression);
      ADD_FAILURE() << compression;
    } catch (const SoundError& error) {
      EXPECT_STREQ(error.what(), "Compression type not supported for output");
    }
    EXPECT_EQ(out.str(), "");
  }
  std::ostringstream out;
  EXPECT_THROW(AuWrite(out, 10, 0, 8000, CompressionPcm16), SoundError);
  EXPECT_THROW(AuWrite(out, 10, 1, 0, CompressionPcm16), SoundError);
  EXPECT_THROW(AuWrite(out, std::int64_t(1) << 31, 2, 8000, CompressionPcm16), SoundError);
  EXPECT_EQ(out.str(), "");
}

TEST(AuReadTest, HeaderFieldsAndTheirLimits) {
  const std::string samples = Be16(0x4000) + Be16(0xC000) + Be16(0x1234) + Be16(0);
  // Annotation bytes move the first sample to the header size.
  {
    const std::string bytes = AuHeader(32, 8, 3, 22050, 1) + "notes..." + samples;
    std::istringstream in(bytes);
    AuRead reader(in, std::int64_t(bytes.size()));
    EXPECT_EQ(reader.CurrentSamplingRate(), 22050);
    EXPECT_EQ(reader.CurrentChannels(), 1);
    EXPECT_EQ(reader.DataStart(), 32);
    EXPECT_EQ(reader.FloatByteCount(), 16);
    EXPECT_EQ(PullAll(reader), (std::vector<float>{0.5f, -0.5f, float(0x1234) / 32768, 0.0f}));
    ASSERT_TRUE(reader.SeekToSample(2));
    float one[4];
    EXPECT_EQ(reader.PullSamples(one, 4), 2);
    EXPECT_EQ(one[0], float(0x1234) / 32768);
  }
  // An unknown data size plays to the end of the file, also when the file size is unknown.
  for (std::int64_t fileSize : {std::int64_t(-1), std::int64_t(0)}) {
    const std::string bytes = AuHeader(24, 0xFFFFFFFF, 3, 8000, 2) + samples;
    std::istringstream in(bytes);
    AuRead reader(in, fileSize < 0 ? std::int64_t(bytes.size()) : 0);
    EXPECT_EQ(PullAll(reader).size(), 4u);
  }
  // A data size smaller than the file keeps trailing bytes out of the audio; a larger one (a
  // truncated file) gives the audio that is there, in whole frames.
  EXPECT_EQ(DecodeAuSamples(AuHeader(24, 4, 3, 8000, 1) + samples + "junk").size(), 2u);
  EXPECT_EQ(DecodeAuSamples(AuHeader(24, 1000, 3, 8000, 2) + samples + "x").size(), 4u);
}

TEST(AuReadTest, MalformedHeadersEndInASoundError) {
  const std::string audio(64, '\x10');
  EXPECT_EQ(AuError(""), "Input file is not a AU format");
  EXPECT_EQ(AuError("RIFF....WAVE"), "Input file is not a AU format");
  EXPECT_EQ(AuError(".snd" + Be32(24) + Be32(0)), "AU header is truncated");
  EXPECT_EQ(AuError(AuHeader(24, 64, 6, 8000, 1) + audio), "");  // 32-bit float
  EXPECT_EQ(AuError(AuHeader(24, 64, 9, 8000, 1) + audio), "Unsupported AU format: 9");
  EXPECT_EQ(AuError(AuHeader(24, 64, 0xFFFFFFFF, 8000, 1) + audio), "Unsupported AU format: 2147483647");
  EXPECT_EQ(AuError(AuHeader(24, 64, 3, 8000, 0) + audio), "Unsupported number of channels: 0");
  EXPECT_EQ(AuError(AuHeader(24, 64, 3, 8000, 0xFFFFFFFF) + audio), "Unsupported number of channels: 4294967295");
  EXPECT_EQ(AuError(AuHeader(24, 64, 3, 0, 1) + audio), "Unsupported sampling rate: 0");
  EXPECT_EQ(AuError(AuHeader(24, 64, 3, 0x80000000, 1) + audio), "Unsupported sampling rate: 2147483648");
  EXPECT_EQ(AuError(AuHeader(8, 64, 3, 8000, 1) + audio), "Corrupted AU header size: 8");
  // A header size beyond the file, with and without a known file size.
  EXPECT_EQ(AuError(AuHeader(0xFFFFFFF0, 64, 3, 8000, 1) + audio), "Corrupted AU header size: 4294967280");
  EXPECT_EQ(AuError(AuHeader(0xFFFFFFF0, 64, 3, 8000, 1) + audio, 0), "AU header is truncated");
}

TEST(AuReadTest, EveryTruncationAndDamagedHeaderByteIsReported) {
  std::ostringstream out;
  {
    AuWrite writer(out, 40, 2, 8000, CompressionPcm24);
    const std::vector<float> tones = Tones(40, 2);
    writer.PushSamples(tones.data(), int(tones.size()));
  }
  ExpectDamageIsReported(out.str(), ".au", AuWrite::kHeaderSize);
}

TEST(AuReadTest, ErrorsSurfaceAtTheFirstRateQueryThroughTheProbe) {
  const std::string bytes = AuHeader(24, 0, 23, 8000, 1);
  std::istringstream in(bytes);
  auto reader = CreateReaderForFile(in, std::int64_t(bytes.size()), ".AU", true);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->FileFormat(), FileFormatAu);
  try {
    reader->CurrentSamplingRate();
    ADD_FAILURE();
  } catch (const SoundError& error) {
    EXPECT_STREQ(error.what(), "Unsupported AU format: 23");
  }
  // The same content under another name is still an AU file.
  std::istringstream again(bytes);
  EXPECT_EQ(CreateReaderForFile(again, std::int64_t(bytes.size()), ".wav", true)->FileFormat(), FileFormatAu);
}

// ---------------------------------------------------------------------------------------------
// Raw

std::vector<float> DecodeRaw(const std::string& bytes, int channels, int bits, int compression, bool bigEndian,
                             bool isSigned) {
  std::istringstream in(bytes);
  RawRead reader(in, std::int64_t(bytes.size()), channels, 8000, bits, compression, bigEndian, isSigned);
  EXPECT_EQ(reader.FloatByteCount(), std::int64_t(bytes.size()) / (bits / 8) / channels * std::min(channels, 2) * 4);
  return PullAll(reader);
}

TEST(RawReadTest, LayoutsAsTheUserStatesThem) {
  EXPECT_EQ(DecodeRaw("\x12\x34"s, 1, 16, CompressionPcm16, true, true), std::vector<float>{float(0x1234) / 32768});
  EXPECT_EQ(DecodeRaw("\x12\x34"s, 1, 16, CompressionPcm16, false, true), std::vector<float>{float(0x3412) / 32768});
  EXPECT_EQ(DecodeRaw("\x80"s, 1, 8, CompressionPcm8, false, false), std::vector<float>{0.0f});
  EXPECT_EQ(DecodeRaw("\x80"s, 1, 8, CompressionPcm8, false, true), std::vector<float>{-1.0f});
  EXPECT_EQ(DecodeRaw("\x40\x00\x00"s, 1, 24, CompressionPcm24, true, true), std::vector<float>{0.5f});
  EXPECT_EQ(DecodeRaw("\x00\x00\x40"s, 1, 24, CompressionPcm24, false, true), std::vector<float>{0.5f});
  EXPECT_EQ(DecodeRaw("\x3F\x00\x00\x00"s, 1, 32, CompressionFloat32, true, true), std::vector<float>{0.5f});
  EXPECT_EQ(DecodeRaw("\xC0\x00\x00\x00"s, 1, 32, CompressionPcm32, true, true), std::vector<float>{-0.5f});
  EXPECT_EQ(DecodeRaw("\xFF"s, 1, 8, CompressionMuLaw, false, true), std::vector<float>{0.0f});
  // A partial last frame (or sample) is dropped.
  EXPECT_EQ(DecodeRaw("\x40\x00\x20\x00\x10"s, 2, 16, CompressionPcm16, true, true), (std::vector<float>{0.5f, 0.25f}));
}

TEST(RawReadTest, WideFilesDeliverTheirFirstTwoChannelsAndSeekByThem) {
  std::string bytes;
  for (int frame = 0; frame < 3000; ++frame)
    for (int c = 0; c < 5; ++c) bytes += char(frame % 100 + c);
  std::istringstream in(bytes);
  RawRead reader(in, std::int64_t(bytes.size()), 5, 8000, 8, CompressionPcm8, false, true);
  EXPECT_EQ(reader.CurrentChannels(), 2);
  EXPECT_EQ(reader.FloatByteCount(), 3000 * 2 * 4);
  const std::vector<float> all = PullAll(reader);
  ASSERT_EQ(all.size(), 6000u);
  for (int frame = 0; frame < 3000; ++frame) {
    ASSERT_EQ(all[2 * frame], float(frame % 100) / 128) << frame;
    ASSERT_EQ(all[2 * frame + 1], float(frame % 100 + 1) / 128) << frame;
  }
  ASSERT_TRUE(reader.SeekToSample(2 * 1234));
  float two[2];
  ASSERT_EQ(reader.PullSamples(two, 2), 2);
  EXPECT_EQ(two[0], float(1234 % 100) / 128);
}

TEST(RawReadTest, ImpossibleLayoutsAreRefused) {
  std::istringstream in("abcd");
  EXPECT_THROW(RawRead(in, 4, 0, 8000, 16, CompressionPcm16, true, true), SoundError);
  EXPECT_THROW(RawRead(in, 4, 13, 8000, 16, CompressionPcm16, true, true), SoundError);
  EXPECT_THROW(RawRead(in, 4, 1, 0, 16, CompressionPcm16, true, true), SoundError);
  EXPECT_THROW(RawRead(in, 4, 1, 8000, 12, CompressionPcm16, true, true), SoundError);
  EXPECT_THROW(RawRead(in, 4, 1, 8000, 8, CompressionImaAdpcm, true, true), SoundError);
}

}  // namespace
