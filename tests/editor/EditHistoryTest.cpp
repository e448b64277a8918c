// The edit history against a plain model: every operation done again on one vector of floats per
// track, the undo and redo stacks as lists of snapshots. The same steps, with the allocations
// made to fail one by one, must leave everything as it was. Then worked examples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <vector>

#include "editor/EditHistory.h"
#include "editor/SharedClipboard.h"
#include "formats/RateConverter.h"
#include "pipeline/SampleMixer.h"
#include "tests/analysis/TestAudio.h"

namespace {

using Tracks = std::vector<std::vector<float>>;

std::vector<float> Samples(const CAP_SampleTrack* t) {
  std::vector<float> v(std::size_t(t->Length()));
  const_cast<CAP_SampleTrack*>(t)->ReadSamples(v.data(), t->Length(), 0);
  return v;
}

// Bit for bit, naming the first difference (a printout of whole tracks helps nobody).
testing::AssertionResult Same(const Tracks& got, const Tracks& want) {
  if (got.size() != want.size()) return testing::AssertionFailure() << got.size() << " tracks, want " << want.size();
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i].size() != want[i].size())
      return testing::AssertionFailure() << "track " << i << ": " << got[i].size() << " samples, want " << want[i].size();
    for (std::size_t k = 0; k < got[i].size(); ++k)
      if (std::memcmp(&got[i][k], &want[i][k], sizeof(float)) != 0)
        return testing::AssertionFailure() << "track " << i << " sample " << k << ": " << got[i][k] << ", want "
                                           << want[i][k];
  }
  return testing::AssertionSuccess();
}

// The model fills every track with noise of its own and edits each on its own, so the mix track
// here is stored (a computed mix is the editor's differential test's).
struct StoredMixTrack {
  StoredMixTrack() { CAP_SampleMixer::SetMixComputed(false); }
};

struct Doc : StoredMixTrack {
  Doc(int channels, int rate, int length, unsigned seed) : mixer(channels, rate, true), history(&mixer, &clipboard) {
    CAP_SampleMixer::SetMixComputed(true);
    for (int i = 0; i < mixer.TrackCount(); ++i)
      mixer.Track(i)->InsertSamples(testaudio::Noise(length, seed + i).data(), length, 0);
  }
  Tracks Audio() const {
    Tracks t;
    for (int i = 0; i < mixer.TrackCount(); ++i) t.push_back(Samples(mixer.Track(i)));
    return t;
  }
  Tracks Clip() const {
    Tracks t;
    for (int i = 0; i < clipboard.FilledCount(); ++i) t.push_back(Samples(clipboard.Slot(i)));
    return t;
  }
  CAP_SampleMixer mixer;
  SharedClipboard clipboard;
  EP_EditHistory history;
  ViewState undoView;
};

enum Kind { kDelete, kCut, kCopy, kTrim, kPaste, kMix, kFade, kScale, kReverse, kInsert, kPitch, kUndo, kRedo,
            kRecord, kExtend, kWrite, kForeignClip };

struct Step {
  Kind kind = kDelete;
  int length = 0, start = 0;
  int a = 0, b = 0;  // percentages; Insert: buffer offset, total; foreign clipboard: rate
  float f0 = 0, f1 = 0;
  bool convert = false;
  ViewState view;
  Tracks data;  // Insert: the buffer; Write: the samples; foreign clipboard: its tracks
};

Step Of(Kind kind) {
  Step s;
  s.kind = kind;
  return s;
}

// ---- The model ----

struct State {
  Tracks tracks;
  float pitch = 0;
  int rate = 0;
};
struct Saved {
  State state;
  ViewState view;
};
struct Model {
  explicit Model(const Doc& d) { now = {d.Audio(), 0, d.mixer.sampleRate}; }
  void Edit(const ViewState& view) {
    undo.push_front({now, view});
    if (undo.size() > 5) undo.pop_back();
    redo.clear();
  }
  State now;
  std::deque<Saved> undo, redo;
  Tracks clip;
  int clipRate = 0, extensions = 0;
  int recStart = 0, recLength = 0, recEnd = 0;  // the recording's range and where extensions begin
  ViewState undoView;
};

void Clamp(const std::vector<float>& v, const Step& s, int* n, int* st) {
  const int size = int(v.size());
  *st = std::clamp(s.start, 0, size);
  *n = std::clamp(s.length, 0, size - *st);
}

