#include "search/SoundFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "analysis/SampleTrack.h"
#include "editor/Document.h"
#include "formats/FormatCodes.h"
#include "pipeline/AudioDecoder.h"

namespace {

struct FormatNames {
  std::int32_t code;
  const char* key;
  const char* name;
};

constexpr FormatNames kFormats[] = {
    {FileFormatWave, "wave", "WAVE"},      {FileFormatAiff, "aiff", "AIFF"},
    {FileFormatAu, "au", "AU"},            {FileFormatMpeg, "mpeg", "MPEG"},
    {FileFormatVoc, "voc", "VOC"},         {FileFormatIff8svx, "8svx", "8SVX"},
    {FileFormatMidi, "midi", "MIDI"},      {FileFormatModule, "module", "Module"},
    {FileFormatFlac, "flac", "FLAC"},      {FileFormatOggVorbis, "ogg", "Ogg Vorbis"},
    {FileFormatOpus, "opus", "Opus"},      {FileFormatMp4, "m4a", "M4A"},
    {FileFormatAsf, "wma", "WMA"},         {FileFormatWavPack, "wavpack", "WavPack"},
    {FileFormatMonkeysAudio, "ape", "Monkey's Audio"}, {FileFormatMatroska, "matroska", "Matroska"},
    {FileFormatCaf, "caf", "CAF"},         {FileFormatWave64, "w64", "Wave64"},
    {FileFormatAac, "aac", "AAC"},
};

// The system's reason when the file cannot even be read.
std::string WhyUnreadable(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return std::strerror(EISDIR);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return {};
}

DocumentOptions SearchDocumentOptions() {
  DocumentOptions options;
  options.correctDC = false;  // as tintwave-cli signature and the editor's default command line
  options.devices = nullptr;
  options.browser = [](const std::string&) { return false; };
  return options;
}

}  // namespace

bool AnalyseSoundFile(const std::string& path, AnalysedSound* sound, std::string* error) {
  *sound = AnalysedSound{};
  const std::string unreadable = WhyUnreadable(path);
  if (!unreadable.empty()) {
    *error = "Could not open file (" + unreadable + ")";
    return false;
  }
  EditorDocument document(SearchDocumentOptions(), nullptr, nullptr);
  if (!document.Open(path, nullptr, 1000, 200)) {
    *error = document.ErrorText();
    while (!error->empty() && (error->back() == '\n' || error->back() == '\r')) error->pop_back();
    return false;
  }
  AudioEditorApp& editor = *document.Editor();
  // A file that breaks off in its audio is not indexed as if it were whole.
  if (editor.Decoder() && !editor.Decoder()->errorText.empty()) {
    *error = editor.Decoder()->errorText;
    return false;
  }
  CAP_SampleTrack& track = *editor.DisplayTrack();
  sound->facts = {document.FileType(), document.Channels(), editor.BitsPerSample(), document.Rate(), track.Length()};

  WindowSeries whole;
  whole.length = track.Length();
  whole.signatures.resize(1);
  track.ComputeRegionSignature(track.Length(), 0, &whole.signatures[0]);
  sound->series.push_back(std::move(whole));

  std::vector<std::int32_t> lengths;
  for (const double seconds : kIndexWindowSeconds) lengths.push_back(RoundSamples(seconds * track.sampleRate));
  for (WindowSeries& s : ComputeWindowSeries(track, lengths))
    if (!s.signatures.empty()) sound->series.push_back(std::move(s));
  return true;
}

const char* FormatKey(std::int32_t fileFormat) {
  for (const FormatNames& f : kFormats)
    if (f.code == fileFormat) return f.key;
  return "other";
}

const char* FormatName(std::int32_t fileFormat) {
  for (const FormatNames& f : kFormats)
    if (f.code == fileFormat) return f.name;
  return "other";
}

std::int32_t FormatFromKey(const std::string& key) {
  for (const FormatNames& f : kFormats)
    if (key == f.key) return f.code;
  return FileFormatNone;
}
