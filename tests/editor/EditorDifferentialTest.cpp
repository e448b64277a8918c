// Thousands of random commands on two documents (stereo at 8,000 Hz, mono at 11,025 Hz) through
// the document and its controller, each checked against a plain model of the samples, the
// selection, the cursor and the undo and redo stacks, with "Undo levels" at 5 and unlimited, and
// with the stereo document's mix track computed from its channels or stored as a track of its own.
// A computed mix is (left + right) / 2 of the model's channels after every command, and its
// blocks' summaries, signatures, colours and bands are those of the samples it produces.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>

#include "analysis/BandEnergies.h"
#include "analysis/BlockSummary.h"
#include "analysis/SignatureKernels.h"
#include "analysis/TrackBands.h"
#include "editor/CommandCode.h"
#include "editor/EditHistory.h"
#include "editor/SharedClipboard.h"
#include "formats/RateConverter.h"
#include "pipeline/SampleMixer.h"
#include "tests/editor/EditorTestSupport.h"

namespace {
using namespace editor_test;
using Tracks = std::vector<std::vector<float>>;

struct Clip {
  Tracks tracks;
  int rate = 0;
};

struct ModelGroup {
  Tracks tracks;
  int rate;
  int selStart, selLength;  // the view state: the selection before the edit
  int changedStart;         // where Redo puts the cursor
};

struct Model {
  Tracks tracks;
  int rate = 0;
  int selA = 0, selB = 0;  // samples; empty when equal, then the cursor
  int cursor = 0;
  std::deque<ModelGroup> undo, redo;
  int levels = 5;  // 0: unlimited
  bool computedMix = false;  // track 2 is the mix of tracks 0 and 1

  int Length() const { return int(tracks.back().size()); }
  bool HasSelection() const { return selA < selB; }
  // SelectionStart(false) and SelectionLength(false).
  int Start() const { return HasSelection() ? selA : cursor; }
  int Len() const { return selB - selA; }
  int WholeStart() const { return HasSelection() ? selA : 0; }
  int WholeLen() const { return HasSelection() ? Len() : Length(); }
  void Trim() {
    while (levels > 0 && int(undo.size()) > levels) undo.pop_back();
  }
  void Show(int length, int start) {
    selA = cursor = start;
    selB = start + length;
  }
  void Push() {
    undo.push_front({tracks, rate, Start(), Len(), 0});
    Trim();
    redo.clear();
  }
};

std::vector<float> Convert(const std::vector<float>& in, int from, int to) {
  if (from == to) return in;
  RateConverter converter(1, from, to);
  std::vector<float> out(std::size_t(converter.MaxOutputFrames(int(in.size())) + converter.MaxFlushFrames()));
  int n = converter.Process(in.data(), int(in.size()), out.data());
  n += converter.Flush(out.data() + n);
  out.resize(std::size_t(n));
  return out;
}

float Clamp(float x) { return x > 1.0f ? 1.0f : x <= -1.0f ? -1.0f : x; }

// The mixer's mix of two channels, written out here in its own order.
std::vector<float> MixOf(const std::vector<float>& left, const std::vector<float>& right) {
  std::vector<float> mix(left.size());
  for (std::size_t i = 0; i < mix.size(); ++i) {
    float sum = 0.0f;
    sum += 0.5f * left[i];
    sum += 0.5f * right[i];
    mix[i] = sum;
  }
  return mix;
}

// Every block of a computed track describes the samples the track produces for it.
void ExpectBlocksDescribeTheirSamples(CAP_SampleTrack& track, const std::string& where) {
  std::vector<float> samples(std::size_t(track.Length()));
  track.ReadSamples(samples.data(), track.Length(), 0);
  FillBandShapes(track);  // the sound search's shapes, made from the produced samples
  int start = 0;
  for (const SampleBlock* b = track.Head(); b; start += b->count, b = b->next) {
    const float* p = samples.data() + start;
    ASSERT_FALSE(b->stale) << where << " block at " << start;
    SoundSignature signature;
    ComputeBlockSignature(p, b->count, track.sampleRate, &signature);
    ASSERT_TRUE(signature == b->signature) << where << " block at " << start;
    ASSERT_EQ(b->color, SignatureColor(signature)) << where << " block at " << start;
    float lo = 1, hi = -1, blo = 1, bhi = -1;
    for (int k = 0; k < b->count; ++k) lo = std::min(lo, p[k]), hi = std::max(hi, p[k]);
    BlockTotalMinMax(b, blo, bhi);
    ASSERT_EQ(blo, lo) << where << " block at " << start;
    ASSERT_EQ(bhi, hi) << where << " block at " << start;
    BandEnergies bands;
    ComputeBandEnergies(p, b->count, track.sampleRate, &bands);
    const BandShape shape = ShapeOf(bands);
    ASSERT_TRUE(b->bands) << where << " block at " << start;
    ASSERT_EQ(b->bands->rate, track.sampleRate) << where << " block at " << start;
    ASSERT_EQ(0, std::memcmp(&shape, &b->bands->shape, sizeof shape)) << where << " block at " << start;
  }
  ASSERT_EQ(start, track.Length()) << where;
}
struct Document {
  Rig rig;
  Model model;
  void Start(int channels, int rate, int frames, int levels, std::mt19937& random) {
    std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
    std::vector<std::vector<float>> samples(channels, std::vector<float>(frames));
    for (auto& channel : samples)
      for (std::size_t i = 0; i < channel.size(); ++i) channel[i] = 0.5f * std::sin(0.01f * i * (1 + channels)) + noise(random);
    rig.New(channels, rate, frames, [&](int i, int c) { return samples[c][i]; }, 300);
    model.rate = rate;
    model.levels = levels;
    rig.document->SetUndoLevels(levels);
    for (int t = 0; t < rig.Mixer()->TrackCount(); ++t) model.tracks.push_back(rig.TrackSamples(t));
    model.computedMix = rig.Mixer()->TrackCount() == 3 && rig.Mixer()->Track(2)->Computed();
  }
};

class EditorDifferential : public testing::Test {
protected:
  std::mt19937 random{20261209};
  Document docs[2];
  Clip clip;
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

