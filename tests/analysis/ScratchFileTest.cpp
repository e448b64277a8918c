// The scratch file behind the sample slabs: a track larger than its heap share lives in the file
// and reads back as written, edits move its blocks as in memory, its disk space goes back with
// the track, and a full disk is a ScratchFull, with the track as it was.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <vector>

#include "analysis/SampleTrack.h"
#include "analysis/ScratchFile.h"
#include "tests/analysis/TestAudio.h"

namespace {
struct ScratchDirectory {
  std::filesystem::path path = std::filesystem::temp_directory_path() / ("tintwave-scratch-test-" + std::to_string(getpid()));
  ScratchDirectory() {
    std::string error;
    EXPECT_TRUE(scratch::UseDirectory(path.string(), &error)) << error;
    scratch::SetMemoryShare(0);  // every region in the file
  }
  ~ScratchDirectory() {
    scratch::SetMemoryShare(scratch::kAutomaticShare);
    scratch::UseDirectory("", nullptr);
    std::filesystem::remove_all(path);
  }
};

std::vector<float> Read(CAP_SampleTrack& t) {
  std::vector<float> v(std::size_t(t.Length()));
  t.ReadSamples(v.data(), t.Length(), 0);
  return v;
}

constexpr int kRate = 44100;
constexpr int kSeconds = 440;  // 78 MB of samples: past the heap's share, into two regions and more
}  // namespace

TEST(ScratchFile, TracksLiveInTheFileAndGiveItsSpaceBack) {
  ScratchDirectory directory;
  ASSERT_TRUE(scratch::Active());
  // Nothing is left in the folder: the file has no name.
  EXPECT_TRUE(std::filesystem::is_empty(directory.path));
  std::vector<float> model;
  {
    CAP_SampleTrack t(kRate);
    const std::vector<float> second = testaudio::Noise(kRate, 3, 0.8f);
    for (int s = 0; s < kSeconds; ++s) {
      t.InsertSamples(second.data(), kRate, t.Length());
      model.insert(model.end(), second.begin(), second.end());
    }
    EXPECT_GE(scratch::DiskBytes(), std::size_t(kSeconds - 40) * kRate * sizeof(float));
    int chainStart = 0;
    BlockChain old = t.ChangeRange(
        t.Length(), 0,
        [](const float* in, float* out, int n, long long) {
          for (int i = 0; i < n; ++i) out[i] = -in[i];
        },
        &chainStart);
    for (float& x : model) x = -x;
    ASSERT_EQ(Read(t), model);
    const std::size_t both = scratch::DiskBytes();
    old = BlockChain();  // a whole-file undo group goes: its regions go back to the file
    EXPECT_LT(scratch::DiskBytes(), both);
  }
  EXPECT_EQ(scratch::DiskBytes(), 0u);
}

// Regions within the memory share stay in memory; the file takes the rest.
TEST(ScratchFile, RegionsPastTheMemoryShareGoToTheFile) {
  ScratchDirectory directory;
  constexpr std::size_t kRegion = std::size_t(32) << 20;
  scratch::SetMemoryShare(kRegion);
  {
    CAP_SampleTrack t(kRate);
    const std::vector<float> second = testaudio::Noise(kRate, 7, 0.8f);
    for (int s = 0; s < kSeconds; ++s) t.InsertSamples(second.data(), kRate, t.Length());
    // 78 MB: 4 MB on the heap, then three regions, the first in memory.
    EXPECT_EQ(scratch::DiskBytes(), 2 * kRegion);
    const std::vector<float> samples = Read(t);
    for (int s = 0; s < kSeconds; s += 13)
      ASSERT_TRUE(std::equal(second.begin(), second.end(), samples.begin() + std::ptrdiff_t(s) * kRate)) << s;
  }
  EXPECT_EQ(scratch::DiskBytes(), 0u);
}

TEST(ScratchFile, AFullDiskIsReportedAndTheTrackStaysWhole) {
  ScratchDirectory directory;
  // A file-size limit stands in for a full disk: a region past it cannot be placed.
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = rlim_t(64) << 20;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  CAP_SampleTrack t(kRate);
  const std::vector<float> second = testaudio::Noise(kRate, 5, 0.8f);
  bool full = false;
  int written = 0;
  for (int s = 0; s < kSeconds && !full; ++s) {
    try {
      t.InsertSamples(second.data(), kRate, t.Length());
      ++written;
    } catch (const ScratchFull& e) {
      full = true;
      EXPECT_STREQ(e.what(), "The scratch disk is full");
    }
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldSignal);
  EXPECT_TRUE(full);
  // The failed insertion left nothing behind; the seconds before are all there.
  ASSERT_EQ(t.Length(), written * kRate);
  const std::vector<float> samples = Read(t);
  for (int s = 0; s < written; ++s)
    ASSERT_TRUE(std::equal(second.begin(), second.end(), samples.begin() + std::ptrdiff_t(s) * kRate)) << s;
}
