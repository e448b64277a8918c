// Playback through the player on the fake device: buffer logic, state machine, positions, errors.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "devices/AudioPlayer.h"
#include "devices/FakeWaveDevice.h"
#include "tests/devices/TestContainers.h"

namespace {

struct Rig {
  explicit Rig(MemoryContainer src, bool acceptsFloat = true) : source(std::move(src)) {
    auto out = std::make_unique<FakeWaveDevice>(WaveDirection::Output);
    out->acceptsFloat = acceptsFloat;
    output = out.get();
    player = std::make_unique<CAI_AudioPlayer>(&source, nullptr, std::move(out), nullptr);
  }
  // Plays frames on the device's clock, then lets the UI thread handle what came back.
  void Run(std::int64_t frames) {
    output->Advance(frames);
    player->Poll();
  }
  // Runs one second at a time until the player is idle; returns the seconds it took.
  int RunToEnd(int limit = 100) {
    int seconds = 0;
    while (player->State() == kDevicePlaying && seconds < limit) {
      Run(source.sampleRate);
      ++seconds;
    }
    return seconds;
  }
  std::vector<float> PlayedFloats() const {
    std::vector<float> v(output->played.size() / 4);
    std::memcpy(v.data(), output->played.data(), v.size() * 4);
    return v;
  }
  MemoryContainer source;
  FakeWaveDevice* output;
  std::unique_ptr<CAI_AudioPlayer> player;
};

TEST(AudioPlayback, PlaysFromTwoSecondsToTheEndAndStopsThroughPoll) {
  Rig rig(MakeRamp(1, 44100, 441000));  // 10 s mono
  rig.player->Play(2.0, 0.0);
  ASSERT_EQ(rig.player->State(), kDevicePlaying);
  EXPECT_EQ(rig.player->StartSample(), 88200);
  EXPECT_EQ(rig.player->EndSample(), 441000);
  EXPECT_TRUE(rig.player->PlayFloat());
  EXPECT_EQ(rig.output->Format(), (WaveFormat{44100, 1, 32, true}));

  rig.RunToEnd();
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  EXPECT_FALSE(rig.output->IsOpen());
  const std::vector<float> played = rig.PlayedFloats();
  ASSERT_EQ(played.size(), 441000u - 88200u);
  for (std::size_t i = 0; i < played.size(); i += 997) ASSERT_EQ(played[i], RampSample(88200 + i, 0)) << i;
  EXPECT_EQ(played.back(), RampSample(440999, 0));
}

TEST(AudioPlayback, KeepsTwoOneSecondBuffersQueuedAndRefillsEach) {
  Rig rig(MakeRamp(2, 8000, 8000 * 5 / 2));  // 2.5 s stereo
  rig.player->Play(0, 0);
  const std::uint32_t second = 8000 * 2 * 4;
  EXPECT_EQ(rig.player->PlaybackBufferLength(), int(second));
  EXPECT_TRUE(rig.output->IsPaused() == false);
  EXPECT_EQ(rig.output->QueuedCount(), 2);
  EXPECT_EQ(rig.output->Calls(FakeWaveCall::Pause), 1);
  EXPECT_EQ(rig.output->Calls(FakeWaveCall::Restart), 1);

  rig.Run(8000);  // the first second played: its buffer comes back with the last half second
  EXPECT_EQ(rig.output->QueuedCount(), 2);
  EXPECT_EQ(rig.player->State(), kDevicePlaying);
  rig.Run(8000);  // the second buffer comes back: nothing is left, it stays done
  EXPECT_EQ(rig.output->QueuedCount(), 1);
  EXPECT_FALSE(rig.player->PlaybackFinished());
  EXPECT_EQ(rig.player->State(), kDevicePlaying);
  rig.Run(4000);  // the half second has been heard
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  EXPECT_EQ(rig.output->queuedLengths, (std::vector<std::uint32_t>{second, second, second / 2}));
  EXPECT_EQ(rig.output->played.size(), std::size_t(second) * 5 / 2);
}

TEST(AudioPlayback, ShorterThanOneBufferQueuesOneAndStillFinishes) {
  Rig rig(MakeRamp(1, 44100, 441000), /*acceptsFloat=*/false);
  rig.player->Play(1.0, 1.5);
  ASSERT_EQ(rig.player->State(), kDevicePlaying);
  EXPECT_FALSE(rig.player->PlayFloat());
  EXPECT_EQ(rig.player->PlayBits(), 16);
  EXPECT_EQ(rig.output->QueuedCount(), 1);
  EXPECT_TRUE(rig.player->Header(1).done);
  EXPECT_EQ(rig.player->Header(1).bufferLength, 0u);

  rig.Run(22049);
  EXPECT_EQ(rig.player->State(), kDevicePlaying);
  rig.Run(1);
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  // 16-bit little-endian, exactly the source's samples 44100..66149.
  ASSERT_EQ(rig.output->played.size(), 22050u * 2);
  for (int i = 0; i < 22050; ++i) {
    const auto v = std::int16_t(rig.output->played[2 * i] | (rig.output->played[2 * i + 1] << 8));
    ASSERT_EQ(v / 32768.0f, RampSample(44100 + i, 0)) << i;
  }
}

TEST(AudioPlayback, EmptyRangeOpensNothing) {
  Rig rig(MakeRamp(1, 8000, 8000));
  rig.player->Play(0.5, 0.5);
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  rig.player->Play(0.7, 0.2);
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  EXPECT_EQ(rig.output->Calls(FakeWaveCall::Open), 0);
  EXPECT_STREQ(rig.player->ErrorText(), "");
}

TEST(AudioPlayback, RangePastTheSourceEndEndsAtOnce) {
  Rig rig(MakeRamp(1, 8000, 8000));
  rig.player->Play(3.0, 4.0);  // the device opens, but nothing can be read
  EXPECT_EQ(rig.player->State(), kDevicePlaying);
  EXPECT_TRUE(rig.player->PlaybackFinished());
  rig.player->Poll();
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  EXPECT_FALSE(rig.output->IsOpen());
}

TEST(AudioPlayback, PositionWhilePlayingAndAfterStop) {
  Rig rig(MakeRamp(1, 8000, 80000));
  EXPECT_EQ(rig.player->GetPositionSeconds(), 0.0);
  rig.player->Play(2.0, 3.0);
  EXPECT_EQ(rig.player->GetPositionSeconds(), 2.0);
  rig.output->Advance(2000);
  EXPECT_EQ(rig.player->GetPositionSeconds(), 2.25);
  rig.output->Advance(6000);  // all played, notice not yet handled: one sample before the end
  EXPECT_DOUBLE_EQ(rig.player->GetPositionSeconds(), 23999.0 / 8000);

  rig.player->Play(0, 0);  // ignored while playing
  EXPECT_EQ(rig.player->StartSample(), 16000);

  rig.player->Stop();
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  EXPECT_DOUBLE_EQ(rig.player->GetPositionSeconds(), 23999.0 / 8000);
}

TEST(AudioPlayback, StopReturnsEveryBufferAndThePlayerCanStartAgain) {
  Rig rig(MakeRamp(2, 44100, 441000));
  rig.player->Play(0, 0);
  rig.Run(10000);
  rig.player->Stop();
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  EXPECT_FALSE(rig.output->IsOpen());
  EXPECT_EQ(rig.output->Calls(FakeWaveCall::Reset), 1);
  EXPECT_EQ(rig.output->Calls(FakeWaveCall::Unprepare), 2);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(rig.player->Header(i).bufferLength, 0u);
  EXPECT_FALSE(rig.player->PlaybackFinished());
  EXPECT_FALSE(rig.player->EndReached());
  rig.player->Stop();  // idle: nothing happens
  EXPECT_EQ(rig.output->Calls(FakeWaveCall::Reset), 1);

  rig.player->Play(5.0, 0);
  EXPECT_EQ(rig.player->State(), kDevicePlaying);
  EXPECT_EQ(rig.output->Calls(FakeWaveCall::Open), 2);
}

TEST(AudioPlayback, StopIsBoundedWhenTheDeviceKeepsItsBuffers) {
  Rig rig(MakeRamp(1, 8000, 80000));
  rig.output->returnsOnReset = false;
  rig.player->SetStopTimeout(std::chrono::milliseconds(30));
  rig.player->Play(0, 0);
  rig.player->Stop();
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  EXPECT_FALSE(rig.output->IsOpen());
  EXPECT_EQ(rig.output->QueuedCount(), 0);
  EXPECT_STREQ(rig.player->ErrorText(), "Fake device: the buffer is still queued.");
}

TEST(AudioPlayback, NotificationHookWakesTheUiThread) {
  Rig rig(MakeRamp(1, 8000, 80000));
  int wakes = 0;
  rig.player->SetNotificationHook([&] { ++wakes; });
  rig.player->Play(0, 0);
  rig.output->Advance(8000);
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(rig.output->QueuedCount(), 1);  // not yet refilled: the drain has not run
  rig.player->ProcessNotifications();
  EXPECT_EQ(rig.output->QueuedCount(), 2);
}

// Each failing call leaves the player idle with the device's text and the device closed.
class PlaybackFailure : public testing::TestWithParam<FakeWaveCall> {};

TEST_P(PlaybackFailure, LeavesIdleWithTheText) {
  Rig rig(MakeRamp(1, 8000, 80000));
  rig.output->FailOn(GetParam(), GetParam() == FakeWaveCall::Queue ? 2 : 1);
  rig.player->Play(0, 0);
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  EXPECT_NE(std::string(rig.player->ErrorText()).find("failed"), std::string::npos) << rig.player->ErrorText();
  EXPECT_FALSE(rig.output->IsOpen());
  EXPECT_EQ(rig.output->QueuedCount(), 0);
  // The device is usable again.
  rig.player->Play(0, 0);
  EXPECT_EQ(rig.player->State(), kDevicePlaying);
}

INSTANTIATE_TEST_SUITE_P(EveryStartCall, PlaybackFailure,
                         testing::Values(FakeWaveCall::Open, FakeWaveCall::Pause, FakeWaveCall::Prepare,
                                         FakeWaveCall::Queue, FakeWaveCall::Restart));

TEST(AudioPlayback, FailuresWhileStoppingStillCloseTheDevice) {
  for (FakeWaveCall call : {FakeWaveCall::Reset, FakeWaveCall::Unprepare}) {
    Rig rig(MakeRamp(1, 8000, 80000));
    rig.player->SetStopTimeout(std::chrono::milliseconds(30));
    rig.player->Play(0, 0);
    rig.output->FailOn(call);
    rig.player->Stop();
    EXPECT_EQ(rig.player->State(), kDeviceIdle);
    EXPECT_FALSE(rig.output->IsOpen());
    EXPECT_NE(std::string(rig.player->ErrorText()).find("failed"), std::string::npos);
  }
}

TEST(AudioPlayback, FailuresWhilePlayingKeepTheTextAndEnd) {
  Rig rig(MakeRamp(1, 8000, 80000));
  rig.player->Play(0, 0);
  rig.output->Advance(4000);
  rig.output->FailOn(FakeWaveCall::GetPosition);
  EXPECT_EQ(rig.player->GetPositionSeconds(), 0.0);  // the last good position
  EXPECT_STREQ(rig.player->ErrorText(), "Fake device: GetPosition failed.");
  EXPECT_EQ(rig.player->GetPositionSeconds(), 0.5);

  // A refill that cannot be queued ends playback once the other buffer is back.
  rig.output->FailOn(FakeWaveCall::Queue);
  rig.Run(4000);
  EXPECT_EQ(rig.player->State(), kDevicePlaying);
  rig.output->FailOn(FakeWaveCall::Queue);
  rig.Run(8000);
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  EXPECT_STREQ(rig.player->ErrorText(), "Fake device: Queue failed.");
}

TEST(AudioPlayback, NoDeviceOrNoSourceIsIdle) {
  MemoryContainer source = MakeRamp(1, 8000, 8000);
  CAI_AudioPlayer none(&source, nullptr, nullptr, nullptr);
  none.Play(0, 0);
  EXPECT_EQ(none.State(), kDeviceIdle);
  EXPECT_STREQ(none.ErrorText(), "There is no sound output device.");
  EXPECT_FALSE(none.CanPlayFormat(8000, 1, 16, false));

  auto out = std::make_unique<FakeWaveDevice>(WaveDirection::Output);
  out->deviceCount = 0;
  CAI_AudioPlayer noDevice(&source, nullptr, std::move(out), nullptr);
  EXPECT_FALSE(noDevice.CanPlayFormat(8000, 1, 32, true));
  noDevice.Play(0, 0);
  EXPECT_EQ(noDevice.State(), kDeviceIdle);
  EXPECT_STREQ(noDevice.ErrorText(), "Fake device: no device.");

  CAI_AudioPlayer noSource(nullptr, nullptr, std::make_unique<FakeWaveDevice>(WaveDirection::Output), nullptr);
  noSource.Play(0, 0);
  EXPECT_EQ(noSource.State(), kDeviceIdle);
}

TEST(AudioPlayback, RefusesFormatsTheDevicesCannotCarry) {
  MemoryContainer threeChannels(3, 8000, 8000);
  CAI_AudioPlayer player(&threeChannels, nullptr, std::make_unique<FakeWaveDevice>(WaveDirection::Output), nullptr);
  player.Play(0, 0);
  EXPECT_EQ(player.State(), kDeviceIdle);
  EXPECT_NE(std::string(player.ErrorText()).find("3 channels"), std::string::npos);
}

TEST(AudioPlayback, DestructionWhilePlayingClosesTheDevice) {
  Rig rig(MakeRamp(1, 8000, 80000));
  rig.player->Play(0, 0);
  FakeWaveDevice* out = rig.output;
  EXPECT_TRUE(out->IsOpen());
  // The device goes with the player; what matters is that no notice reaches a dead player.
  rig.player.reset();
}

}  // namespace

namespace {

TEST(AudioPlayback, BufferReturnedEarlyIsRefilledFromWhereReadingStopped) {
  Rig rig(MakeRamp(1, 8000, 40000));
  rig.player->Play(0, 0);
  rig.output->Advance(100);
  ASSERT_TRUE(rig.output->ReturnNext());  // the device gives the first buffer back unfinished
  rig.player->Poll();
  EXPECT_EQ(rig.player->PlayPosition(), 24000);
  EXPECT_EQ(rig.output->QueuedCount(), 2);
  rig.RunToEnd();
  EXPECT_EQ(rig.player->State(), kDeviceIdle);
  // 100 frames of the first second, then seconds 2 to 5 whole.
  EXPECT_EQ(rig.output->played.size(), (100u + 32000u) * 4);
}

}  // namespace
