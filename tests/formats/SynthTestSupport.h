#pragma once
// Measurements of rendered audio for the module and MIDI tests: pitch from zero crossings,
// level, where sound starts and ends.
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "formats/Probe.h"
#include "tests/formats/TestSupport.h"

namespace formats_test {

struct Rendered {
  int rate = 0, channels = 0;
  std::int64_t floatBytes = 0;
  std::vector<float> left, right;  // right empty for mono
  std::string error;
};

// Opens bytes through the probe table and renders all of them; channels 1 asks for mono.
inline Rendered Render(const std::string& bytes, int channels = 0) {
  Rendered r;
  std::istringstream in(bytes);
  try {
    auto reader = CreateReaderForFile(in, std::int64_t(bytes.size()), "", true);
    if (!reader) {
      r.error = "no reader";
      return r;
    }
    if (channels) reader->FreezeChannels(channels);
    r.rate = reader->CurrentSamplingRate();
    r.channels = reader->CurrentChannels();
    r.floatBytes = reader->FloatByteCount();
    const std::vector<float> all = PullAll(*reader);
    for (std::size_t i = 0; i + r.channels <= all.size(); i += std::size_t(r.channels)) {
      r.left.push_back(all[i]);
      if (r.channels == 2) r.right.push_back(all[i + 1]);
    }
  } catch (const SoundError& error) {
    r.error = error.what();
  }
  return r;
}

// Hz from the upward zero crossings in [from, to), interpolated between samples.
inline double Frequency(const std::vector<float>& s, std::int64_t from, std::int64_t to, int rate) {
  double first = -1, last = -1;
  int crossings = 0;
  for (std::int64_t i = std::max<std::int64_t>(from, 1); i < to && i < std::int64_t(s.size()); ++i) {
    if (s[i - 1] < 0 && s[i] >= 0) {
      const double at = double(i - 1) + s[i - 1] / (s[i - 1] - s[i]);
      if (first < 0) first = at;
      last = at;
      ++crossings;
    }
  }
  return crossings < 2 ? 0 : (crossings - 1) * rate / (last - first);
}

inline double Rms(const std::vector<float>& s, std::int64_t from, std::int64_t to) {
  double sum = 0;
  std::int64_t n = 0;
  for (std::int64_t i = from; i < to && i < std::int64_t(s.size()); ++i, ++n) sum += double(s[i]) * s[i];
  return n ? std::sqrt(sum / double(n)) : 0;
}

// The first sample at or after from whose magnitude reaches threshold; -1 when none.
inline std::int64_t FirstSound(const std::vector<float>& s, std::int64_t from = 0, float threshold = 0.002f) {
  for (std::int64_t i = from; i < std::int64_t(s.size()); ++i)
    if (std::fabs(s[i]) >= threshold) return i;
  return -1;
}

// One past the last sample whose magnitude reaches threshold; 0 when none.
inline std::int64_t EndOfSound(const std::vector<float>& s, float threshold = 0.002f) {
  for (std::int64_t i = std::int64_t(s.size()); i > 0; --i)
    if (std::fabs(s[i - 1]) >= threshold) return i;
  return 0;
}

// Starts of sound after at least gap silent samples.
inline std::vector<std::int64_t> Onsets(const std::vector<float>& s, std::int64_t gap, float threshold = 0.002f) {
  std::vector<std::int64_t> onsets;
  std::int64_t silent = gap;
  for (std::int64_t i = 0; i < std::int64_t(s.size()); ++i) {
    if (std::fabs(s[i]) >= threshold) {
      if (silent >= gap) onsets.push_back(i);
      silent = 0;
    } else {
      ++silent;
    }
  }
  return onsets;
}

}  // namespace formats_test
