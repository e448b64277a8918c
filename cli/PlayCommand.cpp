// tintwave-cli play FILE [--from S] [--to E]: plays a file through the default sound output and
// shows the moving position on one line until the end or Ctrl+C.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "analysis/AudioContainer.h"
#include "cli/Commands.h"
#include "devices/alsa/ConsoleDevices.h"
#include "formats/Probe.h"
#include "formats/SoundError.h"

namespace {

const char kUsage[] = "usage: tintwave-cli play FILE [--from S] [--to E]\n";

// The file as a container: frames at any position, read straight from the format reader.
class FileSource : public CAP_AudioContainer {
public:
  // Returns an error text, or "" when the file is ready to play.
  std::string Open(const std::string& path) {
    in_.open(path, std::ios::binary);
    if (!in_) return "cannot open '" + path + "': " + std::strerror(errno);
    in_.seekg(0, std::ios::end);
    const std::int64_t size = in_.tellg();
    in_.seekg(0);
    try {
      reader_ = CreateReaderForFile(in_, size, ExtensionOf(path), false);
      if (!reader_) return "'" + path + "' is not an audio file that Tintwave reads";
      sampleRate = reader_->CurrentSamplingRate();
      channels = reader_->CurrentChannels();
      if (sampleRate < 8000 || sampleRate > 96000)
        return "the sample rate " + std::to_string(sampleRate) + " Hz is outside 8000 to 96000 Hz";
      if (channels < 1 || channels > 2) return "the file has " + std::to_string(channels) + " channels";
      duration = double(reader_->FloatByteCount()) / (4.0 * channels * sampleRate);
    } catch (const SoundError& e) {
      return e.what();
    }
    return "";
  }

  int ReadFloat(float* dest, int frames, int position) override {
    if (!reader_ || !error_.empty() || frames < 1) return 0;
    try {
      if (position != readPosition && reader_->SeekToSample(std::int64_t(position) * channels)) readPosition = position;
      int got = 0;
      while (got < frames) {
        const int n = reader_->PullSamples(dest + std::size_t(got) * channels, (frames - got) * channels) / channels;
        if (n <= 0) break;
        got += n;
      }
      readPosition += got;
      return got;
    } catch (const SoundError& e) {
      error_ = e.what();  // a damaged stretch ends playback here
      return 0;
    }
  }

  const std::string& Error() const { return error_; }

private:
  std::ifstream in_;
  std::unique_ptr<AudioAbstract> reader_;
  std::string error_;
};

}  // namespace

int RunPlay(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  double from = 0, to = 0;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    double* target = a == "--from" ? &from : a == "--to" ? &to : nullptr;
    if (!target || i + 1 >= argc || !ParseNumberArgument(argv[++i], 0, 1e7, target)) {
      std::fprintf(stderr, "error: bad argument '%s'\n%s", a.c_str(), kUsage);
      return 1;
    }
  }
  FileSource source;
  if (const std::string error = source.Open(argv[1]); !error.empty()) {
    std::fprintf(stderr, "error: %s\n", error.c_str());
    return 1;
  }
  const double end = to > 0 ? std::min(to, source.duration) : source.duration;
  if (from >= end) {
    std::fprintf(stderr, "error: nothing to play between %s and %s\n", ConsoleTimeText(from).c_str(), ConsoleTimeText(end).c_str());
    return 1;
  }

  auto player = MakeDefaultPlayer(&source, nullptr);
  const auto* interrupt = InterruptOnCtrlC();
  player->Play(from, end);
  if (player->State() != kDevicePlaying) {
    std::fprintf(stderr, "error: %s\n", player->ErrorText());
    return 1;
  }
  const std::string total = ConsoleTimeText(end);
  std::string shown;
  RunUntilIdle(*player, interrupt, [&] {
    const std::string line = ConsoleTimeText(player->GetPositionSeconds()) + " / " + total;
    if (line != shown) std::printf("\r%s", line.c_str());
    std::fflush(stdout);
    shown = line;
  });
  if (!*interrupt && !player->ErrorText()[0] && shown != total + " / " + total)
    std::printf("\r%s / %s", total.c_str(), total.c_str());  // the last sample's position reads a hair short
  std::printf("\n");
  if (!source.Error().empty()) {
    std::fprintf(stderr, "error: %s\n", source.Error().c_str());
    return 1;
  }
  if (player->ErrorText()[0]) {
    std::fprintf(stderr, "error: %s\n", player->ErrorText());
    return 1;
  }
  return 0;
}
