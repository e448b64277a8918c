#pragma once
// Saving a document from the command line as the Save As dialog would: the file type from the
// name or --type, and the rate, channels and encoding from the options or else from the
// document, then the editor's own save under the path.
#include <csignal>
#include <functional>
#include <string>

#include "analysis/AudioContainer.h"
#include "editor/Document.h"
#include "formats/Annotations.h"
#include "pipeline/SafeSave.h"

struct SaveChoices {
  int type = 0;  // 0: from the output's extension
  int rate = 0, channels = 0, encoding = 0;  // 0: the document's
  // The codec types' settings; -1: the codec's default.
  int level = -1;        // FLAC 0..8
  double quality = -1;   // Ogg Vorbis 0..10
  int bitrate = -1;      // Opus 6..512, MP3 32..320 kbit/s
  int vbr = -1;          // MP3 variable bit rate, LAME's quality 0..9
};

// Whether argv[*i] is --type, --rate, --channels, --encoding, --level, --quality, --bitrate or --vbr
// with its value; *i then moves onto
// the value. A bad value is reported ("error: ...", with the usage for an unknown type) and
// *exitCode is set to the code to end with; otherwise *exitCode is 0.
bool TakeSaveOption(int argc, char** argv, int* i, SaveChoices* choices, const char* usage, int* exitCode);

// WAVE, AIFF, AU, FLAC, Ogg Vorbis, Opus or MP3 for a name's extension (any case); 0 for any other.
int SaveTypeFromExtension(const std::string& path);

// The save settings from the choices, for audio of the given rate, channels and encoding: rate
// and channels those unless chosen, the encoding unless chosen or unwritable (then 16-bit PCM).
// The path is left empty.
SaveTarget ChosenTarget(const SaveChoices& choices, int type, int rate, int channels, int compression);

// The document's save settings from the choices: rate and channels the document's unless
// chosen, and its encoding unless chosen or unwritable (then 16-bit PCM).
void ApplySaveChoices(EditorDocument& document, const SaveChoices& choices, int type);

// Saves the document under path with its save settings through the safe save, with a progress
// line on a terminal. Ctrl+C (when interrupt is given) cancels the save and leaves the old file;
// *interrupted then says so. Returns "" or the error text, naming the file. The document is not
// reopened from the saved file: the command ends.
std::string SaveDocumentUnder(EditorDocument& document, const std::string& path,
                              const volatile std::sig_atomic_t* interrupt, bool* interrupted);

// The same save for audio read from elsewhere than a document (a file's decoder, say) from frame
// 0 for seconds. intact is asked after every piece: false cancels the save (the text is then
// kSaveCancelled's, naming the file) and OUT stays as it was.
std::string SaveAudioUnder(CAP_AudioContainer& source, double seconds, const AnnotationList* annotations,
                           SaveTarget target, const volatile std::sig_atomic_t* interrupt, bool* interrupted,
                           const std::function<bool()>& intact);
