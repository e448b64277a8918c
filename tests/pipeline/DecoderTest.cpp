// The file decoder: sox's files decode to sox's own floats, positions seek, the rate bounds and
// error texts, damaged files, and a 2-hour file whose float size passes 2^31 bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "pipeline/AudioDecoder.h"
#include "tests/pipeline/PipelineTestSupport.h"

namespace {

using namespace pipeline_test;

class DecoderSoxTest : public testing::Test {
protected:
  void SetUp() override {
    if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  }
  TempDir dir;
};

TEST_F(DecoderSoxTest, StereoFileDecodesToSoxFloatsAndKnowsItsLayout) {
  const std::string wav = dir / "in.wav", raw = dir / "in.f32";
  ASSERT_TRUE(RunQuietly("sox -V1 -D -n -r 22050 -c 2 -b 24 " + wav + " synth 0.5 whitenoise sine 300"));
  ASSERT_TRUE(RunQuietly("sox -V1 -D " + wav + " -t f32 " + raw));
  OpenedFile file(wav);
  ASSERT_TRUE(file.opened);
  CAP_AudioDecoder& d = *file.decoder;
  ASSERT_EQ(d.errorText, "");
  EXPECT_EQ(d.sampleRate, 22050);
  EXPECT_EQ(d.channels, 2);
  EXPECT_EQ(d.resolution, 24);
  EXPECT_EQ(d.compression, CompressionPcm24);
  EXPECT_EQ(d.fileFormat, FileFormatWave);
  EXPECT_EQ(d.TotalFrames(), 11025);
  EXPECT_DOUBLE_EQ(d.duration, 0.5);
  const std::vector<float> all = ReadAll(d, 1000);
  EXPECT_EQ(all, ReadFloats(raw));
  EXPECT_TRUE(d.endOfData);
  EXPECT_EQ(d.readPosition, 11025);
  EXPECT_EQ(d.ReadFloatAtCursor(nullptr, 10), 0);

  // A read at another position seeks there; the frames are the same as read in sequence.
  std::vector<float> piece(2 * 100);
  ASSERT_EQ(d.ReadFloat(piece.data(), 100, 5000), 100);
  EXPECT_FALSE(d.endOfData);
  EXPECT_TRUE(std::equal(piece.begin(), piece.end(), all.begin() + 2 * 5000));
  EXPECT_EQ(d.readPosition, 5100);
  ASSERT_EQ(d.ReadFloat(piece.data(), 100, 11000), 25);  // the end cuts the read
  EXPECT_TRUE(d.endOfData);
  EXPECT_TRUE(std::equal(piece.begin(), piece.begin() + 50, all.end() - 50));
}

TEST_F(DecoderSoxTest, RatesOutsideTheBoundsAreRefused) {
  // Above 96,000 Hz files are converted (FitToEditorTest); beyond what any recording uses they
  // are refused.
  for (const char* rate : {"7999", "1000000"}) {
    const std::string wav = dir / (std::string(rate) + ".wav");
    ASSERT_TRUE(RunQuietly(std::string("sox -V1 -D -n -r ") + rate + " -b 16 " + wav + " synth 0.01 sine 100"));
    OpenedFile file(wav);
    EXPECT_EQ(file.decoder->errorText, "Sample rate out of bounds") << rate;
    float frame[2];
    EXPECT_EQ(file.decoder->ReadFloat(frame, 1, 0), 0);
  }
  for (const char* rate : {"8000", "96000"}) {
    const std::string wav = dir / (std::string(rate) + ".wav");
    ASSERT_TRUE(RunQuietly(std::string("sox -V1 -D -n -r ") + rate + " -b 16 " + wav + " synth 0.01 sine 100"));
    OpenedFile file(wav);
    EXPECT_EQ(file.decoder->errorText, "") << rate;
  }
}

TEST(Decoder, UnknownContentCouldNotBeDecoded) {
  MemoryFile text("just some words, not audio at all", ".txt");
  EXPECT_EQ(text.decoder.errorText, "Could not decode audio");
  // WAVE content opens whatever the name: the first bytes say what it is.
  MemoryFile renamed(WaveBytes(std::vector<float>(100, 0.25f), 1, 8000), ".dat");
  EXPECT_EQ(renamed.decoder.errorText, "");
  EXPECT_EQ(renamed.decoder.fileFormat, FileFormatWave);
  MemoryFile empty("", ".wav");
  EXPECT_EQ(empty.decoder.errorText, "Could not decode audio");
  // A recognised format whose reader has not landed: the library's own message.
  MemoryFile aiff("FORM" + Le32(0x20000000) + "AIFFCOMM", ".aiff");
  EXPECT_NE(aiff.decoder.errorText, "");
  EXPECT_NE(aiff.decoder.errorText, "Could not decode audio");
  // An AU reader parses its header at the first rate query: an encoding it lacks (9, nested)
  // ends in the library's message there too, not in an escaping exception.
  const std::string nested = std::string(".snd\0\0\0\x18\0\0\0\x08\0\0\0\x09\0\0\x1F\x40\0\0\0\x01", 24) + "12345678";
  MemoryFile au(nested, ".au");
  EXPECT_EQ(au.decoder.errorText, "Unsupported AU format: 9");
  EXPECT_EQ(au.decoder.Reader(), nullptr);
}

TEST(Decoder, DamagedFilesEndInAnErrorTextAndNeverInACrash) {
  const std::string fmt = FmtPayload(1, 1, 8000, 16);
  const std::string samples(200, '\x10');
  const std::string good = Riff(Chunk("fmt ", fmt) + Chunk("data", samples));
  ASSERT_EQ(MemoryFile(good).decoder.errorText, "");

  const std::string damaged[] = {
      good.substr(0, 20),                                                      // truncated in the fmt chunk
      good.substr(0, 36),                                                      // fmt without data
      Riff(Chunk("fmt ", fmt.substr(0, 13)) + Chunk("data", samples)),         // an odd, short fmt chunk
      Riff(Chunk("fmt ", FmtPayload(1, 0, 8000, 16)) + Chunk("data", samples)),     // zero channels
      Riff(Chunk("fmt ", FmtPayload(1, 1, 0, 16)) + Chunk("data", samples)),        // zero rate
      Riff(Chunk("fmt ", FmtPayload(1, 1, 1000000000, 16)) + Chunk("data", samples)),  // absurd rate
      Riff(Chunk("fmt ", FmtPayload(1, 1, 8000, 0)) + Chunk("data", samples)),      // zero bits
      Riff(Chunk("fmt ", FmtPayload(0x55, 1, 8000, 16)) + Chunk("data", samples)),  // MPEG not yet read
      Riff("fmt " + Le32(0x7FFFFFF0) + fmt + Chunk("data", samples)),          // a chunk far beyond the file
  };
  for (const std::string& bytes : damaged) {
    MemoryFile file(bytes);
    std::vector<float> out(4096);
    while (file.decoder.errorText.empty() && file.decoder.ReadFloatAtCursor(out.data(), 2048) > 0) {
    }
    EXPECT_NE(file.decoder.errorText, "") << testing::PrintToString(bytes);
  }

  // Cut anywhere: an error text, or the frames that are there and nothing beyond them.
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    MemoryFile file(good.substr(0, cut));
    if (!file.decoder.errorText.empty()) continue;
    const std::vector<float> all = ReadAll(file.decoder);
    EXPECT_LE(all.size(), (cut - 44) / 2) << cut;
  }
}

