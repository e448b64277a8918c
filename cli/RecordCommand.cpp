// tintwave-cli record OUT [--seconds N] [--rate R] [--channels C] [--correct-dc]: records from
// the default sound input into a new document and saves it as OUT. With --correct-dc the input's
// DC offset is first measured for one second with the level monitor and then subtracted.
#include <unistd.h>

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
#include "devices/AudioMonitor.h"
#include "devices/alsa/ConsoleDevices.h"
#include "formats/Probe.h"
#include "formats/SoundError.h"
#include "formats/Wave.h"

namespace {

const char kUsage[] = "usage: tintwave-cli record OUT.wav [--seconds N] [--rate R] [--channels C] [--correct-dc]\n";

// The new document: one track per channel. A write that would pass the end first appends
// silence, 1 s for the first five extensions, then 5 s, 10 s and 30 s steps, as a document
// grows while recording without end; what was not recorded over is cut off before saving.
class RecordingDocument : public CAP_AudioContainer {
public:
  RecordingDocument(int channelCount, int rate) {
    channels = channelCount;
    sampleRate = rate;
    for (int c = 0; c < channelCount; ++c) tracks_.push_back(std::make_unique<CAP_SampleTrack>(rate));
  }

  int ReadFloat(float* dest, int frames, int position) override {
    int count = frames;
    for (int c = 0; c < channels; ++c)
      count = std::min(count, tracks_[c]->ReadSamples(dest + c, frames, position, channels));
    return std::max(count, 0);
  }

  int WriteFloat(const float* source, int frames, int position) override {
    if (frames < 1 || position < 0) return 0;
    if (std::int64_t(position) + frames > std::int64_t(INT32_MAX) - 30LL * sampleRate) return 0;  // full
    while (tracks_[0]->Length() < position + frames) Extend();
    for (int c = 0; c < channels; ++c) tracks_[c]->WriteSamples(source + c, frames, position, channels);
    recorded_ = std::max(recorded_, position + frames);
    return frames;
  }

  void CutToRecorded() {
    for (auto& t : tracks_) t->DeleteSamples(t->Length() - recorded_, recorded_);
    duration = double(recorded_) / sampleRate;
  }
  int Recorded() const { return recorded_; }

private:
  void Extend() {
    const int seconds = extensions_ < 5 ? 1 : extensions_ < 10 ? 5 : extensions_ < 20 ? 10 : 30;
    const std::vector<float> silence(std::size_t(sampleRate), 0.0f);
    for (auto& t : tracks_)
      for (int s = 0; s < seconds; ++s) t->InsertSamples(silence.data(), sampleRate, t->Length());
    ++extensions_;
  }

  std::vector<std::unique_ptr<CAP_SampleTrack>> tracks_;
  int recorded_ = 0;
  int extensions_ = 0;
};

std::string LowerCase(std::string s) {
  for (char& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

// Writes the document as 16-bit PCM into a temporary file beside path and renames it over path
// only when everything was written, so a failed save leaves any earlier file as it was.
std::string SaveDocument(RecordingDocument& doc, const std::string& path) {
  const std::string extension = LowerCase(ExtensionOf(path));
  if (extension != ".wav" && extension != ".wave") return "cannot save '" + path + "': WAVE files (.wav) only, for now";
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return "cannot write beside '" + path + "': " + std::strerror(errno);
  close(fd);
  bool ok = false;
  std::string error;
  try {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    {
      WaveWrite writer(out, doc.Recorded(), doc.channels, doc.sampleRate, CompressionPcm16, AnnotationList{});
      std::vector<float> chunk(std::size_t(CAP_AudioContainer::kChunkFrames) * doc.channels);
      for (int done = 0; done < doc.Recorded();) {
        const int n = doc.ReadFloat(chunk.data(), std::min(CAP_AudioContainer::kChunkFrames, doc.Recorded() - done), done);
        if (n <= 0 || writer.PushSamples(chunk.data(), n * doc.channels) <= 0) break;
        done += n;
      }
    }  // the writer completes the file here
    out.flush();
    ok = bool(out);
    if (!ok) error = "cannot write '" + temp + "': " + std::strerror(errno);
  } catch (const SoundError& e) {
    error = e.what();
  }
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    error = "cannot save '" + path + "': " + std::strerror(errno);
  }
  if (!ok) std::remove(temp.c_str());
  return error;
}

}  // namespace

int RunRecord(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fputs(kUsage, stderr);
    return 1;
  }
  const std::string path = argv[1];
  double seconds = 0, rate = 44100, channels = 2;
  bool correctDc = false;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--correct-dc") {
      correctDc = true;
      continue;
    }
    double* target = a == "--seconds" ? &seconds : a == "--rate" ? &rate : a == "--channels" ? &channels : nullptr;
    const double low = a == "--rate" ? 8000 : a == "--channels" ? 1 : 0.001;
    const double high = a == "--rate" ? 96000 : a == "--channels" ? 2 : 86400;
    if (!target || i + 1 >= argc || !ParseNumberArgument(argv[++i], low, high, target) ||
        (target != &seconds && *target != std::floor(*target))) {
      std::fprintf(stderr, "error: bad argument '%s'\n%s", a.c_str(), kUsage);
      return 1;
    }
  }
  const int rateHz = int(rate), channelCount = int(channels);
  if (LowerCase(ExtensionOf(path)) != ".wav" && LowerCase(ExtensionOf(path)) != ".wave") {
    std::fprintf(stderr, "error: cannot save '%s': WAVE files (.wav) only, for now\n", path.c_str());
    return 1;
  }
  const auto* interrupt = InterruptOnCtrlC();

  float offsets[2] = {0, 0};
  if (correctDc) {
    CAP_AudioMonitor monitor(channelCount, rateHz, nullptr);
    auto measure = MakeDefaultPlayer(nullptr, &monitor);
    measure->Record(0, 1.0);
    if (measure->State() != kDeviceRecording) {
      std::fprintf(stderr, "error: %s\n", measure->ErrorText());
      return 1;
    }
    RunUntilIdle(*measure, interrupt);
    if (*interrupt) return 1;
    for (int c = 0; c < channelCount; ++c) offsets[c] = monitor.DcOffset(c);
    std::printf("DC offset:");
    for (int c = 0; c < channelCount; ++c) std::printf(" %+.5f", double(offsets[c]));
    std::printf("\n");
  }

  RecordingDocument doc(channelCount, rateHz);
  auto player = MakeDefaultPlayer(nullptr, &doc);
  player->SetDcOffsets(offsets[0], offsets[1]);
  player->Record(0, seconds);  // 0: until Ctrl+C
  if (player->State() != kDeviceRecording) {
    std::fprintf(stderr, "error: %s\n", player->ErrorText());
    return 1;
  }
  std::string shown;
  RunUntilIdle(*player, interrupt, [&] {
    const std::string line = "recording " + ConsoleTimeText(double(doc.Recorded()) / rateHz);
    if (line != shown) std::printf("\r%s", line.c_str());
    std::fflush(stdout);
    shown = line;
  });
  std::printf("\n");
  if (player->ErrorText()[0]) std::fprintf(stderr, "warning: %s\n", player->ErrorText());  // keep what came in
  doc.CutToRecorded();
  if (doc.Recorded() == 0) {
    std::fprintf(stderr, "error: nothing was recorded\n");
    return 1;
  }
  if (const std::string error = SaveDocument(doc, path); !error.empty()) {
    std::fprintf(stderr, "error: %s\n", error.c_str());
    return 1;
  }
  std::printf("saved %s (%s)\n", path.c_str(), ConsoleTimeText(doc.duration).c_str());
  return 0;
}