float Mix(float s, float old, int sp, int tp) {
  if (sp == 100 && tp == 0) return s;  // a plain copy is not clamped
  const float x = float(sp) * s / 100.0f + float(tp) * old / 100.0f;
  return x > 1.0f ? 1.0f : x <= -1.0f ? -1.0f : x;
}

// [st, st + n) of v becomes src: the common part mixed, the rest removed or inserted plainly.
void Replace(std::vector<float>& v, int st, int n, const std::vector<float>& src, int sp, int tp) {
  const int c = int(src.size()), m = std::min(n, c);
  for (int k = 0; k < m; ++k) v[st + k] = Mix(src[k], v[st + k], sp, tp);
  if (c < n) v.erase(v.begin() + st + m, v.begin() + st + n);
  else v.insert(v.begin() + st + m, src.begin() + m, src.end());
}

std::vector<float> Convert(const std::vector<float>& v, int from, int to) {
  RateConverter converter(1, from, to);
  std::vector<float> out(std::size_t(converter.MaxOutputFrames(int(v.size())) + converter.MaxFlushFrames() + 1));
  int n = converter.Process(v.data(), int(v.size()), out.data());
  n += converter.Flush(out.data() + n);
  out.resize(std::size_t(n));
  return out;
}

// Returns what the history should return (bool ops 1/0, Paste the pasted length).
int ApplyModel(Model& m, const Step& s, const CAP_SampleMixer* mixer) {
  Tracks& tracks = m.now.tracks;
  int n = 0, st = 0;
  switch (s.kind) {
    case kCopy:
    case kCut:
      m.clip.clear();
      for (auto& v : tracks) {
        Clamp(v, s, &n, &st);
        m.clip.emplace_back(v.begin() + st, v.begin() + st + n);
      }
      m.clipRate = m.now.rate;
      if (s.kind == kCopy) return 1;
      [[fallthrough]];
    case kDelete:
      m.Edit(s.view);
      for (auto& v : tracks) Clamp(v, s, &n, &st), v.erase(v.begin() + st, v.begin() + st + n);
      return 1;
    case kTrim:
      m.Edit(s.view);
      for (auto& v : tracks) Clamp(v, s, &n, &st), v = std::vector<float>(v.begin() + st, v.begin() + st + n);
      return 1;
    case kPaste:
    case kMix: {
      if (m.clip.empty()) return 0;
      m.Edit(s.view);
      int pasted = 0;
      for (std::size_t i = 0; i < tracks.size(); ++i) {
        std::vector<float> src = m.clip.size() == tracks.size() ? m.clip[i] : m.clip.back();
        if (s.convert && m.clipRate != m.now.rate) src = Convert(src, m.clipRate, m.now.rate);
        Clamp(tracks[i], s, &n, &st);
        if (s.kind == kMix) {  // one copy over the range, running past the end when need be
          src.resize(std::min(src.size(), std::size_t(std::max(s.length, 0))));
          n = std::min(int(src.size()), int(tracks[i].size()) - st);
        }
        Replace(tracks[i], st, n, src, s.a, s.b);
        pasted = std::max(pasted, int(src.size()));
      }
      return pasted;
    }
    case kFade:
      m.Edit(s.view);
      for (auto& v : tracks) {
        Clamp(v, s, &n, &st);
        const double step = n > 0 ? (double(s.f1) - double(s.f0)) / n : 0.0;
        for (int k = 0; k < n; ++k) v[st + k] = float(v[st + k] * (s.f0 + step * double(k)));
      }
      return 1;
    case kScale:
      m.Edit(s.view);
      for (auto& v : tracks) {
        Clamp(v, s, &n, &st);
        for (int k = 0; k < n; ++k) {
          const float x = s.f0 * v[st + k];
          v[st + k] = x >= 1.0f ? 1.0f : x < -1.0f ? -1.0f : x;
        }
      }
      return 1;
    case kReverse:
      m.Edit(s.view);
      for (auto& v : tracks) Clamp(v, s, &n, &st), std::reverse(v.begin() + st, v.begin() + st + n);
      return 1;
    case kInsert: {
      m.Edit(s.view);
      const std::vector<float> buffer = s.data[0].empty() ? std::vector<float>(1024) : s.data[0];
      std::vector<float> repeated;
      for (int offset = std::clamp(s.a, 0, int(buffer.size())); int(repeated.size()) < s.b; offset = 0)
        repeated.insert(repeated.end(), buffer.begin() + offset,
                        buffer.begin() + std::min<std::size_t>(buffer.size(), offset + s.b - repeated.size()));
      for (auto& v : tracks) Clamp(v, s, &n, &st), Replace(v, st, n, repeated, 100, 0);
      return 1;
    }
    case kPitch: {
      m.Edit(s.view);
      int lowest, highest;
      mixer->PitchRange(&lowest, &highest);
      if (s.f0 != m.now.pitch) m.now.pitch = std::clamp(s.f0, float(lowest), float(highest));
      m.now.rate = mixer->RateForPitch(m.now.pitch);
      return 1;
    }
    case kUndo:
      if (m.undo.empty()) return 0;
      m.redo.push_front({m.now, m.undo.front().view});
      m.now = m.undo.front().state;
      m.undoView = m.undo.front().view;
      m.undo.pop_front();
      return 1;
    case kRedo:
      if (m.redo.empty()) return 0;
      m.undo.push_front({m.now, m.redo.front().view});
      m.now = m.redo.front().state;
      m.redo.pop_front();
      return 1;
    case kRecord:
      m.Edit(ViewState{});
      m.extensions = 0;
      Clamp(tracks[0], s, &m.recLength, &m.recStart);
      m.recEnd = int(tracks[0].size());
      return 1;
    case kExtend: {
      const int e = m.extensions++, seconds = e < 5 ? 1 : e < 10 ? 5 : e < 20 ? 10 : 30;
      for (auto& v : tracks) v.resize(v.size() + std::size_t(seconds) * m.now.rate, 0.0f);
      return 1;
    }
    case kWrite:
      for (auto& v : tracks) std::copy(s.data[0].begin(), s.data[0].end(), v.begin() + s.start);
      return 1;
    case kForeignClip:
      m.clip = s.data;
      m.clipRate = s.a;
      return 1;
  }
  return 0;
}

