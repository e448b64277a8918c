// ADPCM files: IMA and MS ADPCM WAVE files made by sox and ffmpeg, and Apple IMA4 AIFF-C files
// made by ffmpeg, decode exactly as those tools decode them; seeks land on the wanted sample;
// the block layouts hold in hand-built blocks; hostile headers and damaged or torn files end in
// a SoundError (or the audio they hold), never a crash or a read beyond the bytes.
#include <gtest/gtest.h>

#include <sstream>
#include <utility>

#include "formats/Adpcm.h"
#include "formats/Aiff.h"
#include "formats/Wave.h"
#include "tests/formats/SoxFiles.h"

namespace {

using namespace formats_test;
using namespace std::string_literals;

// ---------------------------------------------------------------------------------------------
// Hand-built files

std::string ImaFmt(int channels, int blockAlign, int samplesPerBlock, int bits = 4) {
  return Le16(0x11) + Le16(channels) + Le32(8000) + Le32(4000 * channels) + Le16(blockAlign) + Le16(bits) + Le16(2) +
         Le16(samplesPerBlock);
}

using Pairs = std::vector<std::pair<int, int>>;
const Pairs kStandardPairs = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

std::string MsFmt(int channels, int blockAlign, int samplesPerBlock, const Pairs& pairs = kStandardPairs,
                  int declaredPairs = -1) {
  std::string table;
  for (auto [first, second] : pairs) table += Le16(std::uint32_t(first)) + Le16(std::uint32_t(second));
  const int count = declaredPairs >= 0 ? declaredPairs : int(pairs.size());
  return Le16(2) + Le16(channels) + Le32(8000) + Le32(4000 * channels) + Le16(blockAlign) + Le16(4) +
         Le16(std::uint32_t(4 + table.size())) + Le16(samplesPerBlock) + Le16(count) + table;
}

std::string AdpcmWave(const std::string& fmt, const std::string& data, long factFrames = -1) {
  return Riff(Chunk("fmt ", fmt) + (factFrames >= 0 ? Chunk("fact", Le32(std::uint32_t(factFrames))) : "") +
              Chunk("data", data));
}

// One IMA block header: predictor bytes, step index, reserved byte.
std::string ImaHeader(int predictor, int index, int reserved = 0) {
  return Le16(std::uint32_t(predictor)) + std::string{char(index), char(reserved)};
}

std::string Ima4Aifc(int channels, std::uint32_t packets, const std::string& samples) {
  const std::string rate("\x40\x0B\xFA\0\0\0\0\0\0\0", 10);  // 8000 Hz
  auto chunk = [](const std::string& id, const std::string& payload) {
    return id + Be32(std::uint32_t(payload.size())) + payload + (payload.size() % 2 ? "\0"s : "");
  };
  const std::string content = chunk("FVER", Be32(0xA2805140)) +
                              chunk("COMM", Be16(channels) + Be32(packets) + Be16(4) + rate + "ima4" + "\0\0"s) +
                              chunk("SSND", Be32(0) + Be32(0) + samples);
  return "FORM" + Be32(std::uint32_t(content.size() + 4)) + "AIFC" + content;
}

struct Opened {
  std::string error;
  int channels = 0, compression = 0, resolution = 0;
  std::int64_t floatByteCount = 0;
  std::vector<float> samples;
};

Opened Open(const std::string& bytes, const std::string& extension = ".wav") {
  Opened o;
  std::istringstream in(bytes);
  try {
    auto reader = CreateReaderForFile(in, std::int64_t(bytes.size()), extension, true);
    if (!reader) {
      o.error = "no reader";
      return o;
    }
    reader->CurrentSamplingRate();
    o.channels = reader->CurrentChannels();
    o.compression = reader->Compression();
    o.resolution = reader->SampleResolution();
    o.floatByteCount = reader->FloatByteCount();
    o.samples = PullAll(*reader);
  } catch (const SoundError& error) {
    o.error = error.what();
  }
  return o;
}

std::vector<float> Channel(const std::vector<float>& samples, int channels, int c) {
  std::vector<float> one;
  for (std::size_t i = std::size_t(c); i < samples.size(); i += std::size_t(channels)) one.push_back(samples[i]);
  return one;
}

// The first `count` values of a decoding, for comparing with a tool that also delivers the
// padding of the last block.
std::vector<float> Prefix(const std::vector<float>& values, std::size_t count) {
  return std::vector<float>(values.begin(), values.begin() + std::ptrdiff_t(std::min(count, values.size())));
}

// ---------------------------------------------------------------------------------------------
// Files made by the tools

struct SoxCase {
  const char* encoding;
  int compression;
};

// sox decodes every block whole, the padding of the last one included; we stop where the fact
// chunk says the audio ends. Up to there both are the same 16-bit values divided by 32768.
TEST(AdpcmTest, SoxFilesDecodeAsSoxDecodesThem) {
  if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  TempDir dir;
  for (const SoxCase& c : {SoxCase{"ima-adpcm", CompressionImaAdpcm}, SoxCase{"ms-adpcm", CompressionMsAdpcm}}) {
    for (int channels : {1, 2}) {
      for (int rate : {8000, 22050, 44100}) {
        SCOPED_TRACE(std::string(c.encoding) + " channels " + std::to_string(channels) + " rate " + std::to_string(rate));
        const std::string source = dir / "source.wav", encoded = dir / "encoded.wav", raw = dir / "sox.f32";
        // A sweep and noise reach the clamps and every step size.
        const std::string synth = channels == 1 ? "synth 0.7 sine 100-6000" : "synth 0.7 sine 100-6000 whitenoise";
        ASSERT_TRUE(RunQuietly("sox -V1 -D -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) +
                               " -b 16 " + source + " " + synth + " vol 0.9"));
        ASSERT_TRUE(RunQuietly("sox -V1 -D " + source + " -e " + c.encoding + " " + encoded));
        ASSERT_TRUE(RunQuietly("sox -V1 -D " + encoded + " -t f32 " + raw));
        const DecodedFile ours = DecodePath(encoded);
        ASSERT_EQ(ours.error, "");
        EXPECT_EQ(ours.compression, c.compression);
        EXPECT_EQ(ours.resolution, 4);
        EXPECT_EQ(ours.channels, channels);
        EXPECT_EQ(ours.rate, rate);
        const std::size_t frames = std::size_t(std::lround(0.7 * rate));
        ASSERT_EQ(ours.samples.size(), frames * std::size_t(channels));
        EXPECT_EQ(ours.floatByteCount, std::int64_t(ours.samples.size()) * 4);
        const std::vector<float> sox = ReadFloats(raw);
        ASSERT_GE(sox.size(), ours.samples.size());
        ExpectSameSamples(ours.samples, Prefix(sox, ours.samples.size()), 0);
      }
    }
  }
}

struct FfmpegCase {
  const char* codec;
  const char* extension;
  int compression;
  const char* decoder;  // the reference decoding
};

// ffmpeg chooses other block sizes than sox and is the only one here that writes Apple IMA4.
// Its own IMA ADPCM WAVE decoder computes the step difference exactly rather than by the
// standard's shifted terms, so it may differ by a few units: sox is the reference there.
TEST(AdpcmTest, FfmpegFilesDecodeAsTheToolsDecodeThem) {
  if (!HaveFfmpeg() || !HaveSox()) GTEST_SKIP() << "ffmpeg or sox is not installed";
  TempDir dir;
  const char* sox = "sox -V1 -D IN -t f32 OUT";
  const char* ffmpeg = "ffmpeg -v error -y -i IN -f f32le -c:a pcm_f32le OUT";
  for (const FfmpegCase& c : {FfmpegCase{"adpcm_ima_wav", ".wav", CompressionImaAdpcm, sox},
                              FfmpegCase{"adpcm_ms", ".wav", CompressionMsAdpcm, sox},
                              FfmpegCase{"adpcm_ima_qt", ".aiff", CompressionAppleAdpcm, ffmpeg}}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(std::string(c.codec) + " channels " + std::to_string(channels));
      const std::string encoded = dir / ("encoded"s + c.extension), raw = dir / "ffmpeg.f32";
      ASSERT_TRUE(RunQuietly("ffmpeg -v error -y -f lavfi -i 'sine=f=440:d=0.4:r=16000,volume=3' -f lavfi -i "
                             "anoisesrc=d=0.4:r=16000:a=0.5 -filter_complex amix=inputs=2 -ac " +
                             std::to_string(channels) + " -c:a " + c.codec + " " + encoded));
      std::string decode = c.decoder;
      decode.replace(decode.find("IN"), 2, encoded);
      decode.replace(decode.find("OUT"), 3, raw);
      ASSERT_TRUE(RunQuietly(decode));
      const DecodedFile ours = DecodePath(encoded);
      ASSERT_EQ(ours.error, "");
      EXPECT_EQ(ours.compression, c.compression);
      EXPECT_EQ(ours.channels, channels);
      const std::vector<float> reference = ReadFloats(raw);
      ASSERT_GE(ours.samples.size(), std::size_t(0.39 * 16000 * channels));
      EXPECT_EQ(ours.floatByteCount, std::int64_t(ours.samples.size()) * 4);
      ASSERT_GE(reference.size(), ours.samples.size());
      ExpectSameSamples(ours.samples, Prefix(reference, ours.samples.size()), 0);
    }
  }
}

