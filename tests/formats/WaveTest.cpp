// The WAVE writer's layout, round trips of every encoding it offers, annotations, seeking and
// 64-bit sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "formats/ByteOrder.h"
#include "formats/Wave.h"
#include "tests/formats/TestSupport.h"

namespace {

using namespace formats_test;

std::string Write(int compression, int channels, int rate, const std::vector<float>& samples,
                  const AnnotationList& annotations = AnnotationList(), std::int64_t frames = -1) {
  std::ostringstream out;
  {
    WaveWrite writer(out, frames >= 0 ? frames : std::int64_t(samples.size()) / channels, channels, rate,
                     compression, annotations);
    EXPECT_EQ(writer.PushSamples(samples.data(), int(samples.size())), int(samples.size()));
  }
  return out.str();
}

std::uint32_t At32(const std::string& s, std::size_t at) { return LittleEndian32(reinterpret_cast<const std::uint8_t*>(&s[at])); }
std::uint32_t At16(const std::string& s, std::size_t at) { return LittleEndian16(reinterpret_cast<const std::uint8_t*>(&s[at])); }

struct Encoding {
  int compression;
  int bits;
  int tag;
  double step;  // the largest error one encoding step allows
};
const Encoding kEncodings[] = {
    {CompressionPcm8, 8, 1, 1 / 128.0},          {CompressionPcm16, 16, 1, 1 / 32768.0},
    {CompressionPcm24, 24, 1, 1 / 8388608.0},    {CompressionPcm32, 32, 1, 1 / 2147483648.0},
    {CompressionFloat32, 32, 3, 0.0},            {CompressionMuLaw, 8, 7, 1024 / 32768.0},
    {CompressionALaw, 8, 6, 1024 / 32768.0},
};

std::vector<float> TestSignal(int frames, int channels) {
  std::vector<float> samples(std::size_t(frames) * channels);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      samples[std::size_t(i) * channels + c] = float(0.9 * std::sin(0.01 * i * (c + 1) + c));
  return samples;
}

TEST(WaveWriteTest, HeaderLayoutForEveryEncoding) {
  for (const Encoding& e : kEncodings) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << "compression " << e.compression << " channels " << channels);
      const int frames = 101;
      const std::string file = Write(e.compression, channels, 22050, TestSignal(frames, channels));
      // Every encoding but integer PCM: the 18-byte fmt chunk and a fact chunk.
      const bool extended = e.tag != 1;
      const std::uint32_t dataSize = e.bits * frames / 8 * channels;
      const std::size_t header = extended ? 58 : 44;
      ASSERT_EQ(file.size(), header + dataSize + dataSize % 2);
      EXPECT_EQ(file.substr(0, 4), "RIFF");
      EXPECT_EQ(At32(file, 4), file.size() - 8);
      EXPECT_EQ(file.substr(8, 8), "WAVEfmt ");
      EXPECT_EQ(At32(file, 16), extended ? 18u : 16u);
      EXPECT_EQ(At16(file, 20), std::uint32_t(e.tag));
      EXPECT_EQ(At16(file, 22), std::uint32_t(channels));
      EXPECT_EQ(At32(file, 24), 22050u);
      EXPECT_EQ(At32(file, 28), std::uint32_t(channels * e.bits * 22050 / 8));
      EXPECT_EQ(At16(file, 32), std::uint32_t(channels * e.bits / 8));
      EXPECT_EQ(At16(file, 34), std::uint32_t(e.bits));
      if (extended) {
        EXPECT_EQ(At16(file, 36), 0u);
        EXPECT_EQ(file.substr(38, 4), "fact");
        EXPECT_EQ(At32(file, 42), 4u);
        EXPECT_EQ(At32(file, 46), std::uint32_t(frames));
      }
      EXPECT_EQ(file.substr(header - 8, 4), "data");
      EXPECT_EQ(At32(file, header - 4), dataSize);
      if (dataSize % 2) {
        // One zero sample: 128 unsigned, 0xFF mu-law, 0xD5 A-law.
        const char zero = e.tag == 7 ? '\xFF' : e.tag == 6 ? '\xD5' : e.bits == 8 ? '\x80' : '\0';
        EXPECT_EQ(file.back(), zero);
      }
    }
  }
}