int Apply(Doc& d, const Step& s) {
  EP_EditHistory& h = d.history;
  int length = 0, start = 0;
  switch (s.kind) {
    case kDelete: return h.Delete(s.length, s.start, s.view);
    case kCut: return h.Cut(s.length, s.start, s.view);
    case kCopy: return h.Copy(s.length, s.start);
    case kTrim: return h.Trim(s.length, s.start, s.view);
    case kPaste: return h.Paste(s.length, s.start, PasteReplace, s.convert, s.a, s.b, s.view);
    case kMix: return h.Paste(s.length, s.start, PasteMixOnce, s.convert, s.a, s.b, s.view);
    case kFade: return h.Fade(s.length, s.start, s.f0, s.f1, s.view);
    case kScale: return h.Scale(s.length, s.start, s.f0, s.view);
    case kReverse: return h.Reverse(s.length, s.start, s.view);
    case kInsert:
      return h.InsertRepeated(s.length, s.start, s.data[0].empty() ? nullptr : s.data[0].data(), s.a,
                              int(s.data[0].size()), s.b, s.view);
    case kPitch: return h.SetPitch(s.f0, s.view);
    case kUndo: return h.Undo(&length, &start, &d.undoView);
    case kRedo: return h.Redo(&length, &start);
    case kRecord: return h.BeginRecording(s.length, s.start);
    case kExtend: return h.ExtendForRecording();
    case kWrite:  // the recorder, writing in place
      for (int i = 0; i < d.mixer.TrackCount(); ++i)
        d.mixer.Track(i)->WriteSamples(s.data[0].data(), int(s.data[0].size()), s.start);
      return 1;
    case kForeignClip:  // a copy in another document
      d.clipboard.Clear();
      for (std::size_t i = 0; i < s.data.size(); ++i) {
        auto t = std::make_unique<CAP_SampleTrack>(s.a);
        t->InsertSamples(s.data[i].data(), int(s.data[i].size()), 0);
        d.clipboard.SetSlot(int(i), std::move(t));
      }
      return 1;
  }
  return 0;
}

