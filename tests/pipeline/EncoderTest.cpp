// The file encoder: direct writes, channel and rate conversion with the converter's tail, the
// declared length, refusals and errors.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "formats/Wave.h"
#include "pipeline/AudioEncoder.h"
#include "tests/pipeline/PipelineTestSupport.h"

namespace {

using namespace pipeline_test;

// Encodes source frames (sourceChannels at sourceRate) in pieces of 2,048 frames as the save
// does, then decodes the result.
struct Encoded {
  std::string bytes;
  std::vector<float> samples;
  int rate = 0, channels = 0;
  std::int64_t frameCount = 0;
  std::string error;
};

Encoded Encode(const std::vector<float>& source, int sourceChannels, int sourceRate, int channels, int rate,
               int compression = CompressionFloat32, double seconds = -1) {
  const int frames = int(source.size() / sourceChannels);
  if (seconds < 0) seconds = double(frames) / sourceRate;
  Encoded result;
  std::ostringstream out;
  {
    CAP_AudioEncoder encoder(out, channels, rate, compression, FileFormatWave, seconds, sourceChannels, sourceRate,
                             nullptr);
    result.frameCount = encoder.FrameCount();
    for (int position = 0; position < frames; position += 2048)
      encoder.WriteFloat(source.data() + std::size_t(position) * sourceChannels, std::min(2048, frames - position),
                         position);
    EXPECT_TRUE(encoder.Finish());
    result.error = encoder.errorText;
  }
  result.bytes = out.str();
  MemoryFile file(result.bytes);
  EXPECT_EQ(file.decoder.errorText, "");
  result.rate = file.decoder.sampleRate;
  result.channels = file.decoder.channels;
  result.samples = ReadAll(file.decoder);
  return result;
}

std::vector<float> Sine(int frames, int channels, int rate, double frequency, double level) {
  std::vector<float> v(std::size_t(frames) * channels);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      v[std::size_t(i) * channels + c] = float(level * std::sin(2 * M_PI * frequency * i / rate + c));
  return v;
}

TEST(Encoder, SameLayoutWritesTheFramesUnchanged) {
  const std::vector<float> source = Sine(10000, 2, 44100, 440, 0.8);
  const Encoded e = Encode(source, 2, 44100, 2, 44100);
  EXPECT_EQ(e.frameCount, 10000);
  EXPECT_EQ(e.samples, source);
}

TEST(Encoder, StereoToMonoIsTheMeanAndMonoToStereoDuplicates) {
  const std::vector<float> stereo = Sine(5000, 2, 22050, 300, 0.9);
  const Encoded mono = Encode(stereo, 2, 22050, 1, 22050);
  ASSERT_EQ(mono.samples.size(), 5000u);
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(mono.samples[i], (stereo[2 * i] + stereo[2 * i + 1]) * 0.5f) << i;

  const std::vector<float> single = Sine(5000, 1, 22050, 300, 0.9);
  const Encoded both = Encode(single, 1, 22050, 2, 22050);
  ASSERT_EQ(both.samples.size(), 10000u);
  for (int i = 0; i < 5000; ++i) {
    ASSERT_EQ(both.samples[2 * i], single[i]);
    ASSERT_EQ(both.samples[2 * i + 1], single[i]);
  }
}

TEST(Encoder, RateConversionKeepsTheLengthAndTheTail) {
  // One second of DC at 0.5: every output frame but the filter's edges must carry it, the last
  // ones too (they come out of the converter only when it is flushed).
  const std::vector<float> dc(44100 * 2, 0.5f);
  for (const auto& [from, to] : {std::pair{44100, 48000}, {44100, 22050}, {44100, 8000}}) {
    SCOPED_TRACE(testing::Message() << from << " -> " << to);
    const Encoded e = Encode(std::vector<float>(dc.begin(), dc.begin() + from * 2), 2, from, 2, to);
    EXPECT_EQ(e.rate, to);
    ASSERT_EQ(e.samples.size(), std::size_t(to) * 2);
    const int edge = to / 100;  // 10 ms
    for (int i = edge; i < to - edge; ++i) ASSERT_NEAR(e.samples[2 * i], 0.5, 1e-3) << i;
    EXPECT_GT(e.samples[2 * (to - 5)], 0.2);
  }
  // A sine keeps its level through 44,100 -> 48,000 and stereo -> mono.
  const Encoded sine = Encode(Sine(44100, 2, 44100, 1000, 0.5), 2, 44100, 1, 48000);
  ASSERT_EQ(sine.samples.size(), 48000u);
  double power = 0;
  for (int i = 4800; i < 43200; ++i) power += double(sine.samples[i]) * sine.samples[i];
  // Mean of sin(x) and sin(x + 1) has amplitude 0.5 * cos(0.5).
  EXPECT_NEAR(std::sqrt(2 * power / 38400), 0.5 * std::cos(0.5), 1e-3);
}

TEST(Encoder, TheDeclaredLengthIsExactAndNeverExceeded) {
  // rate x (frames / rate) falls just short of frames for many lengths; no frame may be lost.
  for (int frames : {15, 23, 30, 46, 53, 44100, 1234567}) {
    std::ostringstream out;
    CAP_AudioEncoder encoder(out, 1, 44100, CompressionPcm16, FileFormatWave, frames / 44100.0, 1, 44100, nullptr);
    EXPECT_EQ(encoder.FrameCount(), frames);
  }
  // Frames beyond the declared length are refused; fewer are padded with silence.
  const std::vector<float> source(3000, 0.25f);
  const Encoded longer = Encode(source, 1, 8000, 1, 8000, CompressionFloat32, 0.25);
  EXPECT_EQ(longer.samples.size(), 2000u);
  const Encoded shorter = Encode(std::vector<float>(1000, 0.25f), 1, 8000, 1, 8000, CompressionFloat32, 0.25);
  ASSERT_EQ(shorter.samples.size(), 2000u);
  EXPECT_EQ(shorter.samples[999], 0.25f);
  EXPECT_EQ(shorter.samples[1000], 0.0f);
}

TEST(Encoder, EncodingsTheyCannotWriteBecomeSixteenBitAndErrorsAreKept) {
  std::ostringstream out;
  CAP_AudioEncoder adpcm(out, 1, 8000, CompressionImaAdpcm, FileFormatWave, 0.1, 1, 8000, nullptr);
  EXPECT_EQ(adpcm.compression, CompressionPcm16);
  EXPECT_EQ(adpcm.resolution, 16);
  EXPECT_EQ(adpcm.errorText, "");


  const float frame[2] = {0.1f, 0.2f};
  struct Case {
    int channels, rate, fileFormat, sourceChannels, sourceRate;
  };
  for (const Case& c : {Case{1, 8000, 7, 1, 8000}, Case{3, 8000, FileFormatWave, 1, 8000},
                        Case{1, 8000, FileFormatWave, 0, 8000}, Case{1, 96000, FileFormatWave, 1, 100}}) {
    std::ostringstream sink;
    CAP_AudioEncoder encoder(sink, c.channels, c.rate, CompressionPcm16, c.fileFormat, 1.0, c.sourceChannels, c.sourceRate, nullptr);
    EXPECT_NE(encoder.errorText, "");
    EXPECT_EQ(encoder.WriteFloat(frame, 1, 0), 0);
    EXPECT_FALSE(encoder.Finish());
  }
}

// A stream buffer that takes n bytes and then refuses, as a full disk does.
struct FullDisk : std::stringbuf {
  explicit FullDisk(std::size_t room) : room_(room) {}
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    const std::streamsize taken = std::min<std::streamsize>(n, std::streamsize(room_));
    room_ -= std::size_t(taken);
    return taken ? std::stringbuf::xsputn(s, taken) : 0;
  }
  int_type overflow(int_type c) override { return room_ ? (--room_, std::stringbuf::overflow(c)) : traits_type::eof(); }
  std::size_t room_;
};

TEST(Encoder, AStreamThatFillsUpStopsTheWritesAndFailsTheFinish) {
  FullDisk disk(10000);
  std::ostream out(&disk);
  CAP_AudioEncoder encoder(out, 1, 44100, CompressionPcm16, FileFormatWave, 1.0, 2, 44100, nullptr);
  const std::vector<float> source(2 * 44100, 0.1f);
  for (int position = 0; position < 44100; position += 2048)
    encoder.WriteFloat(source.data() + 2 * position, std::min(2048, 44100 - position), position);
  EXPECT_LT(encoder.writePosition, 44100);
  EXPECT_FALSE(encoder.Finish());
  EXPECT_TRUE(out.fail());
}

}  // namespace
