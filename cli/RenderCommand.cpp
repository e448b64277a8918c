// tintwave-cli render FILE OUT.png: the document's view as the editor draws it, offscreen.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "analysis/SampleTrack.h"
#include "cli/Commands.h"
#include "cli/OpenDocument.h"
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

// Opens the file as the editor does; the display track is what the editor shows. Returns an
// error text or "".
std::string OpenForView(const std::string& path, std::unique_ptr<OpenedDocument>* document) {
  OpenFailure failure;
  *document = TryOpenDocument(path, CliDocumentOptions(false), &failure);
  if (*document) return "";
  if (failure.openErrno) return "cannot open '" + path + "': " + std::strerror(failure.openErrno);
  if (failure.message == "Could not decode audio") return "'" + path + "' is not an audio file that Tintwave reads";
  return failure.message;
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

  std::unique_ptr<OpenedDocument> document;
  const std::string loadError = OpenForView(input, &document);
  if (!loadError.empty()) {
    std::fprintf(stderr, "error: %s\n", loadError.c_str());
    return 1;
  }
  CAP_SampleTrack* track = &document->DisplayTrack();
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