void ExpectMatches(const Doc& d, const Model& m) {
  EXPECT_TRUE(Same(d.Audio(), m.now.tracks));
  EXPECT_TRUE(Same(d.Clip(), m.clip));
  if (!m.clip.empty() && d.clipboard.Slot(0)) {
    EXPECT_EQ(d.clipboard.Slot(0)->sampleRate, m.clipRate);
  }
  EXPECT_EQ(d.mixer.sampleRate, m.now.rate);
  EXPECT_EQ(d.mixer.PitchShift(), m.now.pitch);
  EXPECT_EQ(d.history.UndoCount(), int(m.undo.size()));
  EXPECT_EQ(d.history.RedoCount(), int(m.redo.size()));
  EXPECT_EQ(d.history.ExtensionCount(), m.extensions);
}

// Runs a step with the nth counted allocation failing: either the step succeeds as the model
// says, or it fails and nothing at all has changed. True when it failed.
bool FailingStep(Doc& d, Model& m, const Step& s, int nth) {
  Model after = m;
  const int want = ApplyModel(after, s, &d.mixer);
  d.history.FailAllocationAfter(nth);
  const int got = Apply(d, s);
  d.history.FailAllocationAfter(0);
  if (got == want) {
    m = std::move(after);
    if (s.kind == kUndo) {
      EXPECT_EQ(d.undoView, m.undoView);
    }
    ExpectMatches(d, m);
    return false;
  }
  EXPECT_EQ(got, s.kind == kPaste || s.kind == kMix ? -1 : 0) << "step " << s.kind << " nth " << nth;
  ExpectMatches(d, m);
  return true;
}

// ---- Steps ----

struct Generator {
  explicit Generator(unsigned seed) : rng(seed) {}
  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
  Step Make(Kind kind, const Model& m) {
    const int size = int(m.now.tracks[0].size());
    Step s = Of(kind);
    s.start = Pick(0, size);
    s.length = Pick(0, std::min(size - s.start, 3000));
    if (Pick(0, 7) == 0) {  // odd input: negative, past the end
      s.start = Pick(-50, size + 50);
      s.length = Pick(-50, size + 100);
    }
    s.view = {-Pick(0, 500), Pick(0, 5000), Pick(0, size), Pick(0, size)};
    static const int kPercents[][2] = {{100, 0}, {50, 50}, {100, 100}, {70, 40}};
    const auto& p = kPercents[Pick(0, 3)];
    s.a = p[0];
    s.b = p[1];
    s.convert = Pick(0, 1);
    static const float kGains[] = {0.0f, 0.25f, 1.0f, 1.5f, 3.0f, 1e6f};  // scaling clamps, fading not
    s.f0 = kGains[Pick(0, kind == kScale ? 5 : 3)];
    s.f1 = kGains[Pick(0, 3)];
    if (kind == kPitch) s.f0 = float(Pick(-3, 3));
    if (kind == kInsert) {
      const int n = Pick(0, 3) == 0 ? 0 : Pick(1, 40);  // none: silence
      s.data = {testaudio::Noise(n, rng())};
      s.a = Pick(-2, n + 2);
      s.b = Pick(-10, 500);
    }
    if (kind == kForeignClip) {
      static const int kRates[] = {11025, 16000, 22050};
      s.a = Pick(0, 3) == 0 ? m.now.rate : kRates[Pick(0, 2)];
      const int n = Pick(0, 2000), tracks = Pick(0, 1) ? 1 : 3;
      for (int i = 0; i < tracks; ++i) s.data.push_back(testaudio::Noise(n, rng(), 0.9f));
    }
    return s;
  }
  // A write of the recorder: inside the recorded range or the extension.
  bool MakeWrite(const Model& m, Step* s) {
    const int size = int(m.now.tracks[0].size()), n = Pick(1, 200);
    *s = Of(kWrite);
    if (m.recLength >= n && Pick(0, 1)) s->start = Pick(m.recStart, m.recStart + m.recLength - n);
    else if (size - m.recEnd >= n) s->start = Pick(m.recEnd, size - n);
    else return false;
    s->data = {testaudio::Noise(n, rng(), 0.99f)};
    return true;
  }
  // The next few steps: one edit, or a whole recording.
  std::vector<Step> Next(const Model& m) {
    static const Kind kBag[] = {kDelete, kCut, kCopy, kTrim, kPaste, kPaste, kMix, kMix, kFade, kScale, kReverse,
                                kInsert, kPitch, kRecord, kUndo, kUndo, kUndo, kRedo, kRedo, kForeignClip};
    Kind kind = kBag[Pick(0, int(std::size(kBag)) - 1)];
    if (m.now.tracks[0].size() > 30000) kind = kTrim;
    std::vector<Step> steps{Make(kind, m)};
    if (kind == kTrim && m.now.tracks[0].size() > 30000) steps[0].start = 0, steps[0].length = Pick(1000, 4000);
    if (kind != kRecord) return steps;
    Model sim = m;  // the write positions follow the recording's growth
    ApplyModel(sim, steps[0], nullptr);
    for (int k = Pick(0, 3); k > 0; --k) {
      steps.push_back(Of(kExtend));
      ApplyModel(sim, steps.back(), nullptr);
      Step w;
      for (int j = 0; j < 2; ++j)
        if (MakeWrite(sim, &w)) steps.push_back(w), ApplyModel(sim, w, nullptr);
    }
    return steps;
  }
  std::mt19937 rng;
};