// libsndfile counts the frames of its stereo fact chunks per channel: the count falls in the
// middle of the data, and every block holds real audio, which sox, ffmpeg and libsndfile decode.
TEST(AdpcmTest, LibsndfileFilesDecodeAllTheirAudio) {
  if (!HaveSox() || !RunQuietly("command -v sndfile-convert")) GTEST_SKIP() << "sox or sndfile-convert is not installed";
  TempDir dir;
  for (const SoxCase& c : {SoxCase{"-ima-adpcm", CompressionImaAdpcm}, SoxCase{"-ms-adpcm", CompressionMsAdpcm}}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(std::string(c.encoding) + " channels " + std::to_string(channels));
      const std::string source = dir / "source.wav", encoded = dir / "encoded.wav", raw = dir / "sox.f32";
      ASSERT_TRUE(RunQuietly("sox -V1 -D -n -r 44100 -c " + std::to_string(channels) + " -b 16 " + source +
                             " synth 0.7 sine 100-6000 sine 300 vol 0.9"));
      ASSERT_TRUE(RunQuietly("sndfile-convert " + std::string(c.encoding) + " " + source + " " + encoded));
      ASSERT_TRUE(RunQuietly("sox -V1 -D " + encoded + " -t f32 " + raw));
      const DecodedFile ours = DecodePath(encoded);
      ASSERT_EQ(ours.error, "");
      EXPECT_EQ(ours.compression, c.compression);
      const std::vector<float> sox = ReadFloats(raw);
      // All of the source's 30,870 frames, and at most the padding of the last block fewer than sox.
      EXPECT_GE(ours.samples.size(), std::size_t(30870 * channels));
      ASSERT_LE(ours.samples.size(), sox.size());
      EXPECT_LT(sox.size() - ours.samples.size(), std::size_t(2048 * channels));
      EXPECT_EQ(ours.floatByteCount, std::int64_t(ours.samples.size()) * 4);
      ExpectSameSamples(ours.samples, Prefix(sox, ours.samples.size()), 0);
    }
  }
}

