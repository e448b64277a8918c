#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "analysis/AudioContainer.h"

namespace {

TEST(IntegerLayouts, SixteenEightAndTwentyFourBits) {
  float f;
  const unsigned char s16[2] = {0xFF, 0x7F};
  IntToFloatSamples(s16, &f, 16, 1, 1);
  EXPECT_EQ(f, 0.999969482421875f);
  const float values16[] = {1.0f, -1.0f};
  unsigned char pair[4];
  FloatToIntSamples(values16, pair, 16, 2, 1);
  EXPECT_EQ(pair[0], 0xFF); EXPECT_EQ(pair[1], 0x7F);
  EXPECT_EQ(pair[2], 0x00); EXPECT_EQ(pair[3], 0x80);

  const unsigned char s8[2] = {0x80, 0x7F};
  float f8[2];
  IntToFloatSamples(s8, f8, 8, 2, 1);
  EXPECT_EQ(f8[0], -1.0f);
  EXPECT_EQ(f8[1], 0.9921875f);
  const float v8[] = {0.5f, -1.5f};
  unsigned char o8[2];
  FloatToIntSamples(v8, o8, 8, 2, 1);
  EXPECT_EQ(o8[0], 64);
  EXPECT_EQ(std::int8_t(o8[1]), -128);

  const unsigned char s24[6] = {0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x00};
  float f24[2];
  IntToFloatSamples(s24, f24, 24, 2, 1);
  EXPECT_EQ(f24[0], -1.0f / 8388608);
  EXPECT_EQ(f24[1], -1.0f);
  const float v24[] = {0.5f, -0.5f, 1.0f, -1.0f};
  unsigned char o24[12];
  FloatToIntSamples(v24, o24, 24, 4, 1);
  const unsigned char expect24[12] = {0x40, 0, 0, 0xC0, 0, 0, 0x7F, 0xFF, 0xFF, 0x80, 0, 0};
  EXPECT_EQ(std::memcmp(o24, expect24, 12), 0);

  // Other bit counts convert nothing.
  float untouched = 7.0f;
  IntToFloatSamples(s16, &untouched, 12, 1, 1);
  EXPECT_EQ(untouched, 7.0f);
}

// A container that keeps whatever float frames it is given.
class Memory : public CAP_AudioContainer {
public:
  explicit Memory(int ch) { channels = ch; }
  int ReadFloat(float* dest, int frames, int position) override {
    const int n = std::max(0, std::min(frames, int(data.size()) / channels - position));
    std::memcpy(dest, data.data() + std::size_t(position) * channels, sizeof(float) * n * channels);
    return n;
  }
  int WriteFloat(const float* source, int frames, int position) override {
    data.resize(std::max(data.size(), std::size_t(position + frames) * channels));
    std::memcpy(data.data() + std::size_t(position) * channels, source, sizeof(float) * frames * channels);
    ++writes;
    return frames;
  }
  std::vector<float> data;
  int writes = 0;
};

TEST(Container, IntegerSlotsChunkOverFloatSlots) {
  Memory m(2);
  const int frames = 20000;  // more than two 8192-frame chunks
  std::vector<std::int16_t> in(frames * 2);
  for (int i = 0; i < frames * 2; ++i) in[i] = std::int16_t(i * 37);
  EXPECT_EQ(m.WriteInt(in.data(), 16, frames, 0), frames);
  EXPECT_EQ(m.writes, 3);
  std::vector<std::int16_t> out(frames * 2);
  EXPECT_EQ(m.ReadInt(out.data(), 16, frames, 0), frames);
  EXPECT_EQ(in, out);
  EXPECT_EQ(m.ReadInt(out.data(), 16, 10, frames - 4), 4);  // stops at the end
  EXPECT_EQ(m.WriteInt(in.data(), 16, 0, 0), 0);
}

TEST(Viewer, AccumulatesRangeAndShift) {
  CAP_AudioViewer v;
  v.AddChangedRange(2.0, 1.0);
  v.AddChangedRange(1.0, 0.5);
  EXPECT_EQ(v.changedStart, 1.0);
  EXPECT_EQ(v.changedLength, 2.0);
  v.AddShift(0.000004);
  EXPECT_EQ(v.shift, 0.0);
  v.AddShift(0.5);
  v.AddShift(-0.499995);
  EXPECT_EQ(v.shift, 0.0);  // the sum fell below the threshold
  EXPECT_TRUE(v.ApplyChanges(0, 0));
  EXPECT_EQ(v.changedLength, 0.0);
}

}  // namespace
