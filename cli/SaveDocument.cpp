#include "cli/SaveDocument.h"

#include <algorithm>
#include <cctype>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "cli/CommandLine.h"
#include "cli/Progress.h"
#include "cli/SafeWrite.h"
#include "formats/FormatCodes.h"
#include "formats/Probe.h"
#include "pipeline/AudioDecoder.h"

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

int TypeFromName(const std::string& name) {
  const std::string n = Lower(name);
  if (n == "wave" || n == "wav") return FileFormatWave;
  if (n == "aiff" || n == "aif") return FileFormatAiff;
  if (n == "au") return FileFormatAu;
  if (n == "flac") return FileFormatFlac;
  if (n == "ogg" || n == "vorbis") return FileFormatOggVorbis;
  if (n == "opus") return FileFormatOpus;
  if (n == "mp3") return FileFormatMpeg;
  return FileFormatNone;
}

struct SaveProgress {
  explicit SaveProgress(const volatile std::sig_atomic_t* interrupt) : console(interrupt) {}
  ConsoleProgress console;
  std::string path;
  std::function<bool()> intact;  // asked after every piece when set; false cancels the save
};

bool OnSaveProgress(std::intptr_t user, const char* text, int percent) {
  auto* progress = reinterpret_cast<SaveProgress*>(user);
  if (progress->intact && !progress->intact()) return false;
  const bool go = progress->console.Report(text, percent);
  if (progress->console.IgnoredCancels() > 0) {
    // The save went on after it was told to stop: it ends here, before its temporary file can
    // replace the old one.
    progress->console.Erase();
    RemoveOpenTemporary(progress->path);
    std::fprintf(stderr, "error: %s: interrupted; the file is as it was\n", progress->path.c_str());
    std::fflush(stderr);
    std::_Exit(130);
  }
  return go;
}

}  // namespace

bool TakeSaveOption(int argc, char** argv, int* i, SaveChoices* choices, const char* usage, int* exitCode) {
  *exitCode = 0;
  const std::string option = argv[*i];
  if ((option != "--type" && option != "--rate" && option != "--channels" && option != "--encoding" &&
       option != "--level" && option != "--quality" && option != "--bitrate" && option != "--vbr") ||
      *i + 1 >= argc)
    return false;
  const char* value = argv[++*i];
  if (option == "--level") {
    if (!ParseInteger(value, 0, 8, &choices->level)) *exitCode = ReportError("The FLAC level must be 0 to 8");
  } else if (option == "--quality") {
    char* end = nullptr;
    choices->quality = std::strtod(value, &end);
    if (end == value || *end || !(choices->quality >= 0 && choices->quality <= 10))
      *exitCode = ReportError("The Ogg Vorbis quality must be 0 to 10");
  } else if (option == "--bitrate") {
    if (!ParseInteger(value, 6, 512, &choices->bitrate)) *exitCode = ReportError("The bit rate must be 6 to 512 kbit/s");
  } else if (option == "--vbr") {
    if (!ParseInteger(value, 0, 9, &choices->vbr)) *exitCode = ReportError("The MP3 VBR quality must be 0 to 9");
  } else if (option == "--type") {
    choices->type = TypeFromName(value);
    if (choices->type == FileFormatNone) *exitCode = ReportMisuse(std::string("unknown file type '") + value + "'", usage);
  } else if (option == "--rate") {
    if (!ParseInteger(value, CAP_AudioDecoder::kMinRate, CAP_AudioDecoder::kMaxRate, &choices->rate))
      *exitCode = ReportError("Sample rate must be between 8000 and 96000");
  } else if (option == "--channels") {
    if (!ParseInteger(value, 1, 2, &choices->channels)) *exitCode = ReportError("The channels must be 1 or 2");
  } else if (!ParseInteger(value, 0, 255, &choices->encoding) || !IsWritableEncoding(choices->encoding)) {
    *exitCode = ReportError(std::string("Encoding ") + value + " cannot be written; choose 2, 3 or 16 to 20");
  }
  return true;
}