// The core: random steps of every kind, with now and then an allocation made to fail first.
TEST(EditHistory, MatchesThePlainModel) {
  const struct {
    int channels, rate;
  } kDocs[] = {{1, 8000}, {2, 8000}, {1, 11025}, {2, 11025}};
  for (const auto& doc : kDocs) {
    SCOPED_TRACE(testing::Message() << doc.channels << " channels at " << doc.rate);
    Doc d(doc.channels, doc.rate, 3000, 7);
    Model m(d);
    Generator gen(doc.rate + doc.channels);
    for (int round = 0; round < 250 && !HasFailure(); ++round)
      for (const Step& s : gen.Next(m)) {
        SCOPED_TRACE(testing::Message() << "round " << round << " kind " << s.kind);
        const bool inject = gen.Pick(0, 3) == 0;
        if (!inject || FailingStep(d, m, s, gen.Pick(1, 6))) {
          EXPECT_FALSE(FailingStep(d, m, s, 0));
        }
      }
  }
}

// Out of memory at every allocation of each kind of operation, on a stereo document whose undo
// stack is full (the oldest group must survive a failed edit) or whose redo stack is not empty
// (a failed edit must not clear it).
TEST(EditHistory, FailedAllocationLeavesEverythingAsItWas) {
  const Kind kKinds[] = {kDelete, kCut, kCopy, kTrim, kPaste, kMix, kFade, kScale, kReverse, kInsert, kPitch,
                         kUndo, kRedo, kRecord, kExtend};
  for (int undone : {0, 2, 3}) {
    for (Kind kind : kKinds) {
      for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE(testing::Message() << "undone " << undone << " kind " << kind << " variant " << variant);
        Doc d(2, 8000, 3000, 3);
        Model m(d);
        Generator gen(kind * 10 + variant);
        std::vector<Step> setup{gen.Make(kForeignClip, m), gen.Make(kDelete, m), gen.Make(kFade, m),
                                gen.Make(kReverse, m), gen.Make(kPitch, m), gen.Make(kScale, m), gen.Make(kInsert, m)};
        setup[0].a = 16000;  // a paste converts
        setup[4].f0 = 2;
        for (int k = 0; k < undone; ++k) setup.push_back(Of(kUndo));
        if (kind == kExtend) setup.push_back(gen.Make(kRecord, m)), setup.push_back(Of(kExtend));
        for (const Step& s : setup) ASSERT_FALSE(FailingStep(d, m, s, 0));
        if (kind == kRedo && undone == 0) continue;
        Step s = gen.Make(kind, m);
        s.convert = variant == 1;
        int nth = 1;
        while (FailingStep(d, m, s, nth)) ASSERT_LT(++nth, 100);
        // Undo and redo of samples move blocks and need no memory of their own.
        if (kind != kUndo && kind != kRedo) EXPECT_GT(nth, 1) << "no allocation failed";
        // Both stacks still hold what they held: everything undoes and redoes as modelled.
        while (!m.undo.empty()) ASSERT_FALSE(FailingStep(d, m, Of(kUndo), 0));
        while (!m.redo.empty()) ASSERT_FALSE(FailingStep(d, m, Of(kRedo), 0));
      }
    }
  }
}

// ---- Worked examples ----

void Put(Doc& d, const std::vector<float>& v) {
  for (int i = 0; i < d.mixer.TrackCount(); ++i) d.mixer.Track(i)->InsertSamples(v.data(), int(v.size()), 0);
}

TEST(EditHistory, FadeInOverFourSamples) {
  Doc d(1, 8000, 0, 0);
  Put(d, {1, 1, 1, 1});
  ASSERT_TRUE(d.history.Fade(4, 0, 0, 1, {}));
  EXPECT_EQ(Samples(d.mixer.Track(0)), (std::vector<float>{0, 0.25f, 0.5f, 0.75f}));
}

