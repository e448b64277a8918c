// AIFF and AIFC files: files made by sox and ffmpeg decode as those tools decode them, every
// encoding the writer makes is read back and accepted by the tools, header and annotation chunks
// are laid out as stated, and malformed files end in a SoundError without reading beyond them.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

#include "formats/Aiff.h"
#include "formats/ByteOrder.h"
#include "tests/formats/SoxFiles.h"

namespace {

using namespace formats_test;
using namespace std::string_literals;

std::string Extended(double rate) {
  std::uint8_t bytes[10];
  ExtendedFromRate(rate, bytes);
  return std::string(reinterpret_cast<const char*>(bytes), 10);
}

std::string IffChunk(const std::string& id, const std::string& payload) {
  return id + Be32(std::uint32_t(payload.size())) + payload + (payload.size() % 2 ? "\0"s : "");
}
std::string Form(const std::string& type, const std::string& content) {
  return "FORM" + Be32(std::uint32_t(content.size() + 4)) + type + content;
}
std::string Comm(int channels, std::uint32_t frames, int bits, const std::string& rate, const std::string& type = "") {
  return IffChunk("COMM", Be16(channels) + Be32(frames) + Be16(bits) + rate + type);
}
std::string Ssnd(const std::string& samples, std::uint32_t offset = 0) {
  return IffChunk("SSND", Be32(offset) + Be32(0) + samples);
}
const std::string kFver = IffChunk("FVER", Be32(0xA2805140));

struct Opened {
  std::string error;
  int rate = 0, channels = 0, compression = 0;
  std::vector<float> samples;
  AnnotationList annotations;
};

Opened OpenAiff(const std::string& bytes) {
  Opened o;
  std::istringstream in(bytes);
  try {
    AiffRead reader(in, std::int64_t(bytes.size()));
    o.rate = reader.CurrentSamplingRate();
    o.channels = reader.CurrentChannels();
    o.compression = reader.Compression();
    o.samples = PullAll(reader);
    o.annotations.CopyFrom(reader.Annotations());
  } catch (const SoundError& error) {
    o.error = error.what();
  }
  return o;
}

std::string Text(const AnnotationList& list, int kind) {
  const Annotation* item = list.FindKind(kind);
  return item ? std::string(item->data.begin(), item->data.end()) : "(none)";
}

class AiffToolsTest : public testing::Test {
protected:
  void SetUp() override {
    if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  }
  TempDir dir;
};

struct SoxAiffEncoding {
  const char* arguments;  // what sox is told to write
  int compression;
  double tolerance;
};
const SoxAiffEncoding kSoxAiff[] = {
    {"-e signed -b 8 -t aiff", CompressionPcm8, 0},
    {"-e signed -b 16 -t aiff", CompressionPcm16, 0},
    {"-e signed -b 24 -t aiff", CompressionPcm24, 0},
    {"-e signed -b 32 -t aiff", CompressionPcm32, kSox24BitRounding},
    {"-e signed -b 16 -t aifc", CompressionPcm16, 0},  // AIFC "NONE"
    {"-e float -b 32 -t aifc", CompressionFloat32, kSox24BitRounding},
    {"-e float -b 64 -t aifc", CompressionFloat32, kSox24BitRounding},  // "fl64", read as a float file
};

TEST_F(AiffToolsTest, SoxFilesDecodeAsSoxDecodesThem) {
  for (const SoxAiffEncoding& e : kSoxAiff) {
    for (int channels : {1, 2}) {
      for (int rate : {8000, 11025, 44100, 96000}) {
        SCOPED_TRACE(testing::Message() << e.arguments << ", " << channels << " channels, " << rate << " Hz");
        const std::string aif = dir / "in.aif", raw = dir / "sox.f32";
        const std::string synth = channels == 1 ? "synth 0.05 whitenoise" : "synth 0.05 whitenoise sine 1000";
        ASSERT_TRUE(RunQuietly("sox -V1 -D -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " " +
                               e.arguments + " " + aif + " " + synth));
        ASSERT_TRUE(RunQuietly("sox -V1 -D " + aif + " -t f32 " + raw));
        const DecodedFile d = DecodePath(aif);
        ASSERT_EQ(d.error, "");
        EXPECT_EQ(d.fileFormat, FileFormatAiff);
        EXPECT_EQ(d.rate, rate);
        EXPECT_EQ(d.channels, channels);
        EXPECT_EQ(d.compression, e.compression);
        EXPECT_EQ(d.floatByteCount, std::int64_t(d.samples.size()) * 4);
        EXPECT_EQ(std::int64_t(d.samples.size()), std::stoll(Capture("soxi -s " + aif)) * channels);
        ExpectSameSamples(d.samples, ReadFloats(raw), e.tolerance);
      }
    }
  }
}

// sox writes neither G.711 nor little-endian AIFC; ffmpeg does, and decodes them itself.
TEST_F(AiffToolsTest, FfmpegAifcFilesDecodeAsFfmpegDecodesThem) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  const struct {
    const char* codec;
    int compression;
  } kCodecs[] = {{"pcm_mulaw", CompressionMuLaw}, {"pcm_alaw", CompressionALaw}, {"pcm_s16le", CompressionPcm16},
                 {"pcm_f32be", CompressionFloat32}, {"pcm_s24be", CompressionPcm24}, {"pcm_f64be", CompressionFloat32}};
  for (const auto& c : kCodecs) {
    SCOPED_TRACE(c.codec);
    const std::string aif = dir / "in.aif", raw = dir / "ffmpeg.f32";
    ASSERT_TRUE(RunQuietly("ffmpeg -v error -y -f lavfi -i anoisesrc=d=0.05:r=22050:a=0.9 -ac 2 -c:a " +
                           std::string(c.codec) + " -f aiff " + aif));
    ASSERT_TRUE(RunQuietly("ffmpeg -v error -y -i " + aif + " -f f32le -c:a pcm_f32le " + raw));
    const DecodedFile d = DecodePath(aif);
    ASSERT_EQ(d.error, "");
    EXPECT_EQ(d.rate, 22050);
    EXPECT_EQ(d.channels, 2);
    EXPECT_EQ(d.compression, c.compression);
    ExpectSameSamples(d.samples, ReadFloats(raw), 0);
  }
}