// Writes a sparse 2-hour 44,100 Hz stereo 16-bit WAVE: 1.27 GB of data, 2.54 GB of floats.
TEST(Decoder, ATwoHourFileReportsItsTrueLength) {
  TempDir dir;
  const std::string path = dir / "long.wav";
  const std::int64_t frames = 2LL * 3600 * 44100;
  const std::int64_t dataBytes = frames * 4;
  {
    std::ofstream out(path, std::ios::binary);
    out << "RIFF" << Le32(std::uint32_t(dataBytes + 36)) << "WAVE" << Chunk("fmt ", FmtPayload(1, 2, 44100, 16))
        << "data" << Le32(std::uint32_t(dataBytes));
    out.seekp(44 + dataBytes - 4);
    out << Le16(0x4000) << Le16(0xC000);  // the last frame: 0.5, -0.5
  }
  OpenedFile file(path);
  CAP_AudioDecoder& d = *file.decoder;
  ASSERT_EQ(d.errorText, "");
  EXPECT_EQ(d.TotalFrames(), frames);
  EXPECT_DOUBLE_EQ(d.duration, 7200.0);
  float last[4] = {9, 9, 9, 9};
  ASSERT_EQ(d.ReadFloat(last, 2, int(frames - 1)), 1);
  EXPECT_EQ(last[0], 0.5f);
  EXPECT_EQ(last[1], -0.5f);
  EXPECT_EQ(last[2], 9.0f);
  EXPECT_TRUE(d.endOfData);
}

}  // namespace

