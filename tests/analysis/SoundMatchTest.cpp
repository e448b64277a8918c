// The search for what sounds the same: the properties that must hold whatever its tuning, on
// word-like sounds made here (voiced parts with formants, a hiss, a closure).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "analysis/SampleTrack.h"
#include "analysis/SoundMatch.h"
#include "analysis/TrackBands.h"
#include "tests/analysis/TestAudio.h"

namespace {
constexpr int kRate = 22050;

// A vowel: harmonics of f0 shaped by two formants.
void Vowel(std::vector<float>& v, int at, int n, double f0, double f1, double f2, float level) {
  for (int i = 0; i < n; ++i) {
    const double t = double(i) / kRate, env = std::sin(M_PI * i / n);
    double s = 0;
    for (int h = 1; h * f0 < 5000; ++h) {
      const double f = h * f0;
      const double gain = 1 / (1 + std::pow((f - f1) / 90, 2)) + 0.6 / (1 + std::pow((f - f2) / 120, 2));
      s += gain * std::sin(2 * M_PI * f * t);
    }
    v[std::size_t(at + i)] += level * float(env * s * 0.5);
  }
}

// A word of about 0.45 s: vowel, closure, hiss, vowel; seed picks the formants and the hiss.
std::vector<float> Word(unsigned seed, float level = 0.5f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> f1(300, 800), f2(900, 2500);
  std::vector<float> v(std::size_t(kRate * 45 / 100), 0.0f);
  Vowel(v, 0, kRate * 15 / 100, 130, f1(rng), f2(rng), level);
  const std::vector<float> hiss = testaudio::Noise(kRate * 8 / 100, seed, level * 0.4f);
  for (std::size_t i = 1; i < hiss.size(); ++i) v[kRate * 19 / 100 + i] += hiss[i] - hiss[i - 1];
  Vowel(v, kRate * 27 / 100, kRate * 18 / 100, 120, f1(rng), f2(rng), level);
  return v;
}

void Add(std::vector<float>& track, const std::vector<float>& sound, int at, float gain = 1) {
  for (std::size_t i = 0; i < sound.size(); ++i) track[at + i] += gain * sound[i];
}

// The best score of a run whose sound starts within 0.03 s of at; -1 when none does.
float ScoreNear(const CAP_SampleTrack& t, int at) {
  float best = -1;
  int s = 0;
  for (const SampleBlock* b = t.Head(); b; s += b->count, b = b->next)
    if (b->runHead == b && std::abs(s + b->matchOffset - at) <= kRate * 3 / 100) best = std::max(best, b->score);
  return best;
}

// Sound starts of the runs at 70 or more, the prototype's own left out.
std::vector<int> Matches(const CAP_SampleTrack& t) {
  std::vector<int> v;
  int s = 0;
  for (const SampleBlock* b = t.Head(); b; s += b->count, b = b->next)
    if (b->runHead == b && b->score >= 70 && !b->inPrototype) v.push_back(s + b->matchOffset);
  return v;
}

struct Planted {
  std::vector<float> samples;
  int prototype = 0;
  std::vector<std::pair<std::string, int>> copies;  // what and where
};

// Thirteen seconds: the prototype word, exact copies off the block grid, a copy 12 dB quieter and
// one under white noise 20 dB below the word, four other words, a second of steady hum, silence.
Planted MakeTrack() {
  Planted p;
  p.samples.assign(std::size_t(kRate) * 13, 0.0f);
  const std::vector<float> word = Word(1);
  p.prototype = kRate / 2;
  Add(p.samples, word, p.prototype);
  for (int at : {kRate * 3 / 2 + 317, kRate * 5 / 2 + 1103}) {
    Add(p.samples, word, at);
    p.copies.push_back({"exact", at});
  }
  const int quiet = kRate * 7 / 2 + 555;
  Add(p.samples, word, quiet, std::pow(10.0f, -12 / 20.0f));
  p.copies.push_back({"12 dB quieter", quiet});
  const int noisy = kRate * 9 / 2 + 71;
  Add(p.samples, word, noisy);
  double power = 0;
  for (float x : word) power += double(x) * x;
  const float noiseRms = float(std::sqrt(power / double(word.size()))) * std::pow(10.0f, -20 / 20.0f);
  Add(p.samples, testaudio::Noise(int(word.size()) + kRate / 5, 7, noiseRms * std::sqrt(3.0f)), noisy - kRate / 10);
  p.copies.push_back({"noise at 20 dB SNR", noisy});
  for (unsigned k = 2; k <= 5; ++k) Add(p.samples, Word(k), kRate * int(5 + k));
  std::vector<float> hum(static_cast<std::size_t>(kRate));
  for (int i = 0; i < kRate; ++i)
    hum[std::size_t(i)] = 0.3f * float(std::sin(2 * M_PI * 100 * i / kRate) + 0.5 * std::sin(2 * M_PI * 200 * i / kRate));
  Add(p.samples, hum, kRate * 11 + kRate / 2);
  return p;
}

TEST(SoundMatch, CopiesScoreHighAndOtherWordsStayBelowThem) {
  const Planted p = MakeTrack();
  CAP_SampleTrack t(kRate);
  t.InsertSamples(p.samples.data(), int(p.samples.size()), 0);
  const int length = int(Word(1).size());
  ComputeSoundMatches(t, length, p.prototype);
  for (const auto& [what, at] : p.copies) {
    const float score = ScoreNear(t, at);
    EXPECT_GE(score, what == "exact" ? 99.0f : 85.0f) << what << " at " << at;
  }
  // Every copy reaches 70, the hum and the silence do not, and the other words stay below every
  // copy. (These made-up words share the prototype's timing, closure and hiss to the sample and
  // differ in a vowel or two: one of them scores about as the same word in another voice does,
  // and may reach 70.)
  const std::vector<int> found = Matches(t);
  for (const auto& [what, at] : p.copies)
    EXPECT_EQ(std::count_if(found.begin(), found.end(), [at = at](int f) { return std::abs(f - at) <= kRate * 3 / 100; }), 1)
        << what << " at " << at;
  for (int f : found) {
    const bool copy = std::any_of(p.copies.begin(), p.copies.end(), [f](const auto& c) { return std::abs(f - c.second) <= kRate * 3 / 100; });
    const bool otherWord = f >= kRate * 7 - kRate / 10 && f < kRate * 11;
    EXPECT_TRUE(copy || otherWord) << "a match at " << f << " (the hum or the silence)";
    if (otherWord) EXPECT_LT(ScoreNear(t, f), 85.0f) << "another word at " << f;
  }

  // Exact copies land where they start, to a sixteenth of a block.
  for (const auto& [what, at] : p.copies)
    if (what == "exact") {
      int position = at - t.Capacity();  // a block before the run: Find Next from inside one moves on
      float score = 0;
      ASSERT_TRUE(t.FindNextMatch(70, &position, &score));
      EXPECT_NEAR(position, at, t.Capacity() / 2 / 16 + 1) << at;
    }
}

// The sound as a phone line passes it: 300 to 3400 Hz (a windowed-sinc band-pass).
std::vector<float> PhoneBand(const std::vector<float>& in) {
  constexpr int kTaps = 255, kHalf = kTaps / 2;
  std::vector<double> h(kTaps);
  auto lowPass = [](double fc, int k) { return k == 0 ? 2 * fc : std::sin(2 * M_PI * fc * k) / (M_PI * k); };
  for (int k = -kHalf; k <= kHalf; ++k) {
    const double window = 0.42 + 0.5 * std::cos(M_PI * k / kHalf) + 0.08 * std::cos(2 * M_PI * k / kHalf);
    h[std::size_t(k + kHalf)] = window * (lowPass(3400.0 / kRate, k) - lowPass(300.0 / kRate, k));
  }
  std::vector<float> out(in.size(), 0.0f);
  for (std::size_t i = 0; i < in.size(); ++i) {
    double sum = 0;
    for (int k = -kHalf; k <= kHalf; ++k)
      if (i + k < in.size()) sum += h[std::size_t(k + kHalf)] * in[i + k];
    out[i] = float(sum);
  }
  return out;
}

// A sound made by sox's synth effect, as mono floats at kRate; empty when sox is missing.
std::vector<float> Sox(const std::string& synth) {
  std::vector<float> v;
  const std::string command = "sox -R -n -r " + std::to_string(kRate) + " -c 1 -t f32 - synth " + synth + " 2>/dev/null";
  if (FILE* pipe = popen(command.c_str(), "r")) {
    float buffer[4096];
    for (std::size_t n; (n = fread(buffer, sizeof(float), std::size(buffer), pipe)) > 0;) v.insert(v.end(), buffer, buffer + n);
    pclose(pipe);
  }
  return v;
}

// A word as espeak-ng says it in a voice, at kRate with the silence around it trimmed (as sox
// does it); empty when either is missing.
std::vector<float> Speak(const std::string& word, const std::string& voice) {
  std::vector<float> v;
  const std::string command = "espeak-ng -v " + voice + " --stdout " + word + " 2>/dev/null | sox -t wav - -r " +
                              std::to_string(kRate) +
                              " -c 1 -t f32 - silence 1 0.01 0.3% reverse silence 1 0.01 0.3% reverse 2>/dev/null";
  if (FILE* pipe = popen(command.c_str(), "r")) {
    float buffer[4096];
    for (std::size_t n; (n = fread(buffer, sizeof(float), std::size(buffer), pipe)) > 0;) v.insert(v.end(), buffer, buffer + n);
    pclose(pipe);
  }
  return v;
}

float Rms(const std::vector<float>& v) {
  double power = 0;
  for (float x : v) power += double(x) * x;
  return float(std::sqrt(power / double(v.size())));
}

// What a line, a background or a voice changes: a word's copy through a phone line among other
// words through it; a plucked chord's copy (made by sox) in white noise 10 dB below it among
// other chords in it; a word (said by espeak-ng) in another voice among the first voice's words
// that share its vowels or its ending. Each copy reaches 70 and nothing else does.
TEST(SoundMatch, CopiesThroughALineOrABackground) {
  struct Case {
    const char* what;
    std::vector<float> prototype, copy;
    std::vector<std::vector<float>> others;
    float noiseBelow;  // dB below the prototype's level, from after it on; 0: none
  };
  auto chord = [](const char* notes) {
    return Sox(std::string("0.8 ") + notes + " fade 0 0.8 0.1 gain -3");
  };
  std::vector<Case> cases;
  cases.push_back({"a phone line", Word(1), PhoneBand(Word(1)), {}, 0});
  for (unsigned k = 2; k <= 5; ++k) cases.back().others.push_back(PhoneBand(Word(k)));
  const std::vector<float> major = chord("pluck C3 pluck E3 pluck G3");
  if (!major.empty())
    cases.push_back({"a background", major, major, {chord("pluck A2 pluck C3 pluck E3"), chord("pluck C5 pluck E5 pluck G5")}, 10});
  else
    ADD_FAILURE() << "sox is missing: the chords in a background are not tried";
  const std::vector<float> basket = Speak("basket", "en");
  if (!basket.empty()) {
    const std::vector<std::vector<float>> near = {Speak("pocket", "en"), Speak("napkin", "en"), Speak("market", "en")};
    cases.push_back({"another voice", basket, Speak("basket", "en-gb-scotland"), near, 0});
    // A woman's voice: the blocks scored it as low as other words of the first voice.
    cases.push_back({"a woman's voice", basket, Speak("basket", "en+f3"), near, 0});
  } else {
    ADD_FAILURE() << "espeak-ng or sox is missing: another voice is not tried";
  }
  for (const Case& c : cases) {
    std::vector<float> samples(std::size_t(kRate) * 8, 0.0f);
    const int prototype = kRate / 2, copy = kRate * 2 + 333;
    Add(samples, c.prototype, prototype);
    Add(samples, c.copy, copy);
    for (std::size_t k = 0; k < c.others.size(); ++k) Add(samples, c.others[k], kRate * int(3 + k) + kRate / 2);
    if (c.noiseBelow > 0) {
      const int from = prototype + int(c.prototype.size()) + kRate / 5;
      const float rms = Rms(c.prototype) * std::pow(10.0f, -c.noiseBelow / 20);
      Add(samples, testaudio::Noise(int(samples.size()) - from, 11, rms * std::sqrt(3.0f)), from);
    }
    CAP_SampleTrack t(kRate);
    t.InsertSamples(samples.data(), int(samples.size()), 0);
    ComputeSoundMatches(t, int(c.prototype.size()), prototype);
    const std::vector<int> found = Matches(t);
    ASSERT_EQ(found.size(), 1u) << c.what << ": the copy scores " << ScoreNear(t, copy);
    EXPECT_NEAR(found[0], copy, kRate * 3 / 100) << c.what;
  }
}

// Words of the same voice that share the selected word's vowel or ending ("napkin", "pocket"
// against "basket"), each at eight phases of the block grid: none reaches 70 at any phase (at
// some, the blocks alone scored them 70 to 75).
TEST(SoundMatch, NearWordsOfTheSameVoiceStayBelowAtAnyPhase) {
  const std::vector<float> basket = Speak("basket", "en");
  if (basket.empty()) GTEST_FAIL() << "espeak-ng or sox is missing";
  const std::vector<float> near[] = {Speak("napkin", "en"), Speak("pocket", "en")};
  std::vector<float> samples(std::size_t(kRate) * 18, 0.0f);
  const int prototype = kRate / 5, block = CAP_SampleTrack::CapacityForRate(kRate) / 2;
  Add(samples, basket, prototype);
  int at = prototype + int(basket.size());
  for (int phase = 0; phase < 8; ++phase)
    for (const std::vector<float>& word : near) {
      at += kRate * 2 / 5 + phase * block / 8;
      Add(samples, word, at);
      at += int(word.size());
    }
  ASSERT_LE(at, int(samples.size()));
  CAP_SampleTrack t(kRate);
  t.InsertSamples(samples.data(), int(samples.size()), 0);
  ComputeSoundMatches(t, int(basket.size()), prototype);
  EXPECT_TRUE(Matches(t).empty()) << Matches(t).size() << " other words reach 70";
}

// The fast search equals the plain one mark for mark: on the planted track as loaded with
// prototypes long and short, and for one prototype searched again after each of a series of edits
// and an undo (as the editor does), where the fast search takes what it remembers of the blocks
// an edit left alone.
TEST(SoundMatch, FastSearchEqualsThePlainOne) {
  const Planted p = MakeTrack();
  CAP_SampleTrack t(kRate);
  t.InsertSamples(p.samples.data(), int(p.samples.size()), 0);
  auto marks = [&] {
    std::vector<std::tuple<float, const SampleBlock*, int, int, bool>> v;
    for (const SampleBlock* b = t.Head(); b; b = b->next)
      v.emplace_back(b->score, b->runHead, b->runLength, b->matchOffset, b->inPrototype);
    return v;
  };
  auto check = [&](int count, int start, const std::string& when) {
    ComputeSoundMatches(t, count, start);
    const auto fast = marks();
    ComputeSoundMatchesReference(t, count, start);
    EXPECT_EQ(fast, marks()) << when;
  };
  const int length = int(Word(1).size());
  std::mt19937 rng(5);
  for (int trial = 0; trial < 3; ++trial) {
    const int count = trial % 2 ? kRate / 20 + int(rng() % 200) : length;
    check(count, trial == 0 ? p.prototype : int(rng() % unsigned(t.Length() - count)), "trial " + std::to_string(trial));
  }
  auto gain = [](float g) {
    return [g](const float* in, float* out, int n, long long) {
      for (int i = 0; i < n; ++i) out[i] = in[i] * g;
    };
  };
  check(length, p.prototype, "before the edits");
  int chainStart = 0;
  BlockChain quieter = t.ChangeRange(kRate / 4, kRate * 3 / 2 + 100, gain(0.5f), &chainStart);  // on a copy
  check(length, p.prototype, "a copy made quieter");
  t.DeleteSamples(kRate / 7, kRate * 6 + 11);
  const std::vector<float> piece(p.samples.begin() + kRate, p.samples.begin() + kRate * 2);
  t.InsertSamples(piece.data(), int(piece.size()), kRate * 8 + 333);  // a copy pasted
  check(length, p.prototype, "a cut and a paste");
  t.SwapRange(quieter.Length(), chainStart, std::move(quieter));
  check(length, p.prototype, "the first edit undone");
  const std::vector<float> noise = testaudio::Noise(kRate / 10, 3, 0.2f);
  t.WriteSamples(noise.data(), int(noise.size()), kRate * 9 / 2 + 2000);  // inside the noisy copy
  check(length, p.prototype, "noise written into a copy");
  t.DeleteSamples(37, kRate * 5 / 2 + 1103 - 500);  // a copy moves by less than a block
  check(length, p.prototype, "a copy moved");
  // Long enough that the fast search splits its first alignment over two threads.
  while (t.BlockCount() < 4500) t.InsertSamples(p.samples.data(), int(p.samples.size()), t.Length());
  check(length, p.prototype, "a long track");
}

// The band shapes kept in the block records are those of their samples after loading, edits
// and an undo's blocks coming back alike: an edit never leaves a shape of samples gone.
TEST(SoundMatch, BandsFollowTheSamples) {
  const Planted p = MakeTrack();
  CAP_SampleTrack t(kRate);
  t.InsertSamples(p.samples.data(), int(p.samples.size()), 0);
  FillBandShapes(t);
  std::vector<float> gain(std::size_t(kRate / 3), 0.25f);
  t.WriteSamples(gain.data(), int(gain.size()), kRate + 999);
  t.DeleteSamples(5000, 3 * kRate + 17);
  int chainStart = 0;
  BlockChain old = t.ChangeRange(kRate, 5 * kRate + 3, [](const float* in, float* out, int n, long long) {
    for (int i = 0; i < n; ++i) out[i] = -in[i] * 0.5f;
  }, &chainStart);
  FillBandShapes(t);
  t.SwapRange(old.Length(), chainStart, std::move(old));  // the undo: the old records come back
  FillBandShapes(t);
  int blocks = 0;
  for (const SampleBlock* b = t.Head(); b; b = b->next, ++blocks) {
    BandEnergies bands;
    ComputeBandEnergies(b->Samples(), b->count, kRate, &bands);
    const BandShape expected = ShapeOf(bands);
    ASSERT_TRUE(b->bands) << blocks;
    ASSERT_EQ(b->bands->rate, kRate) << blocks;
    ASSERT_EQ(std::memcmp(&b->bands->shape, &expected, sizeof expected), 0) << blocks;
  }
}

TEST(SoundMatch, ModesByName) {
  for (const char* name : {"sound", "anywhere", "grid"}) {
    SearchMode mode;
    ASSERT_TRUE(ParseSearchMode(name, &mode));
    EXPECT_EQ(std::string(SearchModeName(mode)), name);
  }
  SearchMode mode;
  EXPECT_FALSE(ParseSearchMode("Sound", &mode));
}

}  // namespace