TEST(WaveWriteTest, SmallFilesArePaddedAsDeclared) {
  // 8-bit mono, 3 frames: a fourth data byte holding a zero sample.
  const std::string eight = Write(CompressionPcm8, 1, 8000, {0.5f, 0.5f, 0.5f});
  ASSERT_EQ(eight.size(), 48u);
  EXPECT_EQ(At32(eight, 4), 40u);
  EXPECT_EQ(At32(eight, 40), 3u);
  EXPECT_EQ(std::uint8_t(eight[47]), 128);
  // 24-bit mono, 1 frame: one zero pad byte after the sample.
  const std::string twentyFour = Write(CompressionPcm24, 1, 8000, {0.5f});
  ASSERT_EQ(twentyFour.size(), 48u);
  EXPECT_EQ(At32(twentyFour, 40), 3u);
  EXPECT_EQ(twentyFour.substr(44), std::string("\0\0\x40\0", 4));
  // Nothing pushed at all: the declared data is still there, as silence.
  const std::string empty = Write(CompressionPcm16, 2, 8000, {}, AnnotationList(), 10);
  ASSERT_EQ(empty.size(), 84u);
  EXPECT_EQ(empty.substr(44), std::string(40, '\0'));
}

TEST(WaveWriteTest, RefusesSamplesBeyondTheDeclaredFrames) {
  std::ostringstream out;
  {
    WaveWrite writer(out, 3, 2, 8000, CompressionPcm16, AnnotationList());
    const std::vector<float> samples(10, 0.25f);
    EXPECT_EQ(writer.PushSamples(samples.data(), 10), 6);
    EXPECT_EQ(writer.PushSamples(samples.data(), 10), 0);
  }
  EXPECT_EQ(out.str().size(), 44u + 12u);
}

TEST(WaveWriteTest, RejectsWhatAWaveFileCannotHold) {
  std::ostringstream out;
  EXPECT_THROW(WaveWrite(out, 10, 1, 8000, 4, AnnotationList()), SoundError);
  EXPECT_THROW(WaveWrite(out, 10, 0, 8000, CompressionPcm16, AnnotationList()), SoundError);
  EXPECT_THROW(WaveWrite(out, 10, 65, 8000, CompressionPcm16, AnnotationList()), SoundError);
  EXPECT_THROW(WaveWrite(out, 10, 1, 0, CompressionPcm16, AnnotationList()), SoundError);
}

TEST(WaveWriteTest, AudioBeyondFourGigabytesIsWrittenAsRf64) {
  // 2^30 frames of 16-bit stereo: 4 GiB of data. Only the header is kept: the stream fails
  // before the completion pads the data.
  const std::int64_t frames = std::int64_t(1) << 30, dataBytes = frames * 4;
  AnnotationList tags;
  const std::string title = "Ten hours";
  tags.SetByKind(AnnotationName, reinterpret_cast<const std::uint8_t*>(title.data()), std::int32_t(title.size()));
  std::ostringstream out;
  {
    WaveWrite writer(out, frames, 2, 44100, CompressionPcm16, tags);
    EXPECT_EQ(writer.HeaderSize(), 80);
    out.setstate(std::ios::badbit);
  }
  const std::string header = out.str().substr(0, 80);
  EXPECT_EQ(header.substr(0, 4), "RF64");
  EXPECT_EQ(header.substr(4, 4), Le32(0xFFFFFFFF));
  EXPECT_EQ(header.substr(8, 8), "WAVEds64");
  EXPECT_EQ(header.substr(16, 4), Le32(28));
  auto le64 = [&](int at) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | std::uint8_t(header[std::size_t(at + i)]);
    return std::int64_t(v);
  };
  EXPECT_EQ(le64(28), dataBytes);
  EXPECT_EQ(le64(36), frames);
  EXPECT_GT(le64(20), dataBytes + 72);  // the RF64 size: header, data and the INFO list
  EXPECT_EQ(header.substr(72, 8), "data" + Le32(0xFFFFFFFF));
  // The reader takes the sizes from the ds64 chunk.
  std::istringstream in(header);
  WaveRead reader(in, 80 + dataBytes, false);
  EXPECT_EQ(reader.FloatByteCount(), frames * 2 * 4);
}

TEST(WaveWriteTest, LongDocumentsDeclareTheirTrueSize) {
  // Two hours of 16-bit stereo: 1,270,080,000 data bytes. The stream is failed from the start,
  // so nothing is written and the completion stops at once.
  std::ostream nowhere(nullptr);
  const std::int64_t frames = std::int64_t(44100) * 7200;
  WaveWrite writer(nowhere, frames, 2, 44100, CompressionPcm16, AnnotationList());
  EXPECT_EQ(writer.DataSize(), 1270080000);
}

