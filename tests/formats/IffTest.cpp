// IFF 8SVX files: sox-made files (mono, and stereo with its CHAN chunk) decode as sox decodes them; hand-built files cover the two
// delta encodings, the body and header oddities the reader tolerates, and malformed chunks that
// end in a SoundError.
#include <gtest/gtest.h>

#include <sstream>

#include "formats/Iff.h"
#include "tests/formats/DecodeBytes.h"

namespace {

using namespace formats_test;

std::string IffChunk(const std::string& id, const std::string& payload) {
  return id + Be32(std::uint32_t(payload.size())) + payload + (payload.size() % 2 ? std::string(1, '\0') : "");
}
std::string Vhdr(std::uint32_t oneShot, int rate, int compression) {
  return IffChunk("VHDR", Be32(oneShot) + Be32(0) + Be32(0) + Be16(rate) + char(1) + char(compression) + Be32(0x10000));
}
std::string Form(const std::string& content) { return "FORM" + Be32(std::uint32_t(content.size() + 4)) + "8SVX" + content; }

DecodedFile Decode(const std::string& bytes) { return DecodeBytes(bytes, ".8svx"); }

TEST(IffSoxTest, SoxFilesDecodeAsSoxDecodesThem) {
  if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  TempDir dir;
  for (int channels : {1, 2}) {
    for (int rate : {8000, 22050, 44100}) {
      SCOPED_TRACE(testing::Message() << channels << " channels, " << rate << " Hz");
      const std::string wav = dir / "in.wav", svx = dir / "out.8svx", raw = dir / "sox.f32";
      const std::string synth = channels == 1 ? " synth 0.2 whitenoise" : " synth 0.2 whitenoise sine 1000";
      ASSERT_TRUE(RunQuietly("sox -V1 -D -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 " +
                             wav + synth));
      ASSERT_TRUE(RunQuietly("sox -V1 -D " + wav + " -b 8 " + svx));
      ASSERT_TRUE(RunQuietly("sox -V1 -D " + svx + " -t f32 " + raw));
      const DecodedFile d = DecodePath(svx);
      ASSERT_EQ(d.error, "");
      EXPECT_EQ(d.fileFormat, FileFormatIff8svx);
      EXPECT_EQ(d.rate, rate);
      EXPECT_EQ(d.channels, channels);
      EXPECT_EQ(d.compression, CompressionPcm8);
      EXPECT_EQ(d.resolution, 8);
      EXPECT_EQ(d.floatByteCount, std::int64_t(d.samples.size()) * 4);
      ExpectSameSamples(d.samples, ReadFloats(raw), 0);
    }
  }
}

TEST(IffReadTest, DeltaEncodingsAddTheirStepsToARunningValue) {
  // 0x10: +1 x 256 then +0; 0xF7: step index 7 (-1) then 15 (21 or 64); 0x88: two steps of
  // index 0 (-34 or -128).
  const std::string body = IffChunk("BODY", "\x10\xF7\x88");
  DecodedFile d = Decode(Form(Vhdr(6, 8000, 1) + body));
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.compression, CompressionFibonacci);
  EXPECT_EQ(d.resolution, 8);
  EXPECT_EQ(d.floatByteCount, 6 * 4);
  const int fib[] = {256, 256, 0, 21 * 256, -13 * 256, -47 * 256};
  ASSERT_EQ(d.samples.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(d.samples[i], fib[i] / 32768.0f) << i;

  d = Decode(Form(Vhdr(6, 8000, 2) + body));
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.compression, CompressionExponential);
  // 64 x 256 = 16384 from 0; then -128 x 256 twice wraps below -32768 back into range.
  const int expo[] = {256, 256, 0, 16384, -16384, std::int16_t(-16384 - 32768)};
  ASSERT_EQ(d.samples.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(d.samples[i], expo[i] / 32768.0f) << i;

  // Odd pulls split a byte without losing its second sample.
  std::istringstream in(Form(Vhdr(6, 8000, 1) + body));
  IffRead reader(in, 0);
  float one[3];
  std::vector<float> all;
  while (int n = reader.PullSamples(one, 3)) all.insert(all.end(), one, one + n);
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[3], 21 * 256 / 32768.0f);
}

