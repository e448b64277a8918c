// tintwave-cli render FILE OUT.png: the document's view as the editor draws it, offscreen.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "analysis/SampleTrack.h"
#include <QBuffer>
#include <QByteArray>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/OpenDocument.h"
#include "cli/Progress.h"
#include "cli/SafeWrite.h"
#include "graphics/qt/ViewRenderer.h"

namespace {

const std::string kUsage = std::string(
    "usage: tintwave-cli render FILE OUT.png [--width W] [--height H] [--start TIME]\n"
    "                           [--seconds TIME] [--grey] [--select TIME TIME]\n") + kTimeSyntax;

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
  ConsoleProgress loading;
  *document = TryOpenDocument(path, CliDocumentOptions(false), &failure, nullptr, nullptr, &loading);
  if (*document) return "";
  if (failure.message == "Could not decode audio") return path + ": not an audio file that Tintwave reads";
  return failure.Text(path);
}

// The view options' times, as written, until the file's rate is known.
struct ViewTimes {
  TimeValue start, seconds, selectionStart, selectionEnd;
  bool haveSeconds = false;
};

}  // namespace

int RunRender(int argc, char** argv) {
  if (HelpRequested(argc, argv)) return PrintUsage(kUsage.c_str());
  if (argc < 3) {
    std::fputs(kUsage.c_str(), stderr);
    return 2;
  }
  const std::string input = argv[1], output = argv[2];
  ViewOptions options;
  ViewTimes times;
  for (int i = 3; i < argc; ++i) {
    const std::string a = argv[i];
    auto needs = [&](int n) { return i + n < argc; };
    bool ok = true;
    std::string error;
    if (a == "--width" && needs(1)) ok = ParseInt(argv[++i], &options.width);
    else if (a == "--height" && needs(1)) ok = ParseInt(argv[++i], &options.height);
    else if (a == "--start" && needs(1)) ok = ParseTime(argv[++i], &times.start, &error);
    else if (a == "--seconds" && needs(1)) ok = ParseTime(argv[++i], &times.seconds, &error) && (times.haveSeconds = true);
    else if (a == "--grey") options.grey = true;
    else if (a == "--select" && needs(2)) {
      options.hasSelection = true;
      ok = ParseTime(argv[i + 1], &times.selectionStart, &error) && ParseTime(argv[i + 2], &times.selectionEnd, &error);
      i += 2;
    } else {
      std::fprintf(stderr, "error: unknown or incomplete option '%s'\n%s", a.c_str(), kUsage.c_str());
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "error: bad value for %s%s%s\n%s", a.c_str(), error.empty() ? "" : ": ", error.c_str(),
                   kUsage.c_str());
      return 2;
    }
  }
  if (const std::string same = SameFileError(input, output); !same.empty()) return ReportError(same);
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
  const int rate = track->sampleRate;
  options.start = times.start.Seconds(rate);
  if (times.haveSeconds) options.seconds = times.seconds.Seconds(rate);
  if (times.haveSeconds && !(options.seconds > 0)) {
    std::fprintf(stderr, "error: bad value for --seconds: the view shows more than nothing\n%s", kUsage.c_str());
    return 2;
  }
  options.selectionStart = times.selectionStart.Seconds(rate);
  options.selectionEnd = times.selectionEnd.Seconds(rate);
  if (options.start >= track->duration) {
    std::fprintf(stderr, "error: %s: --start %s is past the end of the file (%s)\n", input.c_str(),
                 PositionText(times.start.Samples(rate), rate).c_str(),
                 PositionText(track->Length(), rate).c_str());
    return 2;
  }
  const std::unique_ptr<QGuiApplication> app = GuiApplicationIfNeeded();
  QString error;
  const QImage image = RenderTrackView(*track, options, &error);
  if (image.isNull()) {
    std::fprintf(stderr, "error: %s\n", error.toStdString().c_str());
    return 1;
  }
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return ReportError(output + ": the picture could not be encoded");
  const std::string writeError = WriteFileSafely(output, [&](std::FILE* file, std::string*) {
    return std::fwrite(png.constData(), 1, std::size_t(png.size()), file) == std::size_t(png.size());
  });
  if (!writeError.empty()) return ReportError(writeError);
  // The summary goes to standard error when the picture itself went to standard output.
  std::fprintf(output == "-" ? stderr : stdout, "%s: %dx%d, %.3f s at %d Hz\n", output.c_str(), image.width(), image.height(), track->duration,
              track->sampleRate);
  return 0;
}