TEST_F(AiffToolsTest, FfmpegAnnotationChunksBecomeAnnotations) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string aif = dir / "tagged.aiff";
  ASSERT_TRUE(RunQuietly("ffmpeg -v error -y -f lavfi -i sine=duration=0.05 -metadata title=Song -metadata author=Band "
                         "-metadata copyright=2026 -metadata comment=Notes -c:a pcm_s16be -f aiff " + aif));
  std::ifstream in(aif, std::ios::binary);
  AiffRead reader(in, std::int64_t(std::filesystem::file_size(aif)));
  EXPECT_EQ(Text(reader.Annotations(), AnnotationName), "Song\0"s);
  EXPECT_EQ(Text(reader.Annotations(), AnnotationArtist), "Band\0"s);
  EXPECT_EQ(Text(reader.Annotations(), AnnotationCopyright), "2026\0"s);
  // ffmpeg counts the pad byte of the odd-sized comment in its length.
  EXPECT_EQ(Text(reader.Annotations(), AnnotationComment), "Notes\0\0"s);
}

struct WrittenAiff {
  int compression;
  const char* formType;
  const char* aifcType;
  int bits;
  const char* ffprobeCodec;
};
const WrittenAiff kWrittenAiff[] = {
    {CompressionPcm8, "AIFF", "", 8, "pcm_s8"},         {CompressionPcm16, "AIFF", "", 16, "pcm_s16be"},
    {CompressionPcm24, "AIFF", "", 24, "pcm_s24be"},    {CompressionPcm32, "AIFF", "", 32, "pcm_s32be"},
    {CompressionFloat32, "AIFC", "fl32", 32, "pcm_f32be"}, {CompressionMuLaw, "AIFC", "ulaw", 8, "pcm_mulaw"},
    {CompressionALaw, "AIFC", "alaw", 8, "pcm_alaw"},
};

