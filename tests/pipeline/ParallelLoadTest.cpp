// The load on several threads against the load on one: every track, block, signature, colour and
// summary the same, with DC correction, at a rate whose chunk is wider than the mix pass, after a
// cancel, and when a lane's decoder delivers less than asked; and the load in steps (a document
// shown while it loads) the same again. Also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "pipeline/ChunkPipeline.h"
#include "pipeline/ProgressiveLoad.h"
#include "pipeline/SampleMixer.h"
#include "tests/analysis/TestAudio.h"
#include "tests/pipeline/PipelineTestSupport.h"

namespace {

using namespace pipeline_test;

// Stereo of tones, sweeps and noise with a DC offset, frames x 2 floats.
std::vector<float> Programme(int frames, int rate) {
  const std::vector<float> a = testaudio::Sweep(frames, rate, 100, 5000);
  const std::vector<float> b = testaudio::Noise(frames, 7, 0.4f);
  const std::vector<float> c = testaudio::Tone(frames, rate, 441, 0.3f);
  std::vector<float> stereo(std::size_t(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    const bool quiet = (i / (rate / 3)) % 4 == 3;
    stereo[2 * std::size_t(i)] = quiet ? 0.0f : 0.05f + a[std::size_t(i)] * 0.8f;
    stereo[2 * std::size_t(i) + 1] = (i / rate) % 2 ? b[std::size_t(i)] : c[std::size_t(i)] - 0.02f;
  }
  return stereo;
}

void ExpectSameTracks(const CAP_SampleMixer& one, const CAP_SampleMixer& many, const std::string& what) {
  ASSERT_EQ(one.TrackCount(), many.TrackCount()) << what;
  EXPECT_EQ(one.duration, many.duration) << what;
  EXPECT_EQ(one.writePosition, many.writePosition) << what;
  for (int c = 0; c < one.channels; ++c) EXPECT_EQ(one.DCOffset(c), many.DCOffset(c)) << what;
  for (int k = 0; k < one.TrackCount(); ++k) {
    const CAP_SampleTrack& a = *one.Track(k);
    const CAP_SampleTrack& b = *many.Track(k);
    ASSERT_EQ(a.Length(), b.Length()) << what << " track " << k;
    ASSERT_EQ(a.BlockCount(), b.BlockCount()) << what << " track " << k;
    EXPECT_EQ(a.duration, b.duration) << what << " track " << k;
    EXPECT_EQ(a.ViewerCount(), b.ViewerCount()) << what << " track " << k;
    int index = 0;
    for (const SampleBlock *p = a.Head(), *q = b.Head(); p && q; p = p->next, q = q->next, ++index) {
      ASSERT_EQ(p->count, q->count) << what << " track " << k << " block " << index;
      ASSERT_EQ(p->allocated, q->allocated) << what << " track " << k << " block " << index;
      ASSERT_EQ(p->signature, q->signature) << what << " track " << k << " block " << index;
      ASSERT_EQ(p->color, q->color) << what << " track " << k << " block " << index;
      // Samples and every summary level, bit for bit.
      ASSERT_EQ(std::memcmp(p->Samples(), q->Samples(), sizeof(float) * std::size_t(p->allocated)), 0)
          << what << " track " << k << " block " << index;
    }
  }
}

struct Cancel {
  int at = -1;
  int calls = 0;
  static bool Answer(std::intptr_t user, const char*, int) {
    auto* c = reinterpret_cast<Cancel*>(user);
    return c->calls++ != c->at;
  }
};

// A source that delivers at most some frames a pull, as a decoder near a damaged frame may.
struct ShortSource : VectorSource {
  using VectorSource::VectorSource;
  int ReadFloat(float* dest, int frames, int position) override {
    return VectorSource::ReadFloat(dest, std::min(frames, 1000 + position % 3000), position);
  }
};

TEST(ParallelLoad, TracksEqualTheLoadOnOneThread) {
  struct Case {
    std::string what;
    int rate;
    double seconds;
    bool correctDC;
    int cancelAt;  // progress call that answers false; -1 = none
    bool shortReads;
    int threads;
  };
  const std::vector<Case> cases = {
      {"44,100 Hz, DC corrected", 44100, 9.3, true, -1, false, 4},
      {"96,000 Hz: chunks wider than the mix pass", 96000, 4.05, false, -1, false, 3},
      {"8,000 Hz on two threads", 8000, 20.0, true, -1, false, 2},
      {"cancelled in the middle", 44100, 8.0, false, 37, false, 4},
      {"short pulls", 22050, 6.0, false, -1, true, 4},
      {"one thread is the plain load", 11025, 3.0, false, -1, false, 1},
  };
  for (const Case& c : cases) {
    const int frames = int(c.rate * c.seconds);
    const std::vector<float> stereo = Programme(frames, c.rate);
    CAP_SampleMixer one(2, c.rate, true), many(2, c.rate, true);
    one.SetLoadThreads(1);
    many.SetLoadThreads(c.threads);
    bool answers[2];
    CAP_SampleMixer* mixers[2] = {&one, &many};
    for (int m = 0; m < 2; ++m) {
      mixers[m]->SetCorrectDC(c.correctDC);
      std::unique_ptr<VectorSource> source =
          c.shortReads ? std::make_unique<ShortSource>(2, c.rate, stereo) : std::make_unique<VectorSource>(2, c.rate, stereo);
      Cancel cancel{c.cancelAt};
      answers[m] = mixers[m]->LoadFrom(*source, frames, Cancel::Answer, std::intptr_t(&cancel));
    }
    EXPECT_EQ(answers[0], c.cancelAt < 0) << c.what;
    EXPECT_EQ(answers[1], answers[0]) << c.what;
    ExpectSameTracks(one, many, c.what);
    if (c.cancelAt < 0) {
      // The load in steps of a document shown while it loads: a reading thread ahead, the
      // tracks filled between steps of varying length (none: one chunk a step).
      CAP_SampleMixer stepped(2, c.rate, true);
      stepped.SetCorrectDC(c.correctDC);
      std::unique_ptr<VectorSource> source =
          c.shortReads ? std::make_unique<ShortSource>(2, c.rate, stereo) : std::make_unique<VectorSource>(2, c.rate, stereo);
      ProgressiveLoad load(stepped, *source, frames);
      for (int step = 0; load.Step(std::chrono::microseconds(step % 3 * 300)); ++step) {
        EXPECT_LE(load.Percent(), 100);
      }
      EXPECT_TRUE(load.Finished()) << c.what;
      EXPECT_EQ(load.Percent(), 100) << c.what;
      ExpectSameTracks(one, stepped, c.what + ", in steps");
    }
    if (c.cancelAt < 0 && !c.shortReads) {
      EXPECT_EQ(many.Track(2)->Length(), frames) << c.what;
    }
  }
}

TEST(ParallelLoad, ALaneFailureReachesTheCaller) {
  // Every chunk goes through every lane until the failure, which the caller gets back.
  std::vector<int> taken(3, 0);
  int produced = 0;
  auto produce = [&](int) { return ProducedChunk{true, ++produced < 200}; };
  auto consume = [&](int lane, int) {
    if (lane == 1 && taken[1] == 50) throw std::runtime_error("lane");
    ++taken[std::size_t(lane)];
  };
  EXPECT_THROW(RunChunkPipeline(3, 8, 2, produce, consume), std::runtime_error);
  EXPECT_EQ(taken[1], 50);
  EXPECT_LT(produced, 200);
}

TEST(ParallelLoad, AForkedChildRunsPipelines) {
  // The parent's helper threads (kept from the pipeline above or run here) are not in the child.
  auto run = [] {
    int produced = 0, taken = 0;
    RunChunkPipeline(3, 8, 2, [&](int) { return ProducedChunk{true, ++produced < 100}; },
                     [&](int, int) { ++taken; });
    return taken;
  };
  ASSERT_EQ(run(), 300);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(20);  // a hang fails the test instead of holding it up
    _exit(run() == 300 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