TEST(WaveRoundTripTest, EveryEncodingReadsBackWithinOneStep) {
  for (const Encoding& e : kEncodings) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << "compression " << e.compression << " channels " << channels);
      const std::vector<float> samples = TestSignal(5001, channels);
      const std::string file = Write(e.compression, channels, 48000, samples);
      std::istringstream in(file);
      auto reader = CreateReaderForFile(in, std::int64_t(file.size()), ".wav", true);
      ASSERT_TRUE(reader);
      EXPECT_EQ(reader->CurrentSamplingRate(), 48000);
      EXPECT_EQ(reader->CurrentChannels(), channels);
      EXPECT_EQ(reader->Compression(), e.compression);
      EXPECT_EQ(reader->SampleResolution(), e.bits);
      EXPECT_EQ(reader->FloatByteCount(), std::int64_t(samples.size()) * 4);
      const std::vector<float> back = PullAll(*reader);
      ASSERT_EQ(back.size(), samples.size());
      for (std::size_t i = 0; i < samples.size(); ++i)
        ASSERT_LE(std::fabs(back[i] - samples[i]), e.step) << i;
    }
  }
}

TEST(WaveRoundTripTest, FloatKeepsOutOfRangeValuesOnWritingAndClampsOnReading) {
  const std::string file = Write(CompressionFloat32, 1, 8000, {1.5f, -2.0f, 0.5f});
  EXPECT_EQ(file.substr(58, 4), std::string("\0\0\xC0\x3F", 4));
  std::istringstream in(file);
  WaveRead reader(in, std::int64_t(file.size()), true);
  EXPECT_EQ(PullAll(reader), (std::vector<float>{1.0f, -1.0f, 0.5f}));
  // Float files written before the writer added the fmt extra size and the fact chunk still read.
  const std::string older = Riff(Chunk("fmt ", FmtPayload(3, 1, 8000, 32)) + Chunk("data", file.substr(58, 12)));
  std::istringstream olderIn(older);
  WaveRead olderReader(olderIn, std::int64_t(older.size()), true);
  EXPECT_EQ(PullAll(olderReader), (std::vector<float>{1.0f, -1.0f, 0.5f}));
}

AnnotationList SampleAnnotations() {
  AnnotationList list;
  auto text = [](const char* s) { return reinterpret_cast<const std::uint8_t*>(s); };
  list.SetByKind(AnnotationName, text("Title"), 6);
  list.SetByKind(AnnotationArtist, text("Someone"), 8);
  list.SetByKind(AnnotationComment, text("odd"), 3);
  list.SetByKind(AnnotationUrl, text("http://x"), 9);  // WAVE has no id for it
  list.SetById(FileFormatWave, FourCC("ICRD"), text("2026"), 5);
  list.SetById(FileFormatWave, FourCC("DISP"), text("\x01\0\0\0Shown"), 10);
  list.SetById(FileFormatAiff, FourCC("ANNO"), text("aiff only"), 10);
  return list;
}

TEST(WaveAnnotationsTest, InfoAndDispSurviveARoundTrip) {
  const AnnotationList written = SampleAnnotations();
  const std::string file = Write(CompressionPcm16, 1, 8000, {0.1f, 0.2f, 0.3f}, written);
  // LIST/INFO: INAM 8+6, IART 8+8, ICMT 8+4 (odd length padded), ICRD 8+6; then DISP 8+10.
  const std::uint32_t infoTotal = 14 + 16 + 12 + 14;
  EXPECT_EQ(At32(file, 4), 36 + 6 + infoTotal + 12 + 18);
  EXPECT_EQ(file.size(), 8 + At32(file, 4));
  EXPECT_EQ(file.substr(50, 4), "LIST");
  EXPECT_EQ(At32(file, 54), infoTotal + 4);
  EXPECT_EQ(file.substr(58, 8), "INFOINAM");

  for (bool trailing : {true, false}) {
    std::istringstream in(file);
    WaveRead reader(in, std::int64_t(file.size()), trailing);
    const AnnotationList& read = reader.Annotations();
    if (!trailing) {
      // The chunks behind the audio are not walked.
      EXPECT_TRUE(read.Empty());
      continue;
    }
    ASSERT_EQ(read.Size(), 5u);
    EXPECT_EQ(read.FindKind(AnnotationName)->data, written.FindKind(AnnotationName)->data);
    EXPECT_EQ(read.FindKind(AnnotationArtist)->data, written.FindKind(AnnotationArtist)->data);
    EXPECT_EQ(read.FindKind(AnnotationComment)->Length(), 3);
    EXPECT_EQ(read.FindId(FileFormatWave, FourCC("ICRD"))->data, written.FindId(FileFormatWave, FourCC("ICRD"))->data);
    EXPECT_EQ(read.FindId(FileFormatWave, FourCC("DISP"))->data, written.FindId(FileFormatWave, FourCC("DISP"))->data);
    EXPECT_EQ(PullAll(reader).size(), 3u);
  }
}