// A seek lands on the start of its block; the frames before the wanted one are dropped there,
// so the pull after a seek starts at exactly the wanted sample. An IMA4 packet header keeps
// only the top 9 bits of the running predictor, so after a seek its samples may be off by less
// than 128 units until the predictor meets a header it disagrees with.
TEST(AdpcmTest, SeeksDeliverFromTheWantedSample) {
  if (!HaveSox() || !HaveFfmpeg()) GTEST_SKIP() << "sox or ffmpeg is not installed";
  TempDir dir;
  const std::string source = dir / "source.wav";
  ASSERT_TRUE(RunQuietly("sox -V1 -D -n -r 11025 -c 2 -b 16 " + source + " synth 0.5 sine 300 sine 500"));
  for (const char* make : {"sox -V1 -D SRC -e ima-adpcm OUT.wav", "sox -V1 -D SRC -e ms-adpcm OUT.wav",
                           "ffmpeg -v error -y -i SRC -c:a adpcm_ima_qt OUT.aiff"}) {
    std::string command = make;
    command.replace(command.find("SRC"), 3, source);
    const bool aiff = command.find(".aiff") != std::string::npos;
    const std::string encoded = dir / (aiff ? "out.aiff" : "out.wav");
    command.replace(command.find("OUT" + std::string(aiff ? ".aiff" : ".wav")), 3 + (aiff ? 5 : 4), encoded);
    SCOPED_TRACE(command);
    ASSERT_TRUE(RunQuietly(command));
    const DecodedFile whole = DecodePath(encoded);
    ASSERT_EQ(whole.error, "");

    std::ifstream in(encoded, std::ios::binary);
    auto reader = CreateReaderForFile(in, std::int64_t(std::filesystem::file_size(encoded)), aiff ? ".aiff" : ".wav", true);
    ASSERT_TRUE(reader);
    std::vector<float> piece(600);
    ASSERT_EQ(reader->PullSamples(piece.data(), 100), 100);  // a block already begun is dropped by the seek
    for (std::int64_t frame : {777, 0, 63, 64, 1000, 2040, 2041, 3333}) {
      ASSERT_TRUE(reader->SeekToSample(frame * 2));
      ASSERT_EQ(reader->PullSamples(piece.data(), int(piece.size())), int(piece.size()));
      for (std::size_t i = 0; i < piece.size(); ++i)
        ASSERT_NEAR(piece[i], whole.samples[std::size_t(frame) * 2 + i], aiff ? 128.0 / 32768 : 0)
            << "frame " << frame << " sample " << i;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Block layouts

TEST(AdpcmTest, ImaBlockHeaderPredictorIsTheFirstSample) {
  const std::string nibbles(4, '\0');
  Opened o = Open(AdpcmWave(ImaFmt(1, 8, 9), ImaHeader(0x0080, 0) + nibbles));
  ASSERT_EQ(o.error, "");
  ASSERT_EQ(o.samples.size(), 9u);
  EXPECT_EQ(o.samples[0], 128.0f / 32768);
  // Nibble 0 at step index 0 adds 7 >> 3 = 0 and keeps the index at 0.
  EXPECT_EQ(o.samples[8], 128.0f / 32768);

  o = Open(AdpcmWave(ImaFmt(1, 8, 9), ImaHeader(0x8000, 0) + nibbles));
  ASSERT_EQ(o.samples.size(), 9u);
  EXPECT_EQ(o.samples[0], -1.0f);
  EXPECT_EQ(o.compression, CompressionImaAdpcm);
  EXPECT_EQ(o.resolution, 4);
}

TEST(AdpcmTest, ImaNibblesAreLowFirstAndThePredictorClamps) {
  // Byte 0x70 from predictor 0, step index 0: low nibble 0 adds 7 >> 3 = 0, then high nibble 7
  // adds 0 + 1 + 3 + 7 = 11 (the other order would give 11 and then 13).
  Opened o = Open(AdpcmWave(ImaFmt(1, 8, 9), ImaHeader(0, 0) + "\x70\x00\x00\x00"s));
  ASSERT_EQ(o.samples.size(), 9u);
  EXPECT_EQ(o.samples[1], 0.0f);
  EXPECT_EQ(o.samples[2], 11.0f / 32768);
  // At the top step index nibble 7 overshoots and clamps at 32767, nibble 15 at -32768.
  o = Open(AdpcmWave(ImaFmt(1, 8, 9), ImaHeader(32000, 88) + "\x07\x00\x00\x00"s));
  EXPECT_EQ(o.samples[1], 32767.0f / 32768);
  o = Open(AdpcmWave(ImaFmt(1, 8, 9), ImaHeader(std::uint32_t(-32000), 88) + "\x0F\x00\x00\x00"s));
  EXPECT_EQ(o.samples[1], -1.0f);
}

TEST(AdpcmTest, StereoImaBlocksOf2041FramesAlternateGroupsOfEight) {
  // 2 x (2048 / 2) bytes per block: a header per channel, then 255 groups of 4 bytes each.
  std::string block = ImaHeader(1000, 20) + ImaHeader(std::uint32_t(-1000), 20);
  for (int g = 0; g < 255; ++g) block += std::string(4, '\x11') + std::string(4, '\x99');  // up, down
  ASSERT_EQ(block.size(), 2048u);
  const Opened o = Open(AdpcmWave(ImaFmt(2, 2048, 2041), block + block + block.substr(0, 2047)));
  ASSERT_EQ(o.error, "");
  ASSERT_EQ(o.samples.size(), 2u * 2 * 2041);  // the torn third block is not decoded
  EXPECT_EQ(o.floatByteCount, 2 * 2 * 2041 * 4);
  for (int b = 0; b < 2; ++b) {
    EXPECT_EQ(o.samples[std::size_t(b) * 4082], 1000.0f / 32768);
    EXPECT_EQ(o.samples[std::size_t(b) * 4082 + 1], -1000.0f / 32768);
  }
  const std::vector<float> left = Channel(o.samples, 2, 0), right = Channel(o.samples, 2, 1);
  for (std::size_t i = 1; i < 2041; ++i) {
    ASSERT_GT(left[i], left[i - 1]) << i;
    ASSERT_LT(right[i], right[i - 1]) << i;
  }
}

TEST(AdpcmTest, FactChunkCutsThePaddingOfTheLastBlock) {
  const std::string block = ImaHeader(0, 0) + std::string(4, '\0');
  EXPECT_EQ(Open(AdpcmWave(ImaFmt(1, 8, 9), block + block, 12)).samples.size(), 12u);
  // A fact count beyond the data, short of the last block (a count per channel), or none at
  // all: every whole block.
  EXPECT_EQ(Open(AdpcmWave(ImaFmt(1, 8, 9), block + block + block, 9)).samples.size(), 27u);
  EXPECT_EQ(Open(AdpcmWave(ImaFmt(1, 8, 9), block + block, 100)).samples.size(), 18u);
  EXPECT_EQ(Open(AdpcmWave(ImaFmt(1, 8, 9), block + block)).samples.size(), 18u);
  EXPECT_EQ(Open(AdpcmWave(ImaFmt(1, 8, 9), block + block, 12)).floatByteCount, 48);
}

TEST(AdpcmTest, ImaBlockAlignBeyondTheContentIsSkipped) {
  const std::string block = ImaHeader(500, 0) + std::string(4, '\0') + "pad!"s;
  const Opened o = Open(AdpcmWave(ImaFmt(1, 12, 9), block + block));
  ASSERT_EQ(o.error, "");
  ASSERT_EQ(o.samples.size(), 18u);
  EXPECT_EQ(o.samples[9], 500.0f / 32768);
}

TEST(AdpcmTest, AppleHeaderGivesStepIndexAndTopBitsOfThePredictor) {
  // 0x0185: step index 5 (step 12), predictor 0x0180 = 384; nibble 0 adds 12 >> 3 = 1.
  const std::string packet = "\x01\x85"s + std::string(32, '\0');
  const Opened o = Open(Ima4Aifc(1, 1, packet), ".aiff");
  ASSERT_EQ(o.error, "");
  EXPECT_EQ(o.compression, CompressionAppleAdpcm);
  EXPECT_EQ(o.resolution, 4);
  ASSERT_EQ(o.samples.size(), 64u);
  EXPECT_EQ(o.samples[0], 385.0f / 32768);
}

TEST(AdpcmTest, AppleRunningPredictorWinsWhileItAgreesWithTheHeader) {
  // The first packet climbs from 384 with nibble 1 (step index grows by -1: stays at 0, so +1
  // each: 7 >> 3 + 7 >> 2 = 1). Its last predictor, 448, has the top bits 0x0180 of the next
  // header, so the second packet goes on from 448; a third header with other top bits resets.
  const std::string climb = "\x01\x80"s + std::string(32, '\x11');
  const std::string flat = std::string(32, '\0');
  const std::string file = Ima4Aifc(1, 3, climb + "\x01\x80"s + flat + "\x10\x00"s + flat);
  const Opened o = Open(file, ".aiff");
  ASSERT_EQ(o.samples.size(), 192u);
  EXPECT_EQ(o.samples[63], 448.0f / 32768);
  EXPECT_EQ(o.samples[64], 448.0f / 32768);
  EXPECT_EQ(o.samples[128], 4096.0f / 32768);
}

TEST(AdpcmTest, StereoAppleIma4AlternatesChannelPackets) {
  const std::string packets = "\x10\x00"s + std::string(32, '\0') + "\xF0\x00"s + std::string(32, '\0');
  const Opened o = Open(Ima4Aifc(2, 1, packets + packets.substr(0, 40)), ".aiff");
  ASSERT_EQ(o.error, "");
  ASSERT_EQ(o.samples.size(), 128u);  // the torn second packet pair is not decoded
  EXPECT_EQ(o.samples[0], 4096.0f / 32768);
  EXPECT_EQ(o.samples[1], -4096.0f / 32768);
}

std::string MsHeader(int predictor, int delta, int sample1, int sample2) {
  return std::string(1, char(predictor)) + Le16(std::uint32_t(delta)) + Le16(std::uint32_t(sample1)) +
         Le16(std::uint32_t(sample2));
}

TEST(AdpcmTest, MsDeltaNeverFallsBelowSixteen) {
  // Predictor 0 (256, 0): nibble 0 keeps the sample; 230 x 16 >> 8 = 14 is raised to 16, so
  // the next nibble 1 adds 16, not 14.
  const Opened o = Open(AdpcmWave(MsFmt(1, 8, 4), MsHeader(0, 16, 0, 0) + "\x01"s));
  ASSERT_EQ(o.error, "");
  EXPECT_EQ(o.compression, CompressionMsAdpcm);
  ASSERT_EQ(o.samples.size(), 4u);
  EXPECT_EQ(o.samples[2], 0.0f);
  EXPECT_EQ(o.samples[3], 16.0f / 32768);
}

TEST(AdpcmTest, MsBlockStartsWithSample2ThenSample1AndPredicts) {
  // Predictor 1 (512, -256): 2 x sample1 - sample2, plus nibble x delta.
  const Opened o = Open(AdpcmWave(MsFmt(1, 9, 5), MsHeader(1, 100, 300, 200) + "\x0F\x00"s));
  ASSERT_EQ(o.samples.size(), 5u);
  EXPECT_EQ(o.samples[0], 200.0f / 32768);
  EXPECT_EQ(o.samples[1], 300.0f / 32768);
  EXPECT_EQ(o.samples[2], 400.0f / 32768);  // nibble 0; delta becomes 230 x 100 >> 8 = 89
  EXPECT_EQ(o.samples[3], 411.0f / 32768);  // nibble 15 is -1: 2 x 400 - 300 - 89
  EXPECT_EQ(o.samples[4], 422.0f / 32768);  // nibble 0: 2 x 411 - 400
}

TEST(AdpcmTest, StereoMsNibblesAreHighForTheLeftLowForTheRight) {
  const std::string header = "\x00\x00"s + Le16(16) + Le16(16) + Le16(0) + Le16(0) + Le16(0) + Le16(0);
  const Opened o = Open(AdpcmWave(MsFmt(2, 15, 3), header + "\x1F"s));
  ASSERT_EQ(o.error, "");
  ASSERT_EQ(o.samples.size(), 6u);
  EXPECT_EQ(o.samples[4], 16.0f / 32768);
  EXPECT_EQ(o.samples[5], -16.0f / 32768);
}

// ---------------------------------------------------------------------------------------------
// Hostile and damaged files

struct Hostile {
  const char* what;
  std::string file;
  const char* error;
};

TEST(AdpcmTest, HostileHeadersEndInAnErrorText) {
  const std::string ima = ImaHeader(0, 0) + std::string(4, '\0');
  const std::string ms = MsHeader(0, 16, 0, 0) + "\x00"s;
  const Hostile cases[] = {
      {"IMA 3 bits", AdpcmWave(ImaFmt(1, 8, 9, 3), ima), "IMA ADPCM requires 4 bits per sample, not 3"},
      {"IMA fmt of 18 bytes", AdpcmWave(ImaFmt(1, 8, 9).substr(0, 18), ima),
       "IMA ADPCM requires additional decompression data."},
      {"IMA samples per block 0", AdpcmWave(ImaFmt(1, 8, 0), ima), "Unsupported samples per block in IMA ADPCM Format: 0"},
      {"IMA samples per block 10", AdpcmWave(ImaFmt(1, 8, 10), ima), "Unsupported samples per block in IMA ADPCM Format: 10"},
      {"IMA block align 0", AdpcmWave(ImaFmt(1, 0, 9), ima), "IMA ADPCM block size does not hold its samples per block: 0"},
      {"IMA samples per block beyond the block", AdpcmWave(ImaFmt(1, 8, 65529), ima),
       "IMA ADPCM block size does not hold its samples per block: 8"},
      {"IMA 3 channels", AdpcmWave(ImaFmt(3, 24, 9), ima + ima + ima), "Unsupported number of channels in IMA ADPCM Format: 3"},
      {"IMA step index 89", AdpcmWave(ImaFmt(1, 8, 9), ImaHeader(0, 89) + std::string(4, '\0')),
       "Bad index value in IMA ADPCM Format"},
      {"IMA reserved byte", AdpcmWave(ImaFmt(1, 8, 9), ImaHeader(0, 0, 1) + std::string(4, '\0')),
       "Synchronization error in IMA ADPCM Format"},
      {"MS 8 bits", AdpcmWave(Le16(2) + ImaFmt(1, 8, 4, 8).substr(2), ms), "MSADPCM requires 4 bits per sample, not 8"},
      {"MS block align 0", AdpcmWave(MsFmt(1, 0, 4), ms), "MSADPCM block size does not hold its samples per block: 0"},
      {"MS block too small", AdpcmWave(MsFmt(1, 8, 100), ms), "MSADPCM block size does not hold its samples per block: 8"},
      {"MS samples per block 1", AdpcmWave(MsFmt(1, 8, 1), ms), "Unsupported samples per block in MSADPCM data: 1"},
      {"MS 3 channels", AdpcmWave(MsFmt(3, 24, 4), ms + ms + ms), "Error decoding MSADPCM data"},
      {"MS 300 pairs", AdpcmWave(MsFmt(1, 8, 4, kStandardPairs, 300), ms),
       "Unsupported number of MSADPCM coefficient pairs: 300"},
      {"MS pairs beyond the fmt chunk", AdpcmWave(MsFmt(1, 8, 4, kStandardPairs, 8), ms),
       "MSADPCM coefficient table is truncated"},
      {"MS no pairs", AdpcmWave(MsFmt(1, 8, 4, {}), ms), "Unsupported number of MSADPCM coefficient pairs: 0"},
      {"MS predictor beyond the pairs", AdpcmWave(MsFmt(1, 8, 4), MsHeader(7, 16, 0, 0) + "\x00"s),
       "Bad predictor index in MSADPCM data: 7"},
      {"Apple step index 89", Ima4Aifc(1, 1, "\x00\x59"s + std::string(32, '\0')),
       "Synchronization error in IMA ADPCM Format"},
      {"Apple 3 channels", Ima4Aifc(3, 1, std::string(102, '\0')), "Unsupported number of channels in IMA ADPCM Format: 3"},
  };
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.what);
    const bool aiff = c.file.compare(0, 4, "FORM") == 0;
    EXPECT_EQ(Open(c.file, aiff ? ".aiff" : ".wav").error, c.error);
  }
}

// Every truncation of a small file, and the file with each header byte set to 0x00, 0x7F or
// 0xFF in turn, opens with the audio it holds (as many samples as it announced) or ends in a
// SoundError; the sanitizer build checks that nothing reads beyond the blocks.
void ExpectDamageEndsCleanly(const std::string& file, const std::string& extension, std::size_t headerBytes) {
  auto open = [&](const std::string& bytes) {
    const Opened o = Open(bytes, extension);
    if (!o.error.empty()) return;
    EXPECT_LE(o.samples.size(), 4 * bytes.size());  // 4 bits a sample at best, headers aside
    if (o.floatByteCount > 0) {
      EXPECT_EQ(std::int64_t(o.samples.size()) * 4, o.floatByteCount);
    }
  };
  for (std::size_t n = 0; n < file.size(); ++n) open(file.substr(0, n));
  for (std::size_t at = 0; at < std::min(headerBytes, file.size()); ++at) {
    for (char value : {'\x00', '\x7F', '\xFF'}) {
      std::string damaged = file;
      damaged[at] = value;
      open(damaged);
    }
  }
}

TEST(AdpcmTest, TornAndDamagedFilesEndInAudioOrAnError) {
  if (!HaveSox() || !HaveFfmpeg()) GTEST_SKIP() << "sox or ffmpeg is not installed";
  TempDir dir;
  const std::string source = dir / "source.wav";
  ASSERT_TRUE(RunQuietly("sox -V1 -D -n -r 8000 -c 2 -b 16 " + source + " synth 0.15 sine 300 whitenoise"));
  ASSERT_TRUE(RunQuietly("sox -V1 -D " + source + " -e ima-adpcm " + (dir / "ima.wav")));
  ASSERT_TRUE(RunQuietly("sox -V1 -D " + source + " -e ms-adpcm " + (dir / "ms.wav")));
  ASSERT_TRUE(RunQuietly("ffmpeg -v error -y -i " + source + " -c:a adpcm_ima_qt " + (dir / "ima4.aiff")));
  // The headers and the first block headers.
  ExpectDamageEndsCleanly(ReadText(dir / "ima.wav"), ".wav", 70);
  ExpectDamageEndsCleanly(ReadText(dir / "ms.wav"), ".wav", 110);
  ExpectDamageEndsCleanly(ReadText(dir / "ima4.aiff"), ".aiff", 100);
}

}  // namespace