  // Applies one random command to document d and to its model; returns its name.
  std::string Step(Document& d) {
    EditorDocument& doc = *d.rig.document;
    AudioEditorApp& ed = *doc.Editor();
    Model& m = d.model;
    const int length = m.Length();
    const int command = Pick(0, 19);
    auto enabled = [&](int code) { return ed.IsCommandEnabled(code); };
    switch (command) {
      case 0:
      case 1: {  // a selection (sometimes empty: a cursor)
        int a = Pick(0, length), b = Pick(0, 4) == 0 ? a : Pick(0, length);
        if (b < a) std::swap(a, b);
        ed.Select(double(a) / m.rate, double(b) / m.rate);
        m.selA = a;
        m.selB = b;
        m.cursor = a;
        return "select";
      }
      case 2:
        ed.SelectAll();
        m.Show(length, 0);
        return "select-all";
      case 3: {
        EXPECT_EQ(enabled(CommandCopy), m.HasSelection());
        if (!doc.Copy()) return "copy (disabled)";
        clip.rate = m.rate;
        clip.tracks.clear();
        for (auto& t : m.tracks) clip.tracks.emplace_back(t.begin() + m.selA, t.begin() + m.selB);
        return "copy";
      }
      case 4:
      case 5: {
        const bool cut = command == 4;
        EXPECT_EQ(enabled(cut ? CommandCut : CommandDelete), m.HasSelection());
        if (!(cut ? doc.Cut() : doc.Delete())) return "cut/delete (disabled)";
        if (cut) {
          clip.rate = m.rate;
          clip.tracks.clear();
          for (auto& t : m.tracks) clip.tracks.emplace_back(t.begin() + m.selA, t.begin() + m.selB);
        }
        const int a = m.selA, b = m.selB;
        m.Push();
        m.undo.front().changedStart = a;
        for (auto& t : m.tracks) t.erase(t.begin() + a, t.begin() + b);
        m.Show(0, a);
        return cut ? "cut" : "delete";
      }
      case 6: {
        EXPECT_EQ(enabled(CommandTrim), m.HasSelection() && m.Len() < length);
        if (!doc.Trim()) return "trim (disabled)";
        const int a = m.selA, b = m.selB;
        m.Push();
        for (auto& t : m.tracks) t = std::vector<float>(t.begin() + a, t.begin() + b);
        m.Show(m.Length(), 0);
        return "trim";
      }
      case 7:
      case 8: {
        const bool mix = command == 8;
        EXPECT_EQ(enabled(CommandPaste), !clip.tracks.empty());
        const int cp = Pick(0, 100), wp = Pick(0, 100);
        d.rig.prompts.mixClipboard = cp;
        d.rig.prompts.mixWaveform = wp;
        if (!(mix ? doc.Mix() : doc.Paste())) return "paste/mix (disabled)";
        const int a = m.Start(), len = m.Len();
        m.Push();
        m.undo.front().changedStart = a;
        const int converted0 = RoundSamples(double(clip.tracks[0].size()) * m.rate / clip.rate);
        const int mixLength = len == 0 ? converted0 + 100 : std::min(len, converted0 + 100);
        int result = 0;
        for (std::size_t i = 0; i < m.tracks.size(); ++i) {
          const auto& source = clip.tracks.size() == m.tracks.size() ? clip.tracks[i] : clip.tracks.back();
          const std::vector<float> src = Convert(source, clip.rate, m.rate);
          auto& t = m.tracks[i];
          const int c = int(src.size());
          if (!mix) {
            t.erase(t.begin() + a, t.begin() + a + len);
            t.insert(t.begin() + a, src.begin(), src.end());
            result = std::max(result, c);
          } else {
            const int r = std::min(c, mixLength);
            for (int k = 0; k < r; ++k) {
              if (a + k < int(t.size()))
                t[a + k] = Clamp(float(cp) * src[k] / 100.0f + float(wp) * t[a + k] / 100.0f);
              else
                t.push_back(src[k]);  // past the end the clipboard is appended as it is
            }
            result = r;
          }
        }
        m.Show(0, a + result);
        return mix ? "mix" : "paste";
      }
      case 9:
      case 10:
      case 11:
      case 12:
      case 13: {  // fades, normalize, volume, reverse over the selection or the whole file
        const int s = m.WholeStart(), n = m.WholeLen(), keepLen = m.Len(), keepStart = m.Start();
        const int volume = Pick(0, 200);
        d.rig.prompts.volume = volume;
        bool done = false;
        const char* name = "";
        switch (command) {
          case 9: done = doc.FadeIn(), name = "fade-in"; break;
          case 10: done = doc.FadeOut(), name = "fade-out"; break;
          case 11: done = doc.Normalize(), name = "normalize"; break;
          case 12: done = doc.Volume(), name = "volume"; break;
          case 13: done = doc.Reverse(), name = "reverse"; break;
        }
        if (!done) return std::string(name) + " (disabled)";
        m.Push();
        m.undo.front().changedStart = s;
        float peak = 0;
        if (command == 11) {
          float lo = 1, hi = -1;
          for (auto& t : m.tracks)
            for (int k = s; k < s + n; ++k) lo = std::min(lo, t[k]), hi = std::max(hi, t[k]);
          peak = std::max({std::fabs(lo), std::fabs(hi), 0.000001f});
        }
        for (auto& t : m.tracks) {
          if (command == 13) {
            std::reverse(t.begin() + s, t.begin() + s + n);
            continue;
          }
          for (int k = 0; k < n; ++k) {
            float& x = t[s + k];
            if (command <= 10) {
              const double g0 = command == 9 ? 0 : 1, g1 = 1 - g0;
              x = float(x * (g0 + (g1 - g0) / n * double(k)));
            } else {
              const float factor = command == 11 ? 1 / peak : volume / 100.0f;
              const float y = factor * x;
              x = y >= 1.0f ? 1.0f : y < -1.0f ? -1.0f : y;
            }
          }
        }
        m.Show(keepLen, keepStart);
        return name;
      }
      case 14: {
        const double seconds = Pick(1, 300) / 1000.0;
        d.rig.prompts.silence = seconds;
        if (!doc.InsertSilence()) return "insert-silence (disabled)";
        const int n = int(m.rate * seconds), at = m.cursor;
        m.Push();
        m.undo.front().changedStart = at;
        for (auto& t : m.tracks) t.insert(t.begin() + at, std::size_t(n), 0.0f);
        m.Show(0, at + n);
        return "insert-silence";
      }
      case 15: {
        if (m.Length() == 0) return "pitch (empty)";
        int lowest, highest;
        d.rig.Mixer()->PitchRange(&lowest, &highest);
        const int halftones = Pick(std::max(lowest, -6), std::min(highest, 6));
        d.rig.prompts.pitch = halftones;
        const double duration = double(m.Length()) / m.rate;
        const double fromFraction = (double(m.selA) / m.rate) / duration, toFraction = (double(m.selB) / m.rate) / duration;
        if (!doc.ShiftPitch()) return "pitch (refused)";
        m.Push();
        m.rate = d.rig.Mixer()->RateForPitch(float(halftones));
        const int from = int(fromFraction * m.Length()), to = int(toFraction * m.Length());
        m.Show(to - from, from);
        return "pitch";
      }
      case 16:
      case 17: {
        EXPECT_EQ(enabled(CommandUndo), !m.undo.empty());
        if (!doc.Undo()) return "undo (disabled)";
        ModelGroup g = std::move(m.undo.front());
        m.undo.pop_front();
        m.redo.push_front({m.tracks, m.rate, g.selStart, g.selLength, g.changedStart});
        m.tracks = std::move(g.tracks);
        m.rate = g.rate;
        m.Show(g.selLength, g.selStart);
        return "undo";
      }
      case 18: {
        EXPECT_EQ(enabled(CommandRedo), !m.redo.empty());
        if (!doc.Redo()) return "redo (disabled)";
        ModelGroup g = std::move(m.redo.front());
        m.redo.pop_front();
        m.undo.push_front({m.tracks, m.rate, g.selStart, g.selLength, g.changedStart});
        m.Trim();
        m.tracks = std::move(g.tracks);
        m.rate = g.rate;
        m.Show(0, g.changedStart);
        return "redo";
      }
      default: {  // a cursor
        const int at = Pick(0, length);
        ed.SetCursor(double(at) / m.rate);
        m.selA = m.selB = m.cursor = at;
        return "cursor";
      }
    }
  }