TEST(EditHistory, SixEditsFiveUndosAndANewEditClearsRedo) {
  Doc d(2, 8000, 1000, 1);
  const Tracks original = d.Audio();
  for (int k = 0; k < 6; ++k) ASSERT_TRUE(d.history.Delete(10, 100, ViewState{0, 0, k, 0}));
  int length = -1, start = -1;
  ViewState view;
  for (int k = 5; k >= 1; --k) {
    ASSERT_TRUE(d.history.Undo(&length, &start, &view));
    EXPECT_EQ(view.selectionStart, k);
    EXPECT_EQ(start, 100);
    EXPECT_EQ(length, 10);
  }
  EXPECT_FALSE(d.history.CanUndo());
  EXPECT_FALSE(d.history.Undo(&length, &start, &view));
  EXPECT_EQ(d.mixer.Track(0)->Length(), 990);  // the first delete is out of reach
  ASSERT_TRUE(d.history.Redo(&length, &start));
  EXPECT_EQ(start, 100);  // the cursor goes to the start of the changed range
  EXPECT_EQ(d.history.RedoCount(), 4);
  ASSERT_TRUE(d.history.Scale(10, 0, 0.5f, {}));
  EXPECT_FALSE(d.history.CanRedo());
}

TEST(EditHistory, TrimThenUndoRestoresHeadAndTail) {
  Doc d(2, 8000, 5000, 2);
  const Tracks original = d.Audio();
  ASSERT_TRUE(d.history.Trim(1000, 1234, {}));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(Samples(d.mixer.Track(i)), std::vector<float>(original[i].begin() + 1234, original[i].begin() + 2234));
  ASSERT_TRUE(d.history.Undo(nullptr, nullptr, nullptr));
  EXPECT_TRUE(Same(d.Audio(), original));
}

TEST(EditHistory, PasteBetweenMonoAndStereo) {
  Doc stereo(2, 8000, 300, 4), mono(1, 8000, 300, 9);
  ASSERT_TRUE(stereo.history.Copy(100, 50));
  // The clipboard is one per process: hand the stereo copy to the mono document.
  for (int i = 0; i < 3; ++i) {
    auto t = std::make_unique<CAP_SampleTrack>(8000);
    t->CopySamples(*stereo.clipboard.Slot(i), 100, 0, 0);
    mono.clipboard.SetSlot(i, std::move(t));
  }
  EXPECT_EQ(mono.history.Paste(0, 0, PasteReplace, false, 100, 0, {}), 100);
  const auto mix = Samples(stereo.clipboard.Slot(2)), pasted = Samples(mono.mixer.Track(0));
  EXPECT_EQ(std::vector<float>(pasted.begin(), pasted.begin() + 100), mix);
  ASSERT_TRUE(mono.history.Copy(20, 0));
  EXPECT_EQ(mono.clipboard.FilledCount(), 1);
  for (int i = 0; i < 3; ++i) stereo.clipboard.SetSlot(i, nullptr);
  auto t = std::make_unique<CAP_SampleTrack>(8000);
  t->CopySamples(*mono.clipboard.Slot(0), 20, 0, 0);
  stereo.clipboard.SetSlot(0, std::move(t));
  EXPECT_EQ(stereo.history.Paste(0, 7, PasteReplace, false, 100, 0, {}), 20);
  for (int i = 0; i < 3; ++i) {
    const auto v = Samples(stereo.mixer.Track(i));
    EXPECT_EQ(std::vector<float>(v.begin() + 7, v.begin() + 27), std::vector<float>(mix.begin(), mix.begin() + 20));
  }
}