TEST(IffReadTest, OddHeadersAndBodiesAreToleratedAsFarAsTheFileGoes) {
  // Text chunks and unknown chunks before the body, and a pad byte after an odd one.
  DecodedFile d = Decode(Form(IffChunk("NAME", "tone") + Vhdr(3, 11025, 0) + IffChunk("ANNO", "odd") +
                              IffChunk("XTRA", "12345") + IffChunk("BODY", "\x40\xC0\x7F")));
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.rate, 11025);
  EXPECT_EQ(d.samples, (std::vector<float>{0.5f, -0.5f, 127.0f / 128}));
  // An empty body takes the header's count of bytes from where the body starts.
  d = Decode(Form(Vhdr(2, 8000, 0) + IffChunk("BODY", "")) + "\x40\x40\x40");
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.samples.size(), 2u);
  // Neither says anything: what the file holds, up to a limit.
  d = Decode(Form(Vhdr(0, 8000, 0) + IffChunk("BODY", "")) + "\x40\x40\x40");
  EXPECT_EQ(d.samples.size(), 3u);
  // A count of zero with data in the body plays the body.
  EXPECT_EQ(Decode(Form(Vhdr(0, 8000, 0) + IffChunk("BODY", "\1\2"))).samples.size(), 2u);
}

TEST(IffReadTest, MalformedFilesEndInASoundError) {
  const std::string vhdr = Vhdr(2, 8000, 0), body = IffChunk("BODY", "\1\2");
  EXPECT_EQ(Decode(std::string("FORM\0\0\0\x04" "8SVX", 12)).error, "BODY chunk not found");
  EXPECT_EQ(Decode(Form(vhdr)).error, "BODY chunk not found");
  EXPECT_EQ(Decode(Form(body + vhdr)).error, "VHDR chunk not found before the BODY");
  EXPECT_EQ(Decode(Form(Vhdr(2, 8000, 3) + body)).error, "Unsupported IFF/8SVX compression type: 3");
  EXPECT_EQ(Decode(Form(Vhdr(2, 0, 0) + body)).error, "Unsupported sampling rate: 0");
  EXPECT_EQ(Decode(Form(IffChunk("VHDR", "short") + body)).error, "VHDR chunk is too short");
  EXPECT_EQ(Decode(Form(Vhdr(2, 8000, 1) + IffChunk("CHAN", Be32(6)) + body)).error,
            "Stereo IFF/8SVX files with delta compression are not supported");
  // Nesting is bounded as in every chunk format.
  std::string nested = vhdr + body;
  for (int i = 0; i < 6; ++i) nested = Form(nested);
  EXPECT_EQ(Decode(nested).error, "IFF chunks nested too deeply");
  std::istringstream aiff("FORMxxxxAIFF");
  EXPECT_THROW(IffRead(aiff, 12), SoundError);

  // Lengths beyond the file, and every truncation of a valid file.
  const std::string file = Form(IffChunk("AUTH", "me") + vhdr + body);
  std::string longVhdr = file;
  longVhdr[27] = char(0x70);  // in the VHDR's length
  EXPECT_EQ(Decode(longVhdr).error, "Premature end to IFF/8SVX file");
  for (std::size_t n = 12; n < file.size(); ++n) {
    const DecodedFile d = Decode(file.substr(0, n));
    EXPECT_NE(d.error, "") << n;
    EXPECT_NE(d.error, "no reader") << n;
  }
  // Each byte of the file damaged in turn: audio or an error, never more samples than bytes.
  for (std::size_t at = 0; at < file.size(); ++at) {
    for (char value : {'\x00', '\x01', '\x7F', '\xFF'}) {
      std::string damaged = file;
      damaged[at] = value;
      const DecodedFile d = Decode(damaged);
      EXPECT_LE(d.samples.size(), damaged.size()) << at;
    }
  }
}

}  // namespace