namespace {
using namespace pipeline_test;

// Headerless files in the layout the user gives decode as sox decodes the same bytes.
TEST_F(DecoderSoxTest, RawLayoutsDecodeToSoxFloats) {
  const std::string wav = dir / "src.wav";
  ASSERT_TRUE(RunQuietly("sox -V1 -D -n -r 16000 -c 2 -b 24 " + wav + " synth 0.3 sine 300 sine 500 vol 0.6"));
  struct Layout { const char* soxArgs; int bits, compression; bool bigEndian, isSigned; };
  const Layout layouts[] = {{"-e signed -b 16 -L", 16, CompressionPcm16, false, true},
                            {"-e signed -b 16 -B", 16, CompressionPcm16, true, true},
                            {"-e unsigned -b 8", 8, CompressionPcm8, false, false},
                            {"-e signed -b 24 -B", 24, CompressionPcm24, true, true},
                            {"-e mu-law -b 8", 8, CompressionMuLaw, false, true}};
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.soxArgs);
    const std::string raw = dir / "x.raw", reference = dir / "x.f32";
    ASSERT_TRUE(RunQuietly(std::string("sox -V1 -D ") + wav + " -t raw " + l.soxArgs + " " + raw));
    ASSERT_TRUE(RunQuietly(std::string("sox -V1 -D -t raw -r 16000 -c 2 ") + l.soxArgs + " " + raw + " -t f32 " + reference));
    std::ifstream in(raw, std::ios::binary);
    in.seekg(0, std::ios::end);
    const std::int64_t size = in.tellg();
    in.seekg(0);
    CAP_AudioDecoder d(in, size, 2, 16000, l.bits, l.compression, l.bigEndian, l.isSigned);
    ASSERT_EQ(d.errorText, "");
    EXPECT_EQ(d.fileFormat, FileFormatRaw);
    EXPECT_EQ(d.TotalFrames(), 4800);
    EXPECT_EQ(ReadAll(d, 1000), ReadFloats(reference));
  }
  // Impossible layouts end in an error text.
  std::istringstream empty(std::string(100, '\0'));
  CAP_AudioDecoder slow(empty, 100, 1, 1000, 16, CompressionPcm16, false, true);
  EXPECT_EQ(slow.errorText, "Sample rate out of bounds");
  CAP_AudioDecoder noChannels(empty, 100, 0, 8000, 16, CompressionPcm16, false, true);
  EXPECT_NE(noChannels.errorText, "");
  CAP_AudioDecoder badBits(empty, 100, 1, 8000, 13, CompressionPcm16, false, true);
  EXPECT_NE(badBits.errorText, "");
  float f;
  EXPECT_EQ(badBits.ReadFloat(&f, 1, 0), 0);
}
}  // namespace