TEST(WaveAnnotationsTest, ListsOfOtherTypesBecomeIdItemsAndGoBackIntoInfo) {
  const std::string adtl = Chunk("LIST", "adtl" + Chunk("labl", "cue1"));
  const std::string file = Riff(Chunk("fmt ", FmtPayload(1, 1, 8000, 16)) + adtl + Chunk("data", std::string(4, '\0')));
  std::istringstream in(file);
  WaveRead reader(in, std::int64_t(file.size()), false);
  ASSERT_EQ(reader.Annotations().Size(), 1u);
  const Annotation& label = reader.Annotations()[0];
  EXPECT_EQ(label.kind, AnnotationById);
  EXPECT_EQ(label.origin, FileFormatWave);
  EXPECT_EQ(label.chunkId, FourCC("labl"));
  const std::string rewritten = Write(CompressionPcm16, 1, 8000, {0.0f, 0.0f}, reader.Annotations());
  EXPECT_EQ(rewritten.substr(48, 20), "LIST" + Le32(16) + "INFOlabl" + Le32(4));
}

TEST(WaveReadTest, SeeksToAnySample) {
  const std::vector<float> samples = TestSignal(3000, 2);
  const std::string file = Write(CompressionPcm24, 2, 44100, samples);
  std::istringstream in(file);
  WaveRead reader(in, std::int64_t(file.size()), true);
  PullAll(reader);  // to the end first: the seek must recover from end of file
  ASSERT_TRUE(reader.SeekToSample(2 * 1234));
  float pair[2];
  ASSERT_EQ(reader.PullSamples(pair, 2), 2);
  EXPECT_NEAR(pair[0], samples[2468], 1e-6);
  EXPECT_NEAR(pair[1], samples[2469], 1e-6);
  ASSERT_TRUE(reader.SeekToSample(100000));  // beyond the end: nothing left to read
  EXPECT_EQ(reader.PullSamples(pair, 2), 0);
  EXPECT_FALSE(reader.SeekToSample(-1));
}

TEST(WaveWriteTest, SeekingBackOverwritesWithoutLosingTheEnd) {
  std::ostringstream out;
  {
    WaveWrite writer(out, 4, 1, 8000, CompressionPcm16, AnnotationList());
    const float first[3] = {0.5f, 0.5f, 0.5f}, again = -0.5f;
    writer.PushSamples(first, 3);
    ASSERT_TRUE(writer.SeekToSample(0));
    writer.PushSamples(&again, 1);
  }
  const std::string file = out.str();
  ASSERT_EQ(file.size(), 52u);
  EXPECT_EQ(file.substr(44), Le16(0xC000) + Le16(0x4000) + Le16(0x4000) + Le16(0));
}

TEST(WaveReadTest, LargeDataChunksCountIn64Bits) {
  // Only the header is in memory; the file size says the rest is there.
  auto header = [](std::uint32_t dataLength, int channels) {
    return "RIFF" + Le32(dataLength + 36) + "WAVE" + Chunk("fmt ", FmtPayload(1, channels, 44100, 16)) + "data" +
           Le32(dataLength);
  };
  const std::string small = header(200000000, 1);
  std::istringstream in(small);
  WaveRead reader(in, 44 + 200000000, false);
  EXPECT_EQ(reader.FloatByteCount(), 400000000);

  const std::uint32_t twoHours = 2u * 2 * 44100 * 7200;  // 16-bit stereo
  const std::string large = header(twoHours, 2);
  std::istringstream in2(large);
  WaveRead longReader(in2, 44 + std::int64_t(twoHours), false);
  EXPECT_EQ(longReader.FloatByteCount(), std::int64_t(2) * 44100 * 7200 * 4);
  EXPECT_EQ(longReader.FloatByteCount() / (2 * 44100 * 4), 7200);
}

