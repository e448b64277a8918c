// tintwave-cli record OUT [--seconds N] [--rate R] [--channels C] [--correct-dc]: records from
// the default sound input into a new document and saves it as OUT. With --correct-dc the input's
// DC offset is first measured for one second with the level monitor and then subtracted.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "analysis/SampleTrack.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Progress.h"
#include "devices/AudioMonitor.h"
#include "devices/alsa/DefaultDevices.h"
#include "formats/FormatCodes.h"
#include "formats/Probe.h"
#include "pipeline/SafeSave.h"
#include "pipeline/SampleMixer.h"

namespace {

const std::string kUsage =
    std::string("usage: tintwave-cli record OUT.wav|.aiff|.au [--seconds TIME] [--rate R] [--channels C] [--correct-dc]\n") +
    kTimeSyntax;

// Grows the new document as the editor does while recording without end: a write that would
// pass the end first appends silence to every track, 1 s for the first five extensions, then
// 5 s, 10 s and 30 s steps. What was not recorded over is cut off before saving.
class RecordingGrowth : public MixerGrowthListener {
public:
  void AudioAboutToGrow(int newLength) override {
    while (mixer->Track(0)->Length() < newLength) {
      const int seconds = extensions_ < 5 ? 1 : extensions_ < 10 ? 5 : extensions_ < 20 ? 10 : 30;
      silence_.resize(std::size_t(mixer->sampleRate), 0.0f);
      for (int t = 0; t < mixer->TrackCount(); ++t) {
        CAP_SampleTrack* track = mixer->Track(t);
        for (int s = 0; s < seconds; ++s) track->InsertSamples(silence_.data(), mixer->sampleRate, track->Length());
      }
      ++extensions_;
    }
  }
  CAP_SampleMixer* mixer = nullptr;

private:
  int extensions_ = 0;
  std::vector<float> silence_;
};

void CutTo(CAP_SampleMixer& mixer, int frames) {
  for (int t = 0; t < mixer.TrackCount(); ++t) {
    CAP_SampleTrack* track = mixer.Track(t);
    if (track->Length() > frames) track->DeleteSamples(track->Length() - frames, frames);
  }
}

// WAVE, AIFF or AU by the name's extension; 0 for any other.
int FileFormatFor(const std::string& path) {
  std::string e = ExtensionOf(path);
  for (char& ch : e) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  if (e == ".wav" || e == ".wave") return FileFormatWave;
  if (e == ".aif" || e == ".aiff" || e == ".aifc") return FileFormatAiff;
  if (e == ".au" || e == ".snd") return FileFormatAu;
  return 0;
}

}  // namespace

int RunRecord(int argc, char** argv) {
  if (HelpRequested(argc, argv)) return PrintUsage(kUsage.c_str());
  if (argc < 2 || argv[1][0] == '-') {
    return ReportMisuse("missing arguments", kUsage.c_str());
  }
  const std::string path = argv[1];
  double seconds = 0, rate = 44100, channels = 2;
  TimeValue length;
  bool haveLength = false;
  bool correctDc = false;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--correct-dc") {
      correctDc = true;
      continue;
    }
    if (a == "--seconds" && i + 1 < argc) {
      std::string error;
      if (!ParseTime(argv[++i], &length, &error)) return ReportMisuse("--seconds: " + error, kUsage.c_str());
      haveLength = true;
      continue;
    }
    double* target = a == "--rate" ? &rate : a == "--channels" ? &channels : nullptr;
    const double low = a == "--rate" ? 8000 : a == "--channels" ? 1 : 0.001;
    const double high = a == "--rate" ? 96000 : a == "--channels" ? 2 : 86400;
    if (!target || i + 1 >= argc || !ParseNumberArgument(argv[++i], low, high, target) ||
        (target != &seconds && *target != std::floor(*target))) {
      return ReportMisuse("bad argument '" + a + "'", kUsage.c_str());
    }
  }
  const int rateHz = int(rate), channelCount = int(channels);
  if (haveLength) {
    seconds = length.Seconds(rateHz);
    if (!(seconds >= 0.001 && seconds <= 86400)) return ReportMisuse("--seconds: from 0.001 to 86400 seconds", kUsage.c_str());
  }
  const int fileFormat = FileFormatFor(path);
  if (!fileFormat) {
    return ReportMisuse("cannot save '" + path + "': the name must end in .wav, .aiff or .au", kUsage.c_str());
  }
  const auto* interrupt = InterruptOnCtrlC();

  float offsets[2] = {0, 0};
  if (correctDc) {
    CAP_AudioMonitor monitor(channelCount, rateHz, nullptr);
    auto measure = MakeDefaultPlayer(nullptr, &monitor);
    measure->Record(0, 1.0);
    if (measure->State() != kDeviceRecording) {
      return ReportError(measure->ErrorText());
    }
    RunUntilIdle(*measure, interrupt);
    if (*interrupt) return 1;
    for (int c = 0; c < channelCount; ++c) offsets[c] = monitor.DcOffset(c);
    std::printf("DC offset:");
    for (int c = 0; c < channelCount; ++c) std::printf(" %+.5f", double(offsets[c]));
    std::printf("\n");
  }

  RecordingGrowth growth;
  EP_SampleMixer document(channelCount, rateHz, &growth, true);
  growth.mixer = &document;
  auto player = MakeDefaultPlayer(nullptr, &document);
  player->SetDcOffsets(offsets[0], offsets[1]);
  player->Record(0, seconds);  // 0: until Ctrl+C
  if (player->State() != kDeviceRecording) {
    return ReportError(player->ErrorText());
  }
  std::string shown;
  RunUntilIdle(*player, interrupt, [&] {
    const std::string line = "recording " + ConsoleTimeText(double(player->RecordPosition()) / rateHz);
    if (line != shown) std::printf("\r%s", line.c_str());
    std::fflush(stdout);
    shown = line;
  });
  std::printf("\n");
  if (player->ErrorText()[0]) std::fprintf(stderr, "warning: %s\n", player->ErrorText());  // keep what came in
  const int recorded = player->RecordPosition();
  if (recorded == 0) {
    return ReportError("nothing was recorded");
  }
  CutTo(document, recorded);
  const double duration = double(recorded) / rateHz;
  const SaveTarget target{path, fileFormat, channelCount, rateHz, CompressionPcm16};
  ConsoleProgress saving;
  if (const std::string error = SaveAudioSafely(document, duration, target, nullptr, &ConsoleProgress::Callback, saving.User());
      !error.empty()) {
    return ReportError(AboutFile(path, error));
  }
  std::printf("saved %s (%s)\n", path.c_str(), ConsoleTimeText(duration).c_str());
  return 0;
}
