// tintwave-cli convert IN OUT: opens IN as the editor does and saves it with the editor's save,
// through a temporary file that replaces OUT only when it is complete. Ctrl+C leaves OUT as it
// was. A file fitted to the editor (down-mixed, converted to 96,000 Hz) says so on stderr, as the
// window's status bar does.
#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/OpenDocument.h"
#include "cli/Progress.h"
#include "cli/SaveDocument.h"

namespace {

constexpr const char* kUsage =
    "usage: tintwave-cli convert IN OUT [--type wave|aiff|au|flac|ogg|opus|mp3] [--rate R] [--channels C]\n"
    "                            [--encoding CODE] [--level L] [--quality Q] [--bitrate K] [--vbr V]\n"
    "                            [--correct-dc]\n"
    "  OUT must be another file than IN.\n"
    "  CODE: 2 u-law, 3 A-law, 16 8-bit, 17 16-bit, 18 24-bit, 19 32-bit PCM, 20 32-bit float\n"
    "  FLAC: --encoding 17 or 18 (16 or 24-bit), --level 0..8 (5). Ogg Vorbis: --quality 0..10 (5).\n"
    "  Opus (always 48,000 Hz): --bitrate KBPS (96). MP3: --bitrate KBPS (192) or --vbr 0..9.\n";

// The file's decoder as the source of a save, for a file that announces its length: frames come
// as the document would hold them. A stream that ends before that length (cut, damaged) is
// noted, so that the save is cancelled and the document's way reports it as always.
class AnnouncedAudio : public CAP_AudioContainer {
public:
  explicit AnnouncedAudio(CAP_AudioDecoder& decoder) : decoder_(decoder) {
    channels = decoder.channels;
    sampleRate = decoder.sampleRate;
  }
  int ReadFloat(float* dest, int frames, int position) override {
    const int got = decoder_.ReadFloat(dest, frames, position);
    if (std::int64_t(position) + got < decoder_.TotalFrames() && got < frames) shortened_ = true;
    // The save stops asking at an empty read without a progress call; one frame more (never
    // kept: the save is then cancelled) lets that call come and cancel it.
    if (shortened_ && got == 0 && frames > 0) {
      std::fill_n(dest, channels, 0.0f);
      return 1;
    }
    return got;
  }
  bool Intact() const { return !shortened_ && decoder_.errorText.empty(); }

private:
  CAP_AudioDecoder& decoder_;
  bool shortened_ = false;
};

enum class Streamed { Saved, Failed, NotTaken };

// A convert changes nothing, so the document's tracks, signatures and views are work for nothing:
// the editor's decoder feeds the editor's save straight away, and the file written is the one the
// document's save writes, byte for byte. Taken when the file announces its length and no DC
// correction is asked for; anything else, or a stream that does not hold what it announced, goes
// the document's way.
Streamed ConvertStreamed(const std::string& input, const std::string& output, const SaveChoices& choices, int type,
                         const volatile std::sig_atomic_t* interrupt, int* exitCode) {
  OpenedHeader header;
  OpenFailure failure;
  if (!OpenHeader(input, &header, &failure)) return Streamed::NotTaken;
  CAP_AudioDecoder* decoder = header.editor->Decoder();
  const std::int64_t frames = decoder ? decoder->TotalFrames() : 0;
  if (frames <= 0 || frames >= std::numeric_limits<std::int32_t>::max() || decoder->channels < 1 ||
      decoder->channels > 2 || decoder->sampleRate > CAP_AudioDecoder::kMaxRate)
    return Streamed::NotTaken;
  SaveTarget target =
      ChosenTarget(choices, type, decoder->sampleRate, decoder->channels, decoder->compression);
  target.path = output;
  AnnouncedAudio audio(*decoder);
  bool interrupted = false;
  const std::string error =
      SaveAudioUnder(audio, double(frames) / decoder->sampleRate, &header.editor->Annotations()->list, target,
                     interrupt, &interrupted, [&audio] { return audio.Intact(); });
  if (error.empty()) {
    PrintFitNotice(input, decoder);
    return Streamed::Saved;
  }
  if (!audio.Intact()) return Streamed::NotTaken;
  *exitCode = interrupted ? (ReportError(error), 130) : ReportError(error);
  return Streamed::Failed;
}

}  // namespace

int RunConvert(int argc, char** argv) {
  if (HelpRequested(argc, argv)) return PrintUsage(kUsage);
  if (argc < 3) return ReportMisuse("convert takes an input and an output file", kUsage);
  const std::string input = argv[1], output = argv[2];
  SaveChoices choices;
  bool correctDC = false;
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    int exitCode = 0;
    if (option == "--correct-dc") {
      correctDC = true;
    } else if (TakeSaveOption(argc, argv, &i, &choices, kUsage, &exitCode)) {
      if (exitCode) return exitCode;
    } else {
      return ReportMisuse("unknown or incomplete option '" + option + "'", kUsage);
    }
  }
  const int type = choices.type ? choices.type : SaveTypeFromExtension(output);
  if (!type) return ReportMisuse("cannot tell the file type from '" + output + "'; give --type", kUsage);
  if (const std::string same = SameFileError(input, output); !same.empty()) return ReportError(same);

  const auto* interrupt = InterruptOnCtrlC();
  if (!correctDC) {
    int exitCode = 0;
    switch (ConvertStreamed(input, output, choices, type, interrupt, &exitCode)) {
      case Streamed::Saved: return 0;
      case Streamed::Failed: return exitCode;
      case Streamed::NotTaken: break;
    }
  }
  ConsoleProgress loading(interrupt);
  OpenFailure failure;
  const auto document = TryOpenDocument(input, CliDocumentOptions(correctDC), &failure, nullptr, nullptr, &loading);
  if (!document) return failure.cancelled ? (ReportError(input + ": interrupted"), 130) : ReportError(failure.Text(input));
  EditorDocument& doc = document->Document();
  PrintFitNotice(input, doc.Editor()->Decoder());
  ApplySaveChoices(doc, choices, type);
  bool interrupted = false;
  const std::string error = SaveDocumentUnder(doc, output, interrupt, &interrupted);
  if (!error.empty()) return interrupted ? (ReportError(error), 130) : ReportError(error);
  return 0;
}
