// tintwave-cli render FILE OUT.png: the document's view as the editor draws it, offscreen.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "analysis/SampleTrack.h"
#include "cli/Commands.h"
#include "formats/Probe.h"
#include "formats/SoundError.h"
#include "graphics/qt/ViewRenderer.h"

namespace {

constexpr const char* kUsage =
    "usage: tintwave-cli render FILE OUT.png [--width W] [--height H] [--start SECONDS]\n"
    "                           [--seconds D] [--grey] [--select A B]\n";

bool ParseNumber(const char* text, double* out) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (!*text || *end || errno || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool ParseInt(const char* text, int* out) {
  double v;
  if (!ParseNumber(text, &v) || v != std::floor(v) || std::fabs(v) > 1e9) return false;
  *out = int(v);
  return true;
}

// Fills track with the display track of the file: its only channel, or the mix of all channels
// (each weighted 1 / channels, as the document's mix track). Returns an error text or "".
std::string LoadDisplayTrack(const std::string& path, std::unique_ptr<CAP_SampleTrack>* track) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot open '" + path + "': " + std::strerror(errno);
  in.seekg(0, std::ios::end);
  const std::int64_t size = in.tellg();
  in.seekg(0);
  try {
    std::unique_ptr<AudioAbstract> reader = CreateReaderForFile(in, size, ExtensionOf(path), false);
    if (!reader) return "'" + path + "' is not an audio file that Tintwave reads";
    const int rate = reader->CurrentSamplingRate();
    const int channels = reader->CurrentChannels();
    if (rate < 8000 || rate > 96000)
      return "the sample rate " + std::to_string(rate) + " Hz is outside 8000 to 96000 Hz";
    if (channels < 1 || channels > 2) return "the file has " + std::to_string(channels) + " channels";
    *track = std::make_unique<CAP_SampleTrack>(rate);
    std::vector<float> chunk(8192 * channels), mono(8192);
    for (;;) {
      const int got = reader->PullSamples(chunk.data(), int(chunk.size()));
      if (got <= 0) break;
      const int frames = got / channels;
      for (int f = 0; f < frames; ++f) {
        float sum = 0;
        for (int c = 0; c < channels; ++c) sum += chunk[f * channels + c] / float(channels);
        mono[f] = sum;
      }
      (*track)->InsertSamples(mono.data(), frames, (*track)->Length());
      if ((*track)->Length() > INT32_MAX - 16384) return "the file is too long";
    }
  } catch (const SoundError& error) {
    return error.what();
  } catch (const std::bad_alloc&) {
    return "not enough memory for the file";
  }
  return "";
}

}  // namespace

int RunRender(int argc, char** argv) {
  if (argc < 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string input = argv[1], output = argv[2];
  ViewOptions options;
  for (int i = 3; i < argc; ++i) {
    const std::string a = argv[i];
    auto needs = [&](int n) { return i + n < argc; };
    bool ok = true;
    if (a == "--width" && needs(1)) ok = ParseInt(argv[++i], &options.width);
    else if (a == "--height" && needs(1)) ok = ParseInt(argv[++i], &options.height);
    else if (a == "--start" && needs(1)) ok = ParseNumber(argv[++i], &options.start) && options.start >= 0;
    else if (a == "--seconds" && needs(1)) ok = ParseNumber(argv[++i], &options.seconds) && options.seconds > 0;
    else if (a == "--grey") options.grey = true;
    else if (a == "--select" && needs(2)) {
      options.hasSelection = true;
      ok = ParseNumber(argv[i + 1], &options.selectionStart) && ParseNumber(argv[i + 2], &options.selectionEnd) &&
           options.selectionStart >= 0 && options.selectionEnd >= 0;
      i += 2;
    } else {
      std::fprintf(stderr, "error: unknown or incomplete option '%s'\n%s", a.c_str(), kUsage);
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "error: bad value for %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (options.width < kMinViewWidth || options.width > kMaxViewWidth || options.height < kMinViewHeight ||
      options.height > kMaxViewHeight) {
    std::fprintf(stderr, "error: the picture must be %d to %d pixels wide and %d to %d high\n", kMinViewWidth,
                 kMaxViewWidth, kMinViewHeight, kMaxViewHeight);
    return 2;
  }

  std::unique_ptr<CAP_SampleTrack> track;
  const std::string loadError = LoadDisplayTrack(input, &track);
  if (!loadError.empty()) {
    std::fprintf(stderr, "error: %s\n", loadError.c_str());
    return 1;
  }
  if (options.start >= track->duration) {
    std::fprintf(stderr, "error: --start %g is past the end of the file (%g s)\n", options.start, track->duration);
    return 2;
  }
  const std::unique_ptr<QGuiApplication> app = GuiApplicationIfNeeded();
  QString error;
  const QImage image = RenderTrackView(*track, options, &error);
  if (image.isNull()) {
    std::fprintf(stderr, "error: %s\n", error.toStdString().c_str());
    return 1;
  }
  if (!image.save(QString::fromStdString(output), "PNG")) {
    std::fprintf(stderr, "error: cannot write '%s'\n", output.c_str());
    return 1;
  }
  std::printf("%s: %dx%d, %.3f s at %d Hz\n", output.c_str(), image.width(), image.height(), track->duration,
              track->sampleRate);
  return 0;
}