  void Check(Document& d, int step, const std::string& name) {
    Model& m = d.model;
    AudioEditorApp& ed = *d.rig.Editor();
    if (m.computedMix) {
      m.tracks[2] = MixOf(m.tracks[0], m.tracks[1]);
      if (step % 7 == 0) ExpectBlocksDescribeTheirSamples(*d.rig.Mixer()->Track(2), std::to_string(step) + " " + name);
    }
    // So does every block of the clipboard (a copy of the mix keeps the computed blocks' signatures).
    const SharedClipboard& clipboard = SharedClipboard::Instance();
    if (step % 7 == 0)
      for (int i = 0; i < clipboard.FilledCount(); ++i)
        ExpectBlocksDescribeTheirSamples(*clipboard.Slot(i), std::to_string(step) + " " + name + " clipboard");
    ASSERT_EQ(d.rig.Mixer()->sampleRate, m.rate) << step << " " << name;
    for (std::size_t t = 0; t < m.tracks.size(); ++t) {
      const std::vector<float> samples = d.rig.TrackSamples(int(t));
      ASSERT_EQ(samples.size(), m.tracks[t].size()) << step << " " << name << " track " << t;
      for (std::size_t k = 0; k < samples.size(); ++k)
        ASSERT_EQ(samples[k], m.tracks[t][k]) << step << " " << name << " track " << t << " sample " << k;
    }
    ASSERT_EQ(ed.SelectionStart(false), m.Start()) << step << " " << name;
    ASSERT_EQ(ed.SelectionLength(false), m.Len()) << step << " " << name;
    if (!m.HasSelection()) {
      ASSERT_EQ(ed.CursorSample(), m.cursor) << step << " " << name;
    }
    ASSERT_EQ(ed.History()->UndoCount(), int(m.undo.size())) << step << " " << name;
    ASSERT_EQ(ed.History()->RedoCount(), int(m.redo.size())) << step << " " << name;
    // The columns the edits left equal the visible columns computed afresh.
    CGP_TrackWaveform* wave = d.rig.Wave();
    if (step % 3 == 0 && wave->Width() > 0) {
      std::vector<ColumnSpan> kept;
      const int first = -wave->X(), visible = std::min(wave->VisibleWidth(), wave->Width());
      for (int c = first; c < first + visible; ++c) kept.push_back(wave->CachedColumn(c));
      wave->MarkAllChanged();
      wave->ApplyChanges(0, 0);
      for (int c = first; c < first + visible; ++c) {
        const ColumnSpan& a = kept[std::size_t(c - first)];
        const ColumnSpan& b = wave->CachedColumn(c);
        ASSERT_TRUE(a.top == b.top && a.bottom == b.bottom && a.colour == b.colour && a.clipped == b.clipped)
            << step << " " << name << " column " << c << " of " << wave->Width() << ": " << a.top << "-" << a.bottom
            << " colour " << a.colour << ", afresh " << b.top << "-" << b.bottom << " colour " << b.colour;
      }
    }
  }