TEST_F(AiffToolsTest, EveryWrittenEncodingReadsBackAndTheToolsAcceptIt) {
  AnnotationList annotations;
  annotations.SetByKind(AnnotationName, reinterpret_cast<const std::uint8_t*>("Tone\0"), 5);
  for (const WrittenAiff& e : kWrittenAiff) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << "compression " << e.compression << ", " << channels << " channels");
      const int rate = 22050, frames = 2205 + 1;  // an odd count exercises the pad byte
      const std::string path = dir / "out.aif", raw = dir / "out.f32";
      const std::vector<float> tones = Tones(frames, channels);
      {
        std::ofstream file(path, std::ios::binary);
        AiffWrite writer(file, frames, channels, rate, e.compression, annotations);
        EXPECT_EQ(writer.PushSamples(tones.data(), int(tones.size())), int(tones.size()));
      }
      const std::string bytes = ReadText(path);
      const bool aifc = std::string(e.formType) == "AIFC";
      const std::int64_t dataSize = std::int64_t(frames) * channels * e.bits / 8;
      const std::string expectedHeader =
          "FORM" + Be32(std::uint32_t(bytes.size() - 8)) + e.formType + (aifc ? kFver : "") + "COMM" +
          Be32(aifc ? 22 : 18) + Be16(channels) + Be32(frames) + Be16(e.bits) + Extended(rate) + e.aifcType +
          IffChunk("NAME", "Tone") + "SSND" + Be32(std::uint32_t(dataSize + 8)) + Be32(0) + Be32(0);
      EXPECT_EQ(bytes.substr(0, expectedHeader.size()), expectedHeader);
      EXPECT_EQ(std::int64_t(bytes.size()), std::int64_t(expectedHeader.size()) + dataSize + (dataSize & 1));

      const DecodedFile d = DecodePath(path);
      ASSERT_EQ(d.error, "");
      EXPECT_EQ(d.compression, e.compression);
      EXPECT_EQ(d.rate, rate);
      ASSERT_EQ(d.samples.size(), tones.size());
      const double step = e.compression == CompressionMuLaw || e.compression == CompressionALaw ? 0.04
                          : e.compression == CompressionFloat32                                 ? 0
                                                                                                : std::ldexp(1.0, 1 - e.bits);
      for (std::size_t i = 0; i < tones.size(); ++i) ASSERT_NEAR(d.samples[i], tones[i], step) << i;

      if (!aifc || e.compression == CompressionFloat32) {  // sox knows no G.711 AIFC
        EXPECT_EQ(Capture("soxi -r " + path), std::to_string(rate));
        EXPECT_EQ(Capture("soxi -c " + path), std::to_string(channels));
        EXPECT_EQ(Capture("soxi -b " + path), std::to_string(e.bits));
        EXPECT_EQ(Capture("soxi -s " + path), std::to_string(frames));
        ASSERT_TRUE(RunQuietly("sox -V1 -D " + path + " -t f32 " + raw));
        ExpectSameSamples(d.samples, ReadFloats(raw), e.bits == 32 ? kSox24BitRounding : 0);
      }
      if (HaveFfmpeg()) {
        EXPECT_EQ(Capture("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,duration_ts "
                          "-show_entries format_tags=title -of default=nw=1 " + path),
                  "codec_name=" + std::string(e.ffprobeCodec) + "\nsample_rate=22050\nchannels=" +
                      std::to_string(channels) + "\nduration_ts=" + std::to_string(frames) + "\nTAG:title=Tone");
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Hand-made files

TEST(AiffReadTest, PlainStereoFileAndItsCounts) {
  const std::string samples = Be16(0x4000) + Be16(0xC000) + Be16(0x2000) + Be16(0);
  std::istringstream in(Form("AIFF", Comm(2, 2, 16, Extended(44100)) + Ssnd(samples)));
  AiffRead reader(in, std::int64_t(in.str().size()));
  EXPECT_EQ(reader.CurrentSamplingRate(), 44100);
  EXPECT_EQ(reader.CurrentChannels(), 2);
  EXPECT_EQ(reader.Compression(), CompressionPcm16);
  EXPECT_EQ(reader.SampleResolution(), 16);
  EXPECT_EQ(reader.FloatByteCount(), 2 * 2 * 4);
  EXPECT_EQ(PullAll(reader), (std::vector<float>{0.5f, -0.5f, 0.25f, 0.0f}));
  ASSERT_TRUE(reader.SeekToSample(2));
  float two[4];
  EXPECT_EQ(reader.PullSamples(two, 4), 2);
  EXPECT_EQ(two[0], 0.25f);
}

TEST(AiffReadTest, ChunkOrderOffsetsAndFrameCounts) {
  const std::string samples = "\x40\xC0\x20\x10"s;
  // COMM and the annotations behind the audio are found; unknown chunks are skipped.
  Opened o = OpenAiff(Form("AIFF", IffChunk("APPL", "odd") + Ssnd(samples) + IffChunk("NAME", "Title") +
                                       Comm(1, 4, 8, Extended(8000))));
  EXPECT_EQ(o.error, "");
  EXPECT_EQ(o.samples, (std::vector<float>{0.5f, -0.5f, 0.25f, 0.125f}));
  EXPECT_EQ(Text(o.annotations, AnnotationName), "Title\0"s);
  // The SSND offset moves the first sample frame.
  o = OpenAiff(Form("AIFF", Comm(1, 2, 8, Extended(8000)) + Ssnd("xy" + samples.substr(0, 2), 2)));
  EXPECT_EQ(o.samples, (std::vector<float>{0.5f, -0.5f}));
  // ... and the chunks behind such an SSND are still found where they are.
  o = OpenAiff(Form("AIFF", Ssnd("NAME" + samples.substr(0, 2), 4) + Comm(1, 2, 8, Extended(8000))));
  EXPECT_EQ(o.error, "");
  EXPECT_EQ(o.samples, (std::vector<float>{0.5f, -0.5f}));
  // COMM frames bound the audio; a short SSND (a truncated file) bounds it too.
  EXPECT_EQ(OpenAiff(Form("AIFF", Comm(1, 2, 8, Extended(8000)) + Ssnd(samples))).samples.size(), 2u);
  const std::string truncated = Form("AIFF", Comm(2, 100, 16, Extended(8000)) + Ssnd(std::string(400, '\x01')));
  EXPECT_EQ(OpenAiff(truncated.substr(0, truncated.size() - 395)).samples.size(), 2u);
  // A rate with a fraction keeps its integer part; 12-bit samples scale as 16-bit ones.
  o = OpenAiff(Form("AIFF", Comm(1, 1, 12, Extended(22050.5)) + Ssnd(Be16(0x4000))));
  EXPECT_EQ(o.rate, 22050);
  EXPECT_EQ(o.samples, std::vector<float>{0.5f});
}

TEST(AiffReadTest, AifcEncodings) {
  auto aifc = [](const std::string& type, int bits, const std::string& samples) {
    return OpenAiff(Form("AIFC", kFver + Comm(1, 1, bits, Extended(8000), type + "\0\0"s) + Ssnd(samples)));
  };
  EXPECT_EQ(aifc("NONE", 16, Be16(0x4000)).samples, std::vector<float>{0.5f});
  EXPECT_EQ(aifc("twos", 16, Be16(0x4000)).samples, std::vector<float>{0.5f});
  EXPECT_EQ(aifc("sowt", 16, "\x00\x40"s).samples, std::vector<float>{0.5f});
  EXPECT_EQ(aifc("sowt", 24, "\x00\x00\x40"s).samples, std::vector<float>{0.5f});
  EXPECT_EQ(aifc("fl32", 32, "\x3F\x00\x00\x00"s).samples, std::vector<float>{0.5f});
  EXPECT_EQ(aifc("ulaw", 16, "\xFF"s).compression, CompressionMuLaw);
  EXPECT_EQ(aifc("alaw", 8, "\xD5"s).compression, CompressionALaw);
  EXPECT_EQ(aifc("ima4", 16, std::string(34, '\0')).error, "");
  EXPECT_EQ(aifc("ima4", 16, std::string(34, '\0')).compression, CompressionAppleAdpcm);
  EXPECT_EQ(aifc("fl64", 64, "\xBF\xE0\0\0\0\0\0\0"s).samples, std::vector<float>{-0.5f});
  EXPECT_EQ(aifc("FL64", 64, "\x40\x00\0\0\0\0\0\0"s).samples, std::vector<float>{1.0f});  // 2.0, clamped
  EXPECT_EQ(aifc("fl64", 64, std::string(8, '\0')).compression, CompressionFloat32);
  EXPECT_EQ(aifc("in24", 24, "\0\0\0"s).error, "Unsupported AIFF-C compression type in24");
  EXPECT_EQ(aifc("\x01xyz", 16, "").error, "Unsupported AIFF-C compression type ?xyz");
  EXPECT_EQ(OpenAiff(Form("AIFC", IffChunk("FVER", Be32(0x12345678)) + Comm(1, 1, 8, Extended(8000), "NONE") +
                                      Ssnd("\x01")))
                .error,
            "Unrecognized AIFC file format");
  EXPECT_EQ(OpenAiff(Form("AIFF", Comm(1, 1, 40, Extended(8000)) + Ssnd("12345"))).error,
            "Unsupported AIFF-C compression type NONE");
}

std::string ExtendedBytes(std::uint16_t exponent, std::uint32_t high) { return Be16(exponent) + Be32(high) + Be32(0); }

TEST(AiffReadTest, MalformedFilesEndInASoundError) {
  const std::string ssnd = Ssnd(std::string(16, '\x01'));
  const std::string good = Form("AIFF", Comm(1, 16, 8, Extended(8000)) + ssnd);
  ASSERT_EQ(OpenAiff(good).error, "");
  // Truncated anywhere in the header.
  for (std::size_t n : {0, 4, 11, 12, 20, 30, 38, 46})
    EXPECT_NE(OpenAiff(good.substr(0, n)).error, "") << n;
  EXPECT_EQ(OpenAiff(good.substr(0, 12)).error, "COMM chunk not found");
  EXPECT_EQ(OpenAiff("RIFF" + good.substr(4)).error, "Unexpected chunk in AIFF file");
  EXPECT_EQ(OpenAiff(Form("8SVX", "")).error, "Unexpected chunk in AIFF file");
  EXPECT_EQ(OpenAiff(Form("AIFF", ssnd)).error, "COMM chunk not found");
  EXPECT_EQ(OpenAiff(Form("AIFF", Comm(1, 16, 8, Extended(8000)))).error, "No audio data in AIFF file");
  EXPECT_EQ(OpenAiff(Form("AIFF", IffChunk("COMM", "short") + ssnd)).error, "COMM chunk is too short");
  // Chunk sizes beyond the file.
  EXPECT_EQ(OpenAiff(Form("AIFF", "COMM" + Be32(0xFFFFFFF0) + Comm(1, 16, 8, Extended(8000)) + ssnd)).error,
            "Corrupted chunk size in AIFF file");
  EXPECT_EQ(OpenAiff(Form("AIFF", "NAME" + Be32(0x7FFFFFFF) + "x")).error, "Corrupted chunk size in AIFF file");
  EXPECT_EQ(OpenAiff(Form("AIFF", Comm(1, 16, 8, Extended(8000)) + "SSND" + Be32(4) + Be32(0))).error,
            "Corrupted SSND chunk in AIFF file");
  // An SSND longer than the file gives what is there.
  EXPECT_EQ(OpenAiff(Form("AIFF", Comm(1, 16, 8, Extended(8000)) + "SSND" + Be32(0xFFFFFFF0) + Be32(0) + Be32(0) +
                                      "abc"))
                .samples.size(),
            3u);
  // Impossible layouts.
  EXPECT_EQ(OpenAiff(Form("AIFF", Comm(0, 16, 8, Extended(8000)) + ssnd)).error, "Unsupported number of channels: 0");
  EXPECT_EQ(OpenAiff(Form("AIFF", Comm(65535, 16, 8, Extended(8000)) + ssnd)).error,
            "Unsupported number of channels: 65535");
  EXPECT_EQ(OpenAiff(Form("AIFF", Comm(1, 16, 0, Extended(8000)) + ssnd)).error,
            "Unsupported AIFF-C compression type NONE");
  for (const std::string& rate : {Extended(0), Extended(-8000), Extended(0.5), Extended(1e12), ExtendedBytes(0x7FFF, 0),
                                  ExtendedBytes(0x7FFF, 0xC0000000), ExtendedBytes(0x7FFE, 0x80000000),
                                  ExtendedBytes(0xFFFF, 0xFFFFFFFF), ExtendedBytes(0x401E, 0xFFFFFFFF)})
    EXPECT_EQ(OpenAiff(Form("AIFF", Comm(1, 16, 8, rate) + ssnd)).error, "Unsupported sampling rate in AIFF file");
  // The largest rate an int holds still reads (the decoder judges whether it is usable).
  EXPECT_EQ(OpenAiff(Form("AIFF", Comm(1, 16, 8, ExtendedBytes(0x401D, 0xFFFFFFFE)) + ssnd)).rate, 2147483647);
  // Found by fuzzing: a COMM chunk shorter than 18 bytes behind the SSND chunk is refused, and
  // then never parsed.
  EXPECT_EQ(OpenAiff(BytesFromHex("464f524d000001504149464353534e440000010000180000ffff5140434f4d4d0000000890")).error,
            "COMM chunk not found");
  // Deep nesting, and a chunk inside a non-container.
  std::string nested = Comm(1, 16, 8, Extended(8000)) + ssnd;
  for (int i = 0; i < 6; ++i) nested = Form("AIFF", nested);
  EXPECT_EQ(OpenAiff(nested).error, "AIFF chunks nested too deeply");
}

TEST(AiffReadTest, EveryTruncationAndDamagedHeaderByteIsReported) {
  AnnotationList list;
  list.SetByKind(AnnotationName, reinterpret_cast<const std::uint8_t*>("Name"), 4);
  for (int compression : {CompressionPcm16, CompressionMuLaw}) {
    std::ostringstream out;
    {
      AiffWrite writer(out, 21, 2, 8000, compression, list);
      const std::vector<float> tones = Tones(21, 2);
      writer.PushSamples(tones.data(), int(tones.size()));
    }
    ExpectDamageIsReported(out.str(), ".aif", std::size_t(out.str().size() - 21 * 2 * 2));
  }
}

TEST(AiffReadTest, ExtendedRatesBothWays) {
  EXPECT_EQ(Extended(44100), ExtendedBytes(0x400E, 0xAC440000));
  EXPECT_EQ(Extended(0), std::string(10, '\0'));
  for (int rate : {1, 8000, 11025, 22050, 44100, 48000, 96000, 2147483647}) {
    const std::string bytes = Extended(rate);
    EXPECT_EQ(RateFromExtended(reinterpret_cast<const std::uint8_t*>(bytes.data())), rate);
  }
}

// ---------------------------------------------------------------------------------------------
// Writer

TEST(AiffWriteTest, FiveFramesOf8BitMonoGetAPadByte) {
  std::ostringstream out;
  {
    AiffWrite writer(out, 5, 1, 8000, CompressionPcm8, AnnotationList());
    const float two[2] = {0.5f, -0.25f};
    writer.PushSamples(two, 2);
  }
  const std::string expected = Form("AIFF", Comm(1, 5, 8, Extended(8000)) + "SSND" + Be32(13) + Be32(0) + Be32(0) +
                                                "\x40\xE0\0\0\0\0"s);
  EXPECT_EQ(out.str(), expected);
}

TEST(AiffWriteTest, AnnotationsAreWrittenAsChunksAndReadBack) {
  AnnotationList list;
  auto set = [&](int kind, const std::string& text) {
    list.SetByKind(kind, reinterpret_cast<const std::uint8_t*>(text.data()), std::int32_t(text.size()));
  };
  set(AnnotationName, "Hello\0"s);  // 5 characters and the zero the readers add
  set(AnnotationArtist, "Band");
  set(AnnotationCopyright, "2026\0\0"s);
  set(AnnotationComment, "A note");
  set(AnnotationGenre, "Jazz");  // AIFF has no chunk for it
  list.SetById(FileFormatWave, FourCC("ISFT"), reinterpret_cast<const std::uint8_t*>("tool"), 4);
  list.SetById(FileFormatWave, FourCC("SSND"), reinterpret_cast<const std::uint8_t*>("evil"), 4);  // never written
  std::ostringstream out;
  { AiffWrite writer(out, 1, 1, 8000, CompressionPcm16, list); }
  const std::string expected =
      Form("AIFF", Comm(1, 1, 16, Extended(8000)) + "NAME" + Be32(6) + "Hello " + IffChunk("AUTH", "Band") +
                       IffChunk("(c) ", "2026") + IffChunk("ANNO", "A note") + IffChunk("ISFT", "tool") +
                       Ssnd("\0\0"s));
  EXPECT_EQ(out.str(), expected);

  const Opened o = OpenAiff(out.str());
  ASSERT_EQ(o.error, "");
  EXPECT_EQ(Text(o.annotations, AnnotationName), "Hello \0"s);
  EXPECT_EQ(Text(o.annotations, AnnotationArtist), "Band\0"s);
  EXPECT_EQ(Text(o.annotations, AnnotationCopyright), "2026\0"s);
  EXPECT_EQ(Text(o.annotations, AnnotationComment), "A note\0"s);
  EXPECT_EQ(o.samples, std::vector<float>{0.0f});
}

TEST(AiffWriteTest, RefusedLayoutsWriteNothing) {
  std::ostringstream out;
  for (int compression : {0, 7, 8, 21})
    EXPECT_THROW(AiffWrite(out, 10, 1, 8000, compression, AnnotationList()), SoundError) << compression;
  EXPECT_THROW(AiffWrite(out, 10, 0, 8000, CompressionPcm16, AnnotationList()), SoundError);
  EXPECT_THROW(AiffWrite(out, 10, 1, -5, CompressionPcm16, AnnotationList()), SoundError);
  EXPECT_THROW(AiffWrite(out, std::int64_t(1) << 31, 2, 8000, CompressionPcm16, AnnotationList()), SoundError);
  EXPECT_EQ(out.str(), "");
}

TEST(AiffWriteTest, OddSized24BitDataAndSeeks) {
  std::ostringstream out;
  {
    AiffWrite writer(out, 3, 1, 8000, CompressionPcm24, AnnotationList());
    const float samples[3] = {0.5f, 0.5f, 0.25f};
    EXPECT_EQ(writer.PushSamples(samples, 2), 2);
    EXPECT_TRUE(writer.SeekToSample(0));
    EXPECT_EQ(writer.PushSamples(samples + 2, 1), 1);
    EXPECT_FALSE(writer.SeekToSample(4));
  }
  const Opened o = OpenAiff(out.str());
  EXPECT_EQ(out.str().size() % 2, 0u);
  EXPECT_EQ(o.samples, (std::vector<float>{0.25f, 0.5f, 0.0f}));
}

}  // namespace