TEST(WaveReadTest, TruncatedDataOpensWithTheWholeFramesItHolds) {
  // The data chunk declares 40 bytes of 16-bit stereo and holds 11.
  const std::string content = "WAVE" + Chunk("fmt ", FmtPayload(1, 2, 8000, 16)) + "data" + Le32(40) + std::string(11, '\x01');
  const std::string file = "RIFF" + Le32(std::uint32_t(content.size())) + content;
  std::istringstream in(file);
  WaveRead reader(in, std::int64_t(file.size()), true);
  EXPECT_EQ(reader.FloatByteCount(), 4 * 4);
  EXPECT_EQ(PullAll(reader).size(), 4u);
}

TEST(WaveReadTest, ExtensibleSubFormatsChooseTheCodec) {
  auto extensible = [](int code, int bits) {
    const std::string payload = FmtPayload(0xFFFE, 1, 8000, bits) + Le16(22) + Le16(bits) + Le32(4) + Le32(code) +
                                std::string("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
    return Riff(Chunk("fmt ", payload) + Chunk("data", std::string(12, '\0')));
  };
  const std::string pcm24 = extensible(1, 24);
  std::istringstream in(pcm24);
  WaveRead reader(in, std::int64_t(pcm24.size()), true);
  EXPECT_EQ(reader.Compression(), CompressionPcm24);
  EXPECT_EQ(reader.FloatByteCount(), 16);
  const std::string float32 = extensible(3, 32);
  std::istringstream in2(float32);
  EXPECT_EQ(WaveRead(in2, std::int64_t(float32.size()), true).Compression(), CompressionFloat32);
  EXPECT_EQ(OpenError(extensible(6, 8)), "Unsupported WAVE compression type: 65534");
}

// A stream buffer without a buffer of its own over C stdio, as the application's file buffer is.
class StdioBuffer : public std::streambuf {
public:
  StdioBuffer(const std::string& path, const char* mode) : file_(std::fopen(path.c_str(), mode)) {}
  ~StdioBuffer() override {
    if (file_) std::fclose(file_);
  }

protected:
  int_type overflow(int_type c) override {
    return c == traits_type::eof() || std::fputc(c, file_) != EOF ? traits_type::not_eof(c) : traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override { return std::streamsize(std::fwrite(s, 1, n, file_)); }
  int_type underflow() override {
    const int c = std::fgetc(file_);
    if (c == EOF) return traits_type::eof();
    std::ungetc(c, file_);
    return c;
  }
  int_type uflow() override {
    const int c = std::fgetc(file_);
    return c == EOF ? traits_type::eof() : c;
  }
  std::streamsize xsgetn(char* s, std::streamsize n) override { return std::streamsize(std::fread(s, 1, n, file_)); }
  pos_type seekoff(off_type off, std::ios::seekdir dir, std::ios::openmode) override {
    const int whence = dir == std::ios::beg ? SEEK_SET : dir == std::ios::cur ? SEEK_CUR : SEEK_END;
    if (std::fseek(file_, long(off), whence) != 0) return pos_type(off_type(-1));
    return pos_type(off_type(std::ftell(file_)));
  }
  pos_type seekpos(pos_type pos, std::ios::openmode mode) override { return seekoff(off_type(pos), std::ios::beg, mode); }

private:
  FILE* file_;
};

TEST(WaveStreamTest, WorksOverAnUnbufferedStdioStreamBuffer) {
  TempDir dir;
  const std::string path = dir / "stdio.wav";
  const std::vector<float> samples = TestSignal(30000, 2);
  {
    StdioBuffer buffer(path, "wb");
    std::ostream out(&buffer);
    WaveWrite writer(out, 30000, 2, 44100, CompressionPcm24, SampleAnnotations());
    for (std::size_t at = 0; at < samples.size(); at += 4096)
      writer.PushSamples(samples.data() + at, int(std::min<std::size_t>(4096, samples.size() - at)));
  }
  for (bool trailing : {true, false}) {
    StdioBuffer buffer(path, "rb");
    std::istream in(&buffer);
    auto reader = CreateReaderForFile(in, std::int64_t(std::filesystem::file_size(path)), ".wav", trailing);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Annotations().Size(), trailing ? 5u : 0u);
    const std::vector<float> back = PullAll(*reader);
    ASSERT_EQ(back.size(), samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) ASSERT_NEAR(back[i], samples[i], 1.0 / 8388608) << i;
    ASSERT_TRUE(reader->SeekToSample(2 * 29000));
    float pair[2];
    ASSERT_EQ(reader->PullSamples(pair, 2), 2);
    EXPECT_NEAR(pair[1], samples[2 * 29000 + 1], 1.0 / 8388608);
  }
}

}  // namespace