  void Run(int levels, int steps, bool computedMix = true) {
    SharedClipboard::Instance().Clear();
    CAP_SampleMixer::SetMixComputed(computedMix);
    docs[0].Start(2, 8000, 12000, levels, random);
    docs[1].Start(1, 11025, 9000, levels, random);
    CAP_SampleMixer::SetMixComputed(true);
    ASSERT_EQ(docs[0].model.computedMix, computedMix);
    int active = 0;
    std::map<std::string, int> counts;
    for (int step = 0; step < steps; ++step) {
      if (Pick(0, 9) == 0) active = 1 - active;
      Document& d = docs[active];
      // Keep the documents small: a long one is cut back.
      if (d.model.Length() > 60000) {
        d.rig.Editor()->Select(0, 20000.0 / d.model.rate);
        d.model.selA = d.model.cursor = 0;
        d.model.selB = 20000;
      }
      const std::string name = Step(d);
      ++counts[name];
      Check(d, step, name);
      if (HasFatalFailure()) return;
    }
    // Every command ran, not just its disabled case.
    for (const char* name : {"copy", "cut", "delete", "trim", "paste", "mix", "fade-in", "fade-out", "normalize",
                             "volume", "reverse", "insert-silence", "pitch", "undo", "redo"})
      EXPECT_GT(counts[name], steps / 300) << name;
  }
};

TEST_F(EditorDifferential, RandomCommandsOnTwoDocumentsMatchThePlainModel) { Run(5, 3000); }

// Every edit stays undoable, down to the document as it was made (fewer steps: the model keeps a
// copy of the document per group).
TEST_F(EditorDifferential, RandomCommandsWithUnlimitedUndo) { Run(0, 900); }

// The mix track stored as a track of its own, edited as the channels are.
TEST_F(EditorDifferential, RandomCommandsWithAStoredMixTrack) { Run(5, 1500, false); }

}  // namespace

