// Saving through a temporary file: the target is replaced only by a complete file; a full disk,
// a refused type or a missing folder leave the old file as it was and no temporary behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "pipeline/SafeSave.h"
#include "pipeline/SampleMixer.h"
#include "tests/pipeline/PipelineTestSupport.h"

namespace {

using namespace pipeline_test;
namespace fs = std::filesystem;

struct SaveFixture : testing::Test {
  void SetUp() override {
    std::vector<float> frames(2 * 44100);
    for (int i = 0; i < 44100; ++i) {
      frames[2 * i] = float(0.5 * std::sin(i * 0.03));
      frames[2 * i + 1] = float(0.25 * std::cos(i * 0.05));
    }
    mixer.WriteFloat(frames.data(), 44100, 0);
    old = dir / "song.wav";
    std::ofstream(old, std::ios::binary) << "the old file";
  }
  double Seconds() { return mixer.Track(mixer.TrackCount() - 1)->duration; }
  int EntriesInFolder() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir / "")) ++n;
    return n;
  }

  TempDir dir;
  CAP_SampleMixer mixer{2, 44100, true};
  std::string old;
};

TEST_F(SaveFixture, ASuccessfulSaveReplacesTheFileAndKeepsItsPermissions) {
  ::chmod(old.c_str(), 0640);
  std::vector<int> percents;
  auto record = [](std::intptr_t user, const char* text, int percent) {
    reinterpret_cast<std::vector<int>*>(user)->push_back(*text ? percent : -percent);
    return true;
  };
  const SaveTarget target{old, FileFormatWave, 1, 22050, CompressionPcm16};
  ASSERT_EQ(SaveAudioSafely(mixer, Seconds(), target, nullptr, record, std::intptr_t(&percents)), "");
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.back(), -100);
  EXPECT_EQ(percents[percents.size() - 2], 100);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end() - 1));
  EXPECT_EQ(EntriesInFolder(), 1);
  struct stat st {};
  ASSERT_EQ(::stat(old.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  OpenedFile file(old);
  ASSERT_EQ(file.decoder->errorText, "");
  EXPECT_EQ(file.decoder->sampleRate, 22050);
  EXPECT_EQ(file.decoder->channels, 1);
  EXPECT_EQ(file.decoder->TotalFrames(), 22050);
}

TEST_F(SaveFixture, ASymbolicLinkStaysALinkToTheSavedFile) {
  const std::string link = dir / "link.wav";
  fs::create_symlink(old, link);
  ASSERT_EQ(SaveAudioSafely(mixer, Seconds(), SaveTarget{link, FileFormatWave, 2, 44100, CompressionPcm24}, nullptr), "");
  EXPECT_TRUE(fs::is_symlink(link));
  OpenedFile file(old);
  EXPECT_EQ(file.decoder->compression, CompressionPcm24);
  EXPECT_EQ(EntriesInFolder(), 2);
}

TEST_F(SaveFixture, FailuresLeaveTheOldFileUntouched) {
  // An encoding the AU writer refuses, a type without a writer, and a folder that does not exist.
  EXPECT_EQ(SaveAudioSafely(mixer, Seconds(), SaveTarget{old, FileFormatAu, 1, 44100, CompressionFloat32}, nullptr),
            "Compression type not supported for output");
  EXPECT_EQ(SaveAudioSafely(mixer, Seconds(), SaveTarget{old, 7, 1, 44100, CompressionPcm16}, nullptr),
            "Unknown file type 7");
  // A save the progress callback stops half way.
  auto stopHalfWay = [](std::intptr_t, const char*, int percent) { return percent < 50; };
  EXPECT_EQ(SaveAudioSafely(mixer, Seconds(), SaveTarget{old, FileFormatWave, 2, 44100, CompressionPcm16}, nullptr,
                            stopHalfWay),
            kSaveCancelled);
  const std::string missing = dir / "no/such/folder/x.wav";
  EXPECT_EQ(SaveAudioSafely(mixer, Seconds(), SaveTarget{missing, FileFormatWave, 1, 44100, CompressionPcm16}, nullptr),
            "Couldn't write to file '" + missing + "'");
  EXPECT_EQ(ReadText(old), "the old file");
  EXPECT_EQ(EntriesInFolder(), 1);
}

TEST_F(SaveFixture, WhatTheUserMayNotWriteStaysAsItIs) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write every file";
  ::chmod(old.c_str(), 0444);
  EXPECT_EQ(SaveAudioSafely(mixer, Seconds(), SaveTarget{old, FileFormatWave, 1, 44100, CompressionPcm16}, nullptr),
            "Couldn't write to file '" + old + "'");
  EXPECT_EQ(ReadText(old), "the old file");
  // A folder that became read-only takes no temporary file.
  ::chmod(old.c_str(), 0644);
  ::chmod((dir / "").c_str(), 0555);
  EXPECT_EQ(SaveAudioSafely(mixer, Seconds(), SaveTarget{old, FileFormatWave, 1, 44100, CompressionPcm16}, nullptr),
            "Couldn't write to file '" + old + "'");
  ::chmod((dir / "").c_str(), 0755);
  EXPECT_EQ(ReadText(old), "the old file");
  EXPECT_EQ(EntriesInFolder(), 1);
}

TEST_F(SaveFixture, AFullDiskLeavesTheOldFileUntouched) {
  // The file size limit of a child process stands for a full device: writes beyond it fail.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{50000, 50000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const std::string error =
        SaveAudioSafely(mixer, Seconds(), SaveTarget{old, FileFormatWave, 2, 44100, CompressionPcm16}, nullptr);
    _exit(error == "Error occured while writing audio data" ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadText(old), "the old file");
  EXPECT_EQ(EntriesInFolder(), 1);
}

}  // namespace
