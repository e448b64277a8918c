#pragma once
// The sounds the benchmarks fill their documents with: one second of one of eight sounds (tones,
// a chord, sweeps, noise, a tone in noise), stereo, so that a one-second prototype has matches
// here and there and the signatures vary; the right channel is the left one quieter, with its
// own noise.
#include <cmath>
#include <random>
#include <vector>

// frames: room for rate stereo frames.
inline void FillSecond(int kind, std::mt19937& rng, std::vector<float>& frames, int rate = 44100) {
  std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
  double phase = 0;
  for (int i = 0; i < rate; ++i) {
    const double t = double(i) / rate;
    float v = 0;
    switch (kind) {
      case 0: v = 0.5f * float(std::sin(2 * M_PI * 220 * t)); break;
      case 1: v = 0.4f * float(std::sin(2 * M_PI * 660 * t)); break;
      case 2: v = 0.3f * float(std::sin(2 * M_PI * 1760 * t)); break;
      case 3:
        phase += 2 * M_PI * (200 + 2800 * t) / rate;
        v = 0.5f * float(std::sin(phase));
        break;
      case 4:
        phase += 2 * M_PI * (3000 - 2800 * t) / rate;
        v = 0.5f * float(std::sin(phase));
        break;
      case 5: v = 0.3f * noise(rng); break;
      case 6: v = 0.1f * noise(rng) + 0.4f * float(std::sin(2 * M_PI * 110 * t)); break;
      default: v = 0.3f * float(std::sin(2 * M_PI * 440 * t) + std::sin(2 * M_PI * 550 * t)); break;
    }
    frames[std::size_t(2 * i)] = v;
    frames[std::size_t(2 * i + 1)] = 0.8f * v + 0.02f * noise(rng);
  }
}