// A whole-file change of a long stereo document settles its mix on several threads; its undo and
// redo move the settled blocks back and forth. The mix stays (left + right) / 2 and every block
// describes its samples, as the one-thread path makes them for short changes above.
TEST(ComputedMixTrack, LongChangesSettleOnSeveralThreadsWithTheSameRecords) {
  const int frames = 1500000;
  CAP_SampleMixer mixer(2, 44100, true);
  ASSERT_TRUE(mixer.Track(2)->Computed());
  std::vector<float> interleaved(std::size_t(frames) * 2);
  std::mt19937 random(7);
  std::uniform_real_distribution<float> noise(-0.6f, 0.6f);
  for (float& x : interleaved) x = noise(random);
  mixer.WriteFloat(interleaved.data(), frames, 0);
  SharedClipboard clipboard;
  EP_EditHistory history(&mixer, &clipboard);
  auto check = [&](const char* where) {
    std::vector<float> left(frames), right(frames), mix(frames);
    mixer.Track(0)->ReadSamples(left.data(), frames, 0);
    mixer.Track(1)->ReadSamples(right.data(), frames, 0);
    mixer.Track(2)->ReadSamples(mix.data(), frames, 0);
    ASSERT_TRUE(mix == MixOf(left, right)) << where;
    ExpectBlocksDescribeTheirSamples(*mixer.Track(2), where);
  };
  check("loaded");
  ASSERT_TRUE(history.Fade(frames - 1000, 500, 1.0f, 0.2f, ViewState()));
  check("faded");
  ASSERT_TRUE(history.Reverse(frames, 0, ViewState()));
  check("reversed");
  int length = 0, start = 0;
  ASSERT_TRUE(history.Undo(&length, &start, nullptr));
  check("undone");
  ASSERT_TRUE(history.Redo(&length, &start));
  check("redone");
}
