#pragma once
// A minute of background with one motif planted at random sample offsets and other sounds as
// decoys: the material on which the sound search is judged (tests and benchmarks).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "analysis/SampleTrack.h"
#include "tests/analysis/TestAudio.h"

namespace planted {

enum class Background { Noise, Tone, Music };
enum class Copy { Exact, UnderNoise, Quieter };  // noise 30 dB below the motif; 6 dB down

struct PlantedTrack {
  std::vector<float> samples;
  std::vector<int> starts;  // of the motif's copies, in track order; the first is exact
  int motifLength = 0;
};

inline float Rms(const std::vector<float>& v) {
  double s = 0;
  for (float x : v) s += double(x) * x;
  return float(std::sqrt(s / std::max<std::size_t>(v.size(), 1)));
}

// Notes of a pentatonic scale with three harmonics and a decay, 0.25 s each.
inline std::vector<float> MusicLike(int n, int rate, unsigned seed, float level) {
  std::mt19937 rng(seed);
  const double scale[] = {220, 247.5, 275, 330, 366.7, 440, 495, 550};
  std::vector<float> v(std::size_t(std::max(n, 0)));
  const int note = rate / 4;
  for (int at = 0; at < n; at += note) {
    const double f = scale[rng() % 8];
    for (int i = 0; i < note && at + i < n; ++i) {
      const double t = double(i) / rate, env = std::exp(-6 * t);
      v[at + i] = level * float(env * (std::sin(2 * M_PI * f * t) + 0.5 * std::sin(4 * M_PI * f * t) +
                                       0.25 * std::sin(6 * M_PI * f * t)) / 1.75);
    }
  }
  return v;
}

inline std::vector<float> BackgroundOf(Background kind, int n, int rate, unsigned seed) {
  switch (kind) {
    case Background::Noise: return testaudio::Noise(n, seed, 0.05f);
    case Background::Tone: return testaudio::Tone(n, rate, 233, 0.1f);
    case Background::Music: return MusicLike(n, rate, seed, 0.15f);
  }
  return {};
}

// The motif: a rising chirp over a pulsing tone, 0.5 s.
inline std::vector<float> Motif(int rate) {
  const int n = rate / 2;
  std::vector<float> v = testaudio::Sweep(n, rate, 600, 2600, 0.4f);
  for (int i = 0; i < n; ++i)
    v[i] += 0.3f * float(std::sin(2 * M_PI * 330 * i / rate) * (0.5 + 0.5 * std::sin(2 * M_PI * 6 * i / rate)));
  return v;
}

inline std::vector<float> Decoy(int k, int n, int rate) {
  switch (k % 5) {
    case 0: return testaudio::Sweep(n, rate, 2600, 600, 0.5f);
    case 1: return testaudio::Tone(n, rate, 400 + 170 * k, 0.5f);
    case 2: return testaudio::Noise(n, 1000 + k, 0.4f);
    case 3: return testaudio::Sweep(n, rate, 150, 900 + 100 * k, 0.5f);
    default: {
      std::vector<float> v = testaudio::Tone(n, rate, 1200 + 90 * k, 0.5f);
      for (int i = 0; i < n; ++i) v[i] *= float(0.5 + 0.5 * std::sin(2 * M_PI * 11 * i / rate));
      return v;
    }
  }
}

// copies motifs and decoys sounds over seconds of background, each in a slot of its own at a
// random offset in it (so that no two overlap).
inline PlantedTrack MakePlantedTrack(int rate, Background background, Copy copy, unsigned seed,
                                     int copies = 20, int decoys = 9, int seconds = 60) {
  PlantedTrack out;
  const int n = rate * seconds;
  out.samples = BackgroundOf(background, n, rate, seed);
  const std::vector<float> motif = Motif(rate);
  out.motifLength = int(motif.size());
  const int slots = copies + decoys, slot = n / slots;
  std::mt19937 rng(seed * 7919u + 1);
  std::vector<int> kinds(slots);  // 0: motif, 1..: decoy number
  for (int i = 0; i < slots; ++i) kinds[i] = i < copies ? 0 : i - copies + 1;
  std::shuffle(kinds.begin() + 1, kinds.end(), rng);  // the first slot holds the exact copy
  const float noiseLevel = Rms(motif) * std::pow(10.0f, -30.0f / 20) * std::sqrt(3.0f);
  for (int i = 0; i < slots; ++i) {
    const int at = i * slot + int(rng() % unsigned(slot - out.motifLength));
    std::vector<float> sound = kinds[i] ? Decoy(kinds[i], out.motifLength, rate) : motif;
    if (!kinds[i] && !out.starts.empty()) {
      if (copy == Copy::Quieter)
        for (float& x : sound) x *= 0.5f;
      if (copy == Copy::UnderNoise) {
        const std::vector<float> hiss = testaudio::Noise(out.motifLength, seed + 31 * unsigned(i), noiseLevel);
        for (int k = 0; k < out.motifLength; ++k) sound[k] += hiss[k];
      }
    }
    for (int k = 0; k < out.motifLength; ++k) out.samples[at + k] += sound[k];
    if (!kinds[i]) out.starts.push_back(at);
  }
  return out;
}

struct Found {
  int recalled = 0, planted = 0, falseMatches = 0;
  int maxStartError = 0;  // samples, over the exact copies' matches
};

// Searches with the first copy as prototype at the default threshold: a copy is recalled when a
// match starts within a block and a half of it; every other match is false.
inline Found Search(const planted::PlantedTrack& p, int rate, int phases) {
  CAP_SampleTrack t(rate);
  t.InsertSamples(p.samples.data(), int(p.samples.size()), 0);
  t.ComputeMatches(p.motifLength, p.starts[0], phases);
  const int block = t.Head()->count;
  Found f;
  f.planted = int(p.starts.size()) - 1;
  std::vector<bool> hit(p.starts.size(), false);
  int s = 0;
  for (const SampleBlock* b = t.Head(); b; s += b->count, b = b->next) {
    if (b->runHead != b || b->inPrototype || b->score < 70) continue;
    const int at = s + b->matchOffset;
    int nearest = -1;
    for (std::size_t i = 1; i < p.starts.size(); ++i)
      if (std::abs(at - p.starts[i]) <= block * 3 / 2 && (nearest < 0 || std::abs(at - p.starts[i]) < std::abs(at - p.starts[nearest])))
        nearest = int(i);
    if (nearest < 0 || hit[nearest]) {
      ++f.falseMatches;
      continue;
    }
    hit[nearest] = true;
    ++f.recalled;
    f.maxStartError = std::max(f.maxStartError, std::abs(at - p.starts[nearest]));
  }
  return f;
}

}  // namespace planted
