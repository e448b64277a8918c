#pragma once
// Pitch changes that keep the length and tempo changes that keep the pitch. Rubber Band's finer
// engine runs offline over the whole range, as its command-line tool runs it: a study pass, then
// the processing pass, both in 1024-frame blocks, so that the two give the same samples.
#include <cstdint>
#include <functional>
#include <string>

// Reads frames [position, position + frames) of every channel into channels[c].
using StretchReader = std::function<void(float* const* channels, int frames, std::int64_t position)>;
// Takes the next frames of the result, one array per channel.
using StretchWriter = std::function<void(const float* const* channels, int frames)>;
// Hears the fraction done (both passes) once a block; it may throw to stop the work.
using StretchProgress = std::function<void(double fraction)>;

struct StretchRequest {
  int channels = 1;
  int rate = 44100;
  std::int64_t frames = 0;  // the input's length
  double timeRatio = 1.0;   // the output's length over the input's
  double pitchScale = 1.0;  // the frequency multiplier
};

// Halftones (cents as decimals) to the frequency multiplier.
double PitchScaleForHalftones(double halftones);
// A tempo change in percent (+100: twice as fast, -50: half as fast) to the time ratio.
double TimeRatioForTempoPercent(double percent);
// The output's length: the input's times the time ratio, rounded.
std::int64_t StretchedLength(std::int64_t frames, double timeRatio);

// Writes exactly StretchedLength(frames, timeRatio) frames. False with *error when the library
// refused the request (std::bad_alloc passes through to the caller).
bool StretchAudio(const StretchRequest& request, const StretchReader& read, const StretchWriter& write,
                  std::string* error, const StretchProgress& progress = nullptr);
