#include "pipeline/TimeStretch.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
constexpr int kBlock = 1024;  // the command-line tool's block: the same blocks give the same samples
}  // namespace

double PitchScaleForHalftones(double halftones) { return std::pow(2.0, halftones / 12.0); }

double TimeRatioForTempoPercent(double percent) { return 100.0 / (100.0 + percent); }

std::int64_t StretchedLength(std::int64_t frames, double timeRatio) {
  return std::int64_t(std::llround(double(frames) * timeRatio));
}

bool StretchAudio(const StretchRequest& request, const StretchReader& read, const StretchWriter& write,
                  std::string* error, const StretchProgress& progress) {
  using RubberBand::RubberBandStretcher;
  if (request.channels < 1 || request.rate < 1 || request.frames < 0 || !(request.timeRatio > 0) ||
      !(request.pitchScale > 0)) {
    if (error) *error = "The pitch or tempo change cannot be made";
    return false;
  }
  const std::int64_t wanted = StretchedLength(request.frames, request.timeRatio);
  const auto channels = std::size_t(request.channels);
  std::vector<std::vector<float>> buffers(channels, std::vector<float>(kBlock));
  std::vector<float*> pointers(channels);
  for (std::size_t c = 0; c < channels; ++c) pointers[c] = buffers[c].data();

  std::int64_t written = 0;
  auto deliver = [&](int count) {
    // The library's count may differ from the rounded one by a frame or two: cut or pad.
    count = int(std::min<std::int64_t>(count, wanted - written));
    if (count <= 0) return;
    write(pointers.data(), count);
    written += count;
  };

  if (request.frames > 0) {
    // Single-threaded: the editor's work stays on its own thread; the samples do not depend on it.
    const RubberBandStretcher::Options options =
        RubberBandStretcher::OptionProcessOffline | RubberBandStretcher::OptionEngineFiner |
        RubberBandStretcher::OptionThreadingNever;
    RubberBandStretcher stretcher(std::size_t(request.rate), channels, options, request.timeRatio,
                                  request.pitchScale);
    stretcher.setExpectedInputDuration(std::size_t(request.frames));
    stretcher.setMaxProcessSize(kBlock);
    for (int pass = 0; pass < 2; ++pass) {
      for (std::int64_t at = 0; at < request.frames; at += kBlock) {
        const int count = int(std::min<std::int64_t>(kBlock, request.frames - at));
        if (progress) progress((double(pass) * double(request.frames) + double(at)) / (2.0 * double(request.frames)));
        read(pointers.data(), count, at);
        const bool last = at + kBlock >= request.frames;
        if (pass == 0) {
          stretcher.study(pointers.data(), std::size_t(count), last);
          continue;
        }
        stretcher.process(pointers.data(), std::size_t(count), last);
        for (int available; (available = stretcher.available()) > 0;)
          deliver(int(stretcher.retrieve(pointers.data(), std::size_t(std::min(available, kBlock)))));
      }
    }
    // Offline and unthreaded, everything is available once the last block went in.
    for (int available; (available = stretcher.available()) > 0;)
      deliver(int(stretcher.retrieve(pointers.data(), std::size_t(std::min(available, kBlock)))));
  }
  for (auto& buffer : buffers) std::fill(buffer.begin(), buffer.end(), 0.0f);
  while (written < wanted) deliver(int(std::min<std::int64_t>(kBlock, wanted - written)));
  return true;
}