int SaveTypeFromExtension(const std::string& path) {
  const std::string extension = Lower(ExtensionOf(path));
  if (extension == ".wav") return FileFormatWave;
  if (extension == ".aiff" || extension == ".aif" || extension == ".aifc") return FileFormatAiff;
  if (extension == ".au" || extension == ".snd") return FileFormatAu;
  if (extension == ".flac") return FileFormatFlac;
  if (extension == ".ogg" || extension == ".oga") return FileFormatOggVorbis;
  if (extension == ".opus") return FileFormatOpus;
  if (extension == ".mp3") return FileFormatMpeg;
  return FileFormatNone;
}

namespace {

// The codec types' encoding: the sample width (FLAC) and the setting chosen, else the defaults.
int CodecChoice(const SaveChoices& choices, int type, int own) {
  const int defaults = CodecEncoding(type, choices.encoding ? choices.encoding : own);
  const int base = BaseCompression(defaults);
  switch (type) {
    case FileFormatFlac: return choices.level >= 0 ? WithSetting(base, choices.level) : defaults;
    case FileFormatOggVorbis:
      return choices.quality >= 0 ? WithSetting(base, int(choices.quality * 10 + 0.5)) : defaults;
    case FileFormatOpus: return choices.bitrate > 0 ? WithSetting(base, choices.bitrate) : defaults;
    case FileFormatMpeg:
      if (choices.vbr >= 0) return WithSetting(base, choices.vbr) | kVbrFlag;
      return choices.bitrate > 0 ? WithSetting(base, choices.bitrate) : defaults;
    default: return defaults;
  }
}

}  // namespace

SaveTarget ChosenTarget(const SaveChoices& choices, int type, int rate, int channels, int compression) {
  const int encoding = IsCodecType(type)              ? CodecChoice(choices, type, compression)
                       : choices.encoding             ? choices.encoding
                       : IsWritableEncoding(compression) ? compression
                                                      : int(CompressionPcm16);
  return SaveTarget{"", type, choices.channels ? choices.channels : channels, choices.rate ? choices.rate : rate,
                    encoding};
}

void ApplySaveChoices(EditorDocument& document, const SaveChoices& choices, int type) {
  const SaveTarget target = ChosenTarget(choices, type, document.Rate(), document.Channels(), document.Compression());
  document.SetSaveSettings(target.fileFormat, target.rate, target.channels, target.compression);
}

std::string SaveDocumentUnder(EditorDocument& document, const std::string& path,
                              const volatile std::sig_atomic_t* interrupt, bool* interrupted) {
  *interrupted = false;
  AudioEditorApp* editor = document.Editor();
  if (!editor) return AboutFile(path, "The document has no audio");
  SaveProgress progress(interrupt);
  progress.path = path;
  const bool saved = editor->SaveToFile(path, document.Channels(), document.Rate(), document.FileType(),
                                        document.Compression(), &OnSaveProgress, reinterpret_cast<std::intptr_t>(&progress));
  progress.console.Erase();
  // Ctrl+C after the last piece came too late to stop anything: the file is saved.
  if (!saved && progress.console.Interrupted()) {
    *interrupted = true;
    return AboutFile(path, "interrupted; the file is as it was");
  }
  return saved ? "" : AboutFile(path, editor->ErrorText());
}

std::string SaveAudioUnder(CAP_AudioContainer& source, double seconds, const AnnotationList* annotations,
                           SaveTarget target, const volatile std::sig_atomic_t* interrupt, bool* interrupted,
                           const std::function<bool()>& intact) {
  *interrupted = false;
  SaveProgress progress(interrupt);
  progress.path = target.path;
  progress.intact = intact;
  const std::string failure = SaveAudioSafely(source, seconds, target, annotations, &OnSaveProgress,
                                              reinterpret_cast<std::intptr_t>(&progress));
  progress.console.Erase();
  if (!failure.empty() && progress.console.Interrupted()) {
    *interrupted = true;
    return AboutFile(target.path, "interrupted; the file is as it was");
  }
  return failure.empty() ? "" : AboutFile(target.path, failure);
}
