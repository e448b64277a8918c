// The ALSA backend against a self-contained configuration written for each test: "default" is a
// file plugin over the null device (played bytes land in a file, captured bytes come from one),
// or is missing altogether, as on a machine without a sound card.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "analysis/SampleTrack.h"
#include "analysis/SoundSignature.h"
#include "devices/AudioPlayer.h"
#include "devices/alsa/AlsaWaveDevice.h"
#include "tests/devices/TestContainers.h"

namespace fs = std::filesystem;

namespace {

// Hides float support, so that the player takes the 16-bit path.
class SixteenBitOnly final : public CAI_WaveDevice {
public:
  explicit SixteenBitOnly(std::unique_ptr<CAI_WaveDevice> inner) : inner_(std::move(inner)) {}
  WaveDirection Direction() const override { return inner_->Direction(); }
  int DeviceCount() override { return inner_->DeviceCount(); }
  int QueryFormat(const WaveFormat& f) override { return f.isFloat ? 99 : inner_->QueryFormat(f); }
  int Open(const WaveFormat& f, WaveNotificationSink* s) override { return inner_->Open(f, s); }
  int Pause() override { return inner_->Pause(); }
  int Restart() override { return inner_->Restart(); }
  int Start() override { return inner_->Start(); }
  int Prepare(WaveHeader* h) override { return inner_->Prepare(h); }
  int Unprepare(WaveHeader* h) override { return inner_->Unprepare(h); }
  int Queue(WaveHeader* h) override { return inner_->Queue(h); }
  int Reset() override { return inner_->Reset(); }
  int Close() override { return inner_->Close(); }
  int GetPosition(std::int64_t* s) override { return inner_->GetPosition(s); }
  std::string ErrorText(int r) const override { return r == 99 ? "no float" : inner_->ErrorText(r); }

private:
  std::unique_ptr<CAI_WaveDevice> inner_;
};

class AlsaBackend : public testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/tintwave-alsa-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    if (const char* old = std::getenv("ALSA_CONFIG_PATH")) oldConfig_ = old;
  }
  void TearDown() override {
    if (oldConfig_.empty())
      unsetenv("ALSA_CONFIG_PATH");
    else
      setenv("ALSA_CONFIG_PATH", oldConfig_.c_str(), 1);
    snd_config_update_free_global();
    fs::remove_all(dir_);
  }
  // alsa-lib keeps its parsed configuration; drop it so the new file is read.
  void UseConfig(const std::string& text) {
    const fs::path conf = dir_ / "test-alsa.conf";
    std::ofstream(conf) << text;
    setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
    snd_config_update_free_global();
  }
  void UseFilePlugin() {
    UseConfig("pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"" + Played().string() +
              "\"\n  infile \"" + Capture().string() + "\"\n  format \"raw\"\n  perm 0644\n}\n");
  }
  fs::path Played() const { return dir_ / "played.raw"; }
  fs::path Capture() const { return dir_ / "to-capture.raw"; }
  std::vector<std::uint8_t> PlayedBytes() const {
    std::ifstream in(Played(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void WriteCapture(const void* data, std::size_t bytes) {
    std::ofstream(Capture(), std::ios::binary).write(static_cast<const char*>(data), std::streamsize(bytes));
  }
  // Polls as the document's tick does until the player is idle; false after the time limit.
  static bool RunUntilIdle(CAI_AudioPlayer& player, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (player.State() != kDeviceIdle) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      player.Poll();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  fs::path dir_;
  std::string oldConfig_;
};

TEST_F(AlsaBackend, NoDeviceFailsCleanlyEverywhere) {
  UseConfig("# no default PCM at all\n");
  AlsaWaveDevice output(WaveDirection::Output), input(WaveDirection::Input);
  EXPECT_EQ(output.DeviceCount(), 0);
  EXPECT_EQ(input.DeviceCount(), 0);
  const int r = output.QueryFormat({44100, 2, 32, true});
  EXPECT_NE(r, kWaveOk);
  EXPECT_EQ(output.ErrorText(r), "Cannot open the sound output \"default\": No such file or directory");
  EXPECT_NE(output.Open({44100, 2, 16, false}, nullptr), kWaveOk);
  EXPECT_NE(output.Queue(nullptr), kWaveOk);
  EXPECT_NE(output.Close(), kWaveOk);
  std::int64_t position = -1;
  EXPECT_NE(input.GetPosition(&position), kWaveOk);
  EXPECT_EQ(input.ErrorText(1), "The sound input is not open.");

  MemoryContainer doc = MakeRamp(2, 44100, 44100);
  CAI_AudioPlayer player(&doc, &doc, std::make_unique<AlsaWaveDevice>(WaveDirection::Output),
                         std::make_unique<AlsaWaveDevice>(WaveDirection::Input));
  EXPECT_FALSE(player.CanPlayFormat(44100, 2, 32, true));
  player.Play(0, 0);
  EXPECT_EQ(player.State(), kDeviceIdle);
  EXPECT_STREQ(player.ErrorText(), "Cannot open the sound output \"default\": No such file or directory");
  player.Record(0, 0);
  EXPECT_EQ(player.State(), kDeviceIdle);
  EXPECT_STREQ(player.ErrorText(), "Cannot open the sound input \"default\": No such file or directory");
  EXPECT_LE(std::strlen(player.ErrorText()), 255u);
}

TEST_F(AlsaBackend, PlayedBytesAreTheDocumentsFloatSamples) {
  UseFilePlugin();
  MemoryContainer doc = MakeRamp(2, 44100, 44100 * 3 / 2);
  std::atomic<int> wakes{0};
  CAI_AudioPlayer player(&doc, nullptr, std::make_unique<AlsaWaveDevice>(WaveDirection::Output), nullptr);
  player.SetNotificationHook([&] { ++wakes; });
  player.Play(0, 0);
  ASSERT_EQ(player.State(), kDevicePlaying) << player.ErrorText();
  EXPECT_TRUE(player.PlayFloat());
  ASSERT_TRUE(RunUntilIdle(player));
  EXPECT_GE(wakes.load(), 2);
  const std::vector<std::uint8_t> bytes = PlayedBytes();
  ASSERT_EQ(bytes.size(), doc.samples.size() * 4);
  EXPECT_EQ(std::memcmp(bytes.data(), doc.samples.data(), bytes.size()), 0);
  EXPECT_STREQ(player.ErrorText(), "");
}

TEST_F(AlsaBackend, PlayedBytesInSixteenBitsWhenFloatIsRefused) {
  UseFilePlugin();
  MemoryContainer doc = MakeRamp(1, 22050, 30000);
  CAI_AudioPlayer player(&doc, nullptr,
                         std::make_unique<SixteenBitOnly>(std::make_unique<AlsaWaveDevice>(WaveDirection::Output)),
                         nullptr);
  player.Play(0.5, 1.0);  // frames 11025..22049
  ASSERT_EQ(player.State(), kDevicePlaying) << player.ErrorText();
  EXPECT_FALSE(player.PlayFloat());
  ASSERT_TRUE(RunUntilIdle(player));
  const std::vector<std::uint8_t> bytes = PlayedBytes();
  ASSERT_EQ(bytes.size(), 11025u * 2);
  for (int i = 0; i < 11025; ++i)
    ASSERT_EQ(std::int16_t(bytes[2 * i] | bytes[2 * i + 1] << 8), FloatToInt16(doc.At(11025 + i))) << i;
}

TEST_F(AlsaBackend, StopInTheMiddleHandsEverythingBack) {
  UseFilePlugin();
  MemoryContainer doc = MakeRamp(2, 48000, 48000 * 30);
  CAI_AudioPlayer player(&doc, nullptr, std::make_unique<AlsaWaveDevice>(WaveDirection::Output), nullptr);
  for (int round = 0; round < 3; ++round) {
    player.Play(0, 0);
    ASSERT_EQ(player.State(), kDevicePlaying) << player.ErrorText();
    std::this_thread::sleep_for(std::chrono::milliseconds(round * 3));
    player.Poll();
    player.Stop();
    EXPECT_EQ(player.State(), kDeviceIdle);
    EXPECT_STREQ(player.ErrorText(), "");
  }
  EXPECT_EQ(PlayedBytes().size() % 8, 0u);
}

TEST_F(AlsaBackend, RecordingHoldsTheCapturedFloatSamplesLessTheOffset) {
  UseFilePlugin();
  std::vector<float> heard(8000 * 3);
  for (std::size_t i = 0; i < heard.size(); ++i) heard[i] = float((i * 7919) % 2001) / 1000.0f - 1.0f;
  WriteCapture(heard.data(), heard.size() * 4);
  MemoryContainer sink(1, 8000);
  CAI_AudioPlayer player(nullptr, &sink, nullptr, std::make_unique<AlsaWaveDevice>(WaveDirection::Input));
  player.SetDcOffsets(0.125f, 0);
  player.Record(0, 1.0);
  ASSERT_EQ(player.State(), kDeviceRecording) << player.ErrorText();
  EXPECT_TRUE(player.RecordFloat());
  ASSERT_TRUE(RunUntilIdle(player));
  ASSERT_EQ(sink.Frames(), 8000);
  for (int i = 0; i < 8000; ++i) ASSERT_EQ(sink.At(i), std::clamp(heard[i] - 0.125f, -1.0f, 1.0f)) << i;
}

TEST_F(AlsaBackend, RecordingInSixteenBitsUntilStop) {
  UseFilePlugin();
  std::vector<std::int16_t> heard(2 * 44100 * 2);
  for (std::size_t i = 0; i < heard.size(); ++i) heard[i] = std::int16_t((i * 2654435761u) >> 16);
  WriteCapture(heard.data(), heard.size() * 2);
  MemoryContainer sink(2, 44100);
  CAI_AudioPlayer player(nullptr, &sink, nullptr,
                         std::make_unique<SixteenBitOnly>(std::make_unique<AlsaWaveDevice>(WaveDirection::Input)));
  player.SetDcOffsets(0, -0.01f);  // the right channel is raised by 328
  player.Record(0, 0);
  ASSERT_EQ(player.State(), kDeviceRecording) << player.ErrorText();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (sink.Frames() < 20000 && std::chrono::steady_clock::now() < deadline) {
    player.Poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  player.Stop();
  EXPECT_EQ(player.State(), kDeviceIdle);
  ASSERT_GE(sink.Frames(), 20000);
  for (int i = 0; i < 20000; ++i) {
    ASSERT_EQ(sink.At(i, 0), heard[2 * i] / 32768.0f) << i;
    ASSERT_EQ(sink.At(i, 1), std::clamp(heard[2 * i + 1] + 328, -32767, 32767) / 32768.0f) << i;
  }
}

TEST_F(AlsaBackend, RecordIntoATrackAndPlayItBack) {
  if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  const std::string make = "sox -n -r 16000 -c 1 -b 32 -e floating-point -t raw '" + Capture().string() +
                           "' synth 2 sine 300-3000 vol 0.7 2>/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0);
  UseFilePlugin();
  CAP_SampleTrack track(16000);
  CAI_AudioPlayer player(&track, &track, std::make_unique<AlsaWaveDevice>(WaveDirection::Output),
                         std::make_unique<AlsaWaveDevice>(WaveDirection::Input));
  player.Record(0, 1.0);
  ASSERT_EQ(player.State(), kDeviceRecording) << player.ErrorText();
  ASSERT_TRUE(RunUntilIdle(player));
  ASSERT_EQ(track.Length(), 16000);

  player.Play(0, 0);
  ASSERT_EQ(player.State(), kDevicePlaying) << player.ErrorText();
  ASSERT_TRUE(RunUntilIdle(player));
  std::ifstream in(Capture(), std::ios::binary);
  std::vector<float> heard(16000);
  in.read(reinterpret_cast<char*>(heard.data()), std::streamsize(heard.size() * 4));
  const std::vector<std::uint8_t> bytes = PlayedBytes();
  ASSERT_EQ(bytes.size(), heard.size() * 4);
  EXPECT_EQ(std::memcmp(bytes.data(), heard.data(), bytes.size()), 0);
}

}  // namespace
