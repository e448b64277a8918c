#pragma once
// Real-looking test audio: seeded noise, sweeps, tones.
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace testaudio {

inline std::vector<float> Noise(int n, unsigned seed, float level = 0.5f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-level, level);
  std::vector<float> v(std::size_t(std::max(n, 0)));
  for (float& x : v) x = d(rng);
  return v;
}

// A sine sweep from f0 to f1 Hz over n samples.
inline std::vector<float> Sweep(int n, int rate, double f0, double f1, float level = 0.7f) {
  std::vector<float> v(std::size_t(std::max(n, 0)));
  double phase = 0;
  for (int i = 0; i < n; ++i) {
    const double f = f0 + (f1 - f0) * i / std::max(n - 1, 1);
    phase += 2 * M_PI * f / rate;
    v[i] = level * float(std::sin(phase));
  }
  return v;
}

inline std::vector<float> Tone(int n, int rate, double f, float level = 0.5f) {
  std::vector<float> v(std::size_t(std::max(n, 0)));
  for (int i = 0; i < n; ++i) v[i] = level * float(std::sin(2 * M_PI * f * i / rate));
  return v;
}

}  // namespace testaudio
