// Recording through the player on the fake device: buffer sizes, ends, DC correction, positions.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "devices/AudioMonitor.h"
#include "devices/AudioPlayer.h"
#include "devices/FakeWaveDevice.h"
#include "tests/devices/TestContainers.h"

namespace {

std::vector<std::uint8_t> Int16Bytes(const std::vector<int>& values) {
  std::vector<std::uint8_t> bytes;
  for (int v : values) {
    bytes.push_back(std::uint8_t(v & 0xFF));
    bytes.push_back(std::uint8_t((v >> 8) & 0xFF));
  }
  return bytes;
}

std::vector<std::uint8_t> FloatBytes(const std::vector<float>& values) {
  std::vector<std::uint8_t> bytes(values.size() * 4);
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

struct Rig {
  Rig(CAP_AudioContainer* sink, bool acceptsFloat) {
    auto in = std::make_unique<FakeWaveDevice>(WaveDirection::Input);
    in->acceptsFloat = acceptsFloat;
    input = in.get();
    player = std::make_unique<CAI_AudioPlayer>(nullptr, sink, nullptr, std::move(in));
  }
  void Run(std::int64_t frames) {
    input->Advance(frames);
    player->Poll();
  }
  FakeWaveDevice* input;
  std::unique_ptr<CAI_AudioPlayer> player;
};

TEST(AudioRecording, BufferLengthFollowsTheFormat) {
  struct Case {
    int rate, channels;
    bool isFloat;
    int length;
  };
  for (const Case& c : {Case{8000, 1, false, 512}, Case{44100, 2, false, 8192}, Case{44100, 2, true, 16384},
                        Case{96000, 2, true, 32768}, Case{11025, 1, false, 1024}}) {
    MemoryContainer sink(c.channels, c.rate);
    Rig rig(&sink, c.isFloat);
    rig.player->Record(0, 0);
    ASSERT_EQ(rig.player->State(), kDeviceRecording);
    EXPECT_EQ(rig.player->RecordFloat(), c.isFloat);
    EXPECT_EQ(rig.player->RecordBufferLength(), c.length) << c.rate << " Hz " << c.channels << " ch";
    EXPECT_EQ(rig.input->QueuedCount(), CAI_AudioPlayer::kRecordBuffers);
    EXPECT_EQ(rig.input->queuedLengths.front(), std::uint32_t(c.length));
    EXPECT_TRUE(rig.input->IsStarted());
  }
  // Far past what the fixed buffers of the design held: sized from the format.
  EXPECT_EQ(CAI_AudioPlayer::RecordBufferLengthFor(384000, 8), 131072);
}

TEST(AudioRecording, RecordsWithoutEndUntilStop) {
  MemoryContainer sink(1, 8000);
  Rig rig(&sink, false);
  std::vector<int> ramp;
  for (int i = 0; i < 1000; ++i) ramp.push_back(i * 30 - 15000);
  rig.input->captureData = Int16Bytes(ramp);
  rig.player->Record(0, 0);
  EXPECT_EQ(rig.player->EndSample(), CAI_AudioPlayer::kNoEnd);
  for (int k = 0; k < 100; ++k) rig.Run(400);  // 5 s
  EXPECT_EQ(rig.player->State(), kDeviceRecording);
  EXPECT_EQ(sink.Frames(), 40000 / 256 * 256);
  EXPECT_EQ(rig.player->RecordPosition(), sink.Frames());
  for (int i = 0; i < sink.Frames(); i += 37) ASSERT_EQ(sink.At(i), ramp[i % 1000] / 32768.0f) << i;
  EXPECT_DOUBLE_EQ(rig.player->GetPositionSeconds(), 5.0);

  rig.player->Stop();
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  EXPECT_FALSE(rig.input->IsOpen());
  EXPECT_EQ(rig.input->Calls(FakeWaveCall::Unprepare), CAI_AudioPlayer::kRecordBuffers);
  for (int i = 0; i < CAI_AudioPlayer::kRecordBuffers; ++i)
    EXPECT_EQ(rig.player->Header(CAI_AudioPlayer::kPlaybackBuffers + i).bufferLength, 0u);
  EXPECT_DOUBLE_EQ(rig.player->GetPositionSeconds(), 5.0);
}

TEST(AudioRecording, BoundedRecordingEndsAtItsLastSample) {
  MemoryContainer sink(1, 8000);
  Rig rig(&sink, false);
  rig.player->Record(0.5, 1.5);  // samples 4000..11999
  EXPECT_EQ(rig.player->RecordPosition(), 4000);
  for (int k = 0; k < 40 && rig.player->State() == kDeviceRecording; ++k) rig.Run(256);
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  EXPECT_EQ(sink.Frames(), 12000);  // written from 4000 on, nothing past the end
  EXPECT_DOUBLE_EQ(rig.player->GetPositionSeconds(), 11999.0 / 8000);
}

TEST(AudioRecording, SinkThatTakesNothingEndsTheRecording) {
  MemoryContainer sink(2, 8000, 0, /*limit=*/1000);
  Rig rig(&sink, true);
  rig.player->Record(0, 0);
  for (int k = 0; k < 20 && rig.player->State() == kDeviceRecording; ++k) rig.Run(1000);
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  EXPECT_EQ(sink.Frames(), 1000);
}

TEST(AudioRecording, DcCorrectionOnSixteenBitSamples) {
  MemoryContainer sink(2, 8000);
  Rig rig(&sink, false);
  // Left, right pairs: the left is lowered by round(0.01 x 32768) = 328 and clamped.
  const std::vector<int> frames = {1000, 1000, -32500, -32500, -32768, 5, 32767, -7, 0, 0, 300, 32767};
  rig.input->captureData = Int16Bytes(frames);
  rig.player->SetDcOffsets(0.01f, 0);
  rig.player->Record(0, 0);
  rig.Run(512);
  ASSERT_GE(sink.Frames(), 6);
  const int expectedLeft[] = {672, -32767, -32767, 32439, -328, -28};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(sink.At(i, 0), expectedLeft[i] / 32768.0f) << i;
    EXPECT_EQ(sink.At(i, 1), frames[2 * i + 1] / 32768.0f) << i;
  }
}

TEST(AudioRecording, DcCorrectionOnFloatSamplesClampsToFullScale) {
  MemoryContainer sink(2, 8000);
  Rig rig(&sink, true);
  rig.input->captureData = FloatBytes({0.5f, 0.5f, -0.9f, -0.9f, 0.95f, 0.95f, 1.0f, -1.0f});
  rig.player->SetDcOffsets(0.25f, -0.125f);
  rig.player->Record(0, 0);
  rig.Run(1024);
  ASSERT_GE(sink.Frames(), 4);
  const float left[] = {0.25f, -1.0f, 0.7f, 0.75f}, right[] = {0.625f, -0.775f, 1.0f, -0.875f};
  for (int i = 0; i < 4; ++i) {
    EXPECT_FLOAT_EQ(sink.At(i, 0), left[i]) << i;
    EXPECT_FLOAT_EQ(sink.At(i, 1), right[i]) << i;
  }
}

TEST(AudioRecording, CorrectDcOffsetsEdges) {
  std::uint8_t bytes[6] = {0x00, 0x80, 0xFF, 0x7F, 0x10, 0x00};  // -32768, 32767, 16 (mono)
  const float down[2] = {-1.5f, 0};                              // k limited to -32768
  CAI_AudioPlayer::CorrectDcOffsets(bytes, 3, 1, false, down);
  EXPECT_EQ(std::int16_t(bytes[0] | bytes[1] << 8), 0);
  EXPECT_EQ(std::int16_t(bytes[2] | bytes[3] << 8), 32767);
  EXPECT_EQ(std::int16_t(bytes[4] | bytes[5] << 8), 32767);

  float samples[3] = {0.1f, 0.2f, 0.3f};  // three channels: only the first two have offsets
  const float both[2] = {0.1f, 0.1f};
  CAI_AudioPlayer::CorrectDcOffsets(samples, 1, 3, true, both);
  EXPECT_FLOAT_EQ(samples[0], 0.0f);
  EXPECT_FLOAT_EQ(samples[1], 0.1f);
  EXPECT_FLOAT_EQ(samples[2], 0.3f);
}

TEST(AudioRecording, PositionWhileRecording) {
  MemoryContainer sink(1, 8000);
  Rig rig(&sink, false);
  rig.player->Record(1.0, 0);
  rig.input->Advance(4000);
  EXPECT_DOUBLE_EQ(rig.player->GetPositionSeconds(), 1.5);
  rig.player->ProcessNotifications();
  EXPECT_EQ(sink.Frames(), 8000 + 4000 / 256 * 256);  // written at the sink position of 1.0 s
}

class RecordFailure : public testing::TestWithParam<FakeWaveCall> {};

TEST_P(RecordFailure, LeavesIdleWithTheText) {
  MemoryContainer sink(1, 8000);
  Rig rig(&sink, false);
  const bool perBuffer = GetParam() == FakeWaveCall::Prepare || GetParam() == FakeWaveCall::Queue;
  rig.input->FailOn(GetParam(), perBuffer ? 7 : 1);
  rig.player->Record(0, 0);
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  EXPECT_NE(std::string(rig.player->ErrorText()).find("failed"), std::string::npos) << rig.player->ErrorText();
  EXPECT_FALSE(rig.input->IsOpen());
  EXPECT_EQ(sink.Frames(), 0);
  rig.player->Record(0, 0);
  EXPECT_EQ(rig.player->State(), kDeviceRecording);
}

INSTANTIATE_TEST_SUITE_P(EveryStartCall, RecordFailure,
                         testing::Values(FakeWaveCall::Open, FakeWaveCall::Prepare, FakeWaveCall::Queue,
                                         FakeWaveCall::Start));

TEST(AudioRecording, RequeueFailureEndsTheRecording) {
  MemoryContainer sink(1, 8000);
  Rig rig(&sink, false);
  rig.player->Record(0, 0);
  rig.input->FailOn(FakeWaveCall::Queue);
  rig.Run(256);
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  EXPECT_EQ(sink.Frames(), 256);
  EXPECT_STREQ(rig.player->ErrorText(), "Fake device: Queue failed.");
}

TEST(AudioRecording, IntoAMonitorAsTheRecordDialogDoes) {
  RecordingMeter left, right;
  CAP_AudioMonitor monitor(2, 44100, &left, &right);
  Rig rig(&monitor, false);
  rig.input->captureData = Int16Bytes({6554, -3277});  // 0.2, -0.1 constant
  rig.player->Record(0, 0);
  for (int k = 0; k < 10; ++k) rig.Run(2048);
  rig.player->Stop();
  EXPECT_EQ(left.updates.size(), 10u);
  EXPECT_NEAR(monitor.DcOffset(0), 0.2, 1e-4);
  EXPECT_NEAR(monitor.DcOffset(1), -0.1, 1e-4);
  EXPECT_NEAR(left.updates.back().level, 0.0, 1e-6);
}

}  // namespace
