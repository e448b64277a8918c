// The level monitor: DC estimate, peaks after the offset, the ten-buffer hold, colour, meters.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analysis/SoundSignature.h"
#include "devices/AudioMonitor.h"
#include "tests/devices/TestContainers.h"

namespace {

std::vector<float> Constant(int frames, int channels, float value) {
  return std::vector<float>(std::size_t(frames) * channels, value);
}

TEST(AudioMonitor, ConstantInputIsAllOffsetAndNoLevel) {
  RecordingMeter meter;
  CAP_AudioMonitor monitor(1, 44100, &meter);
  const std::vector<float> buffer = Constant(2048, 1, 0.2f);
  EXPECT_EQ(monitor.WriteFloat(buffer.data(), 2048, 0), 2048);
  EXPECT_FLOAT_EQ(monitor.DcOffset(0), 0.2f);
  ASSERT_EQ(meter.updates.size(), 1u);
  EXPECT_EQ(meter.updates[0].level, 0.0f);
  EXPECT_EQ(meter.updates[0].hold, 0.0f);
  EXPECT_EQ(meter.invalidations, 1);
}

TEST(AudioMonitor, FullScaleSquareWaveReachesOne) {
  RecordingMeter meter;
  CAP_AudioMonitor monitor(1, 8000, &meter);
  std::vector<float> square(4000);
  for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 20) % 2 ? -1.0f : 1.0f;
  monitor.WriteFloat(square.data(), 4000, 0);
  EXPECT_NEAR(monitor.DcOffset(0), 0.0, 1e-6);
  EXPECT_FLOAT_EQ(meter.updates.back().level, 1.0f);
}

TEST(AudioMonitor, HoldKeepsABurstForTenBuffers) {
  RecordingMeter meter;
  CAP_AudioMonitor monitor(1, 8000, &meter);
  auto push = [&](float amplitude) {
    std::vector<float> b(400);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = i % 2 ? -amplitude : amplitude;
    monitor.WriteFloat(b.data(), 400, 0);
  };
  for (int k = 0; k < 3; ++k) push(0.1f);
  push(0.8f);
  for (int k = 0; k < 12; ++k) push(0.3f);
  ASSERT_EQ(meter.updates.size(), 16u);
  EXPECT_FLOAT_EQ(meter.updates[2].hold, 0.1f);
  EXPECT_FLOAT_EQ(meter.updates[3].level, 0.8f);
  for (int k = 3; k < 13; ++k) EXPECT_FLOAT_EQ(meter.updates[k].hold, 0.8f) << k;
  for (int k = 13; k < 16; ++k) EXPECT_FLOAT_EQ(meter.updates[k].hold, 0.3f) << k;
  EXPECT_FLOAT_EQ(meter.updates[15].level, 0.3f);
}

TEST(AudioMonitor, DcEstimateFreezesAfterOneHundredThousandFrames) {
  RecordingMeter meter;
  CAP_AudioMonitor monitor(1, 44100, &meter);
  const std::vector<float> low = Constant(1000, 1, 0.1f);
  for (int k = 0; k < 99; ++k) monitor.WriteFloat(low.data(), 1000, 0);
  const std::vector<float> high = Constant(1000, 1, 0.3f);
  monitor.WriteFloat(high.data(), 1000, 0);  // starts below 100,000 frames: still counted
  EXPECT_NEAR(monitor.DcOffset(0), (99 * 0.1 + 0.3) / 100, 1e-6);
  EXPECT_EQ(monitor.DcFrames(), 100000);
  const float frozen = monitor.DcOffset(0);
  monitor.WriteFloat(high.data(), 1000, 0);
  EXPECT_EQ(monitor.DcOffset(0), frozen);
  EXPECT_NEAR(meter.updates.back().level, 0.3 - frozen, 1e-6);  // the new offset shows as a level
}

TEST(AudioMonitor, StereoMetersSeeTheirOwnChannelAndTheBufferColour) {
  RecordingMeter left, right;
  CAP_AudioMonitor monitor(2, 22050, &left, &right);
  std::vector<float> b(2 * 2205);
  for (int i = 0; i < 2205; ++i) {
    b[2 * i] = 0.5f * float(std::sin(2 * M_PI * 440 * i / 22050.0));
    b[2 * i + 1] = 0.25f * float(std::sin(2 * M_PI * 1800 * i / 22050.0));
  }
  monitor.WriteFloat(b.data(), 2205, 0);
  SoundSignature signature;
  std::uint8_t rgb[3];
  ComputeRangeSignature(b.data(), 0, 2205, 2, 22050, &signature, rgb);
  ASSERT_EQ(left.updates.size(), 1u);
  ASSERT_EQ(right.updates.size(), 1u);
  EXPECT_EQ(left.updates[0].colour, PackColor(rgb));
  EXPECT_EQ(right.updates[0].colour, PackColor(rgb));
  EXPECT_NE(left.updates[0].colour, 0u);
  EXPECT_NEAR(left.updates[0].level, 0.5, 0.01);
  EXPECT_NEAR(right.updates[0].level, 0.25, 0.01);
}

TEST(AudioMonitor, PassesFramesOnToASinkAndMeasuresReads) {
  MemoryContainer sink(1, 8000, 0, /*limit=*/300);
  CAP_AudioMonitor monitor(1, 8000, nullptr);
  monitor.SetSink(&sink);
  const std::vector<float> b = Constant(500, 1, 0.5f);
  EXPECT_EQ(monitor.WriteFloat(b.data(), 500, 0), 300);  // what the sink took
  EXPECT_FLOAT_EQ(monitor.DcOffset(0), 0.5f);            // a monitor without meters still estimates

  RecordingMeter meter;
  CAP_AudioMonitor player(1, 8000, &meter);
  float out[400];
  EXPECT_EQ(player.ReadFloat(out, 400, 0), 0);  // no source
  player.SetSource(&sink);
  EXPECT_EQ(player.ReadFloat(out, 400, 100), 200);
  EXPECT_FLOAT_EQ(out[0], 0.5f);
  EXPECT_EQ(meter.updates.size(), 1u);
}

TEST(AudioMonitor, SixteenBitWritesAndBadSamplesAreHarmless) {
  RecordingMeter meter;
  CAP_AudioMonitor monitor(1, 8000, &meter);
  const std::uint8_t bytes[4] = {0x00, 0x40, 0x00, 0xC0};  // 0.5, -0.5
  EXPECT_EQ(monitor.WriteInt(bytes, 16, 2, 0), 2);
  EXPECT_FLOAT_EQ(meter.updates.back().level, 0.5f);
  EXPECT_EQ(monitor.WriteFloat(nullptr, 0, 0), 0);  // empty: no division by zero frames
  const float bad[3] = {NAN, 0.25f, -0.25f};
  monitor.WriteFloat(bad, 3, 0);
  EXPECT_TRUE(std::isfinite(monitor.DcOffset(0)));
  EXPECT_FLOAT_EQ(meter.updates.back().level, 0.25f);
}

}  // namespace