TEST(EditHistory, PasteConvertsTheRateAndMixClamps) {
  Doc d(1, 22050, 0, 0);
  Put(d, std::vector<float>(1000, 0.8f));
  auto clip = std::make_unique<CAP_SampleTrack>(44100);
  clip->InsertSamples(testaudio::Tone(4410, 44100, 440).data(), 4410, 0);
  d.clipboard.SetSlot(0, std::move(clip));
  EXPECT_NEAR(d.history.Paste(0, 0, PasteReplace, true, 100, 0, {}), 2205, 2);
  ASSERT_TRUE(d.history.Undo(nullptr, nullptr, nullptr));
  std::vector<float> loud(300, 0.8f);
  loud.insert(loud.end(), 300, -0.6f);
  auto same = std::make_unique<CAP_SampleTrack>(22050);
  same->InsertSamples(loud.data(), 600, 0);
  d.clipboard.SetSlot(0, std::move(same));
  d.mixer.Track(0)->WriteSamples(loud.data(), 600, 0);
  // Nothing selected: the mix length is the clipboard's plus 100.
  EXPECT_EQ(d.history.Paste(700, 0, PasteMixOnce, false, 100, 100, {}), 600);
  const auto v = Samples(d.mixer.Track(0));
  EXPECT_EQ(v[0], 1.0f);
  EXPECT_EQ(v[599], -1.0f);
  EXPECT_EQ(v[600], 0.8f);
}

TEST(EditHistory, FindPeakOverAllTracks) {
  Doc d(2, 8000, 0, 0);
  Put(d, {0.5f, 0.4f, -0.2f, 0.9f});
  const std::vector<float> lower{0.3f, 0.2f, -0.7f};
  for (int i = 1; i < 3; ++i) d.mixer.Track(i)->WriteSamples(lower.data(), 3, 0);
  float lo = 0, hi = 0;
  d.history.FindPeak(2, 0, &lo, &hi);  // the first sample sets both ends, though every one is lower
  EXPECT_EQ(lo, 0.2f);
  EXPECT_EQ(hi, 0.5f);
  d.history.FindPeak(10, 1, &lo, &hi);
  EXPECT_EQ(lo, -0.7f);
  EXPECT_EQ(hi, 0.9f);
  EXPECT_EQ(d.history.UndoCount(), 0);
}

TEST(EditHistory, NormalizeOfSilenceAndInsertSilence) {
  Doc d(1, 22050, 0, 0);
  Put(d, std::vector<float>(20000, 0.0f));
  float lo = 0, hi = 0;
  d.history.FindPeak(0, 5, &lo, &hi);
  EXPECT_EQ(lo, 1.0f);  // nothing seen
  EXPECT_EQ(hi, -1.0f);
  d.history.FindPeak(100, 0, &lo, &hi);
  const float peak = std::max({std::fabs(lo), std::fabs(hi), 0.000001f});
  ASSERT_TRUE(d.history.Scale(100, 0, 1 / peak, {}));
  EXPECT_EQ(Samples(d.mixer.Track(0)), std::vector<float>(20000, 0.0f));
  const float zeros[1024] = {};
  const int n = int(22050 * 0.5);
  ASSERT_TRUE(d.history.InsertRepeated(0, 500, zeros, 0, std::min(1024, n), n, {}));
  EXPECT_EQ(d.mixer.Track(0)->Length(), 20000 + 11025);
}

TEST(EditHistory, RecordingExtensionsGrowThenUndoAtOnce) {
  Doc d(2, 8000, 100, 5);
  const Tracks original = d.Audio();
  ASSERT_TRUE(d.history.BeginRecording(50, 50));
  int length = 100;
  for (int k = 0; k < 22; ++k) {
    ASSERT_TRUE(d.history.ExtendForRecording());
    length += 8000 * (k < 5 ? 1 : k < 10 ? 5 : k < 20 ? 10 : 30);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(d.mixer.Track(i)->Length(), length);
  }
  EXPECT_EQ(d.history.ExtensionCount(), 22);
  ViewState view{1, 2, 3, 4};
  ASSERT_TRUE(d.history.Undo(&length, nullptr, &view));
  EXPECT_EQ(view, ViewState{});  // a recording has no view state
  EXPECT_TRUE(Same(d.Audio(), original));
}

TEST(EditHistory, PitchGroupRestoresTheRate) {
  Doc d(1, 22050, 2205, 6);
  ASSERT_TRUE(d.history.SetPitch(12, {}));
  EXPECT_EQ(d.mixer.sampleRate, 44100);
  int length = 0, start = 1;
  ASSERT_TRUE(d.history.Undo(&length, &start, nullptr));
  EXPECT_EQ(d.mixer.sampleRate, 22050);
  EXPECT_EQ(start, 0);
  EXPECT_EQ(length, 2205);
  ASSERT_TRUE(d.history.Redo(nullptr, nullptr));
  EXPECT_EQ(d.mixer.PitchShift(), 12.0f);
}

}  // namespace
