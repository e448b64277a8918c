#pragma once
// Every tintwave-cli command that reads a file opens it as the editor does: an EditorDocument
// without a host window, with the DC correction the command asks for and sound devices only
// when the command plays. The parts the commands read (mixer, decoder, annotations, display
// track) come from the document's controller.
#include <istream>
#include <memory>
#include <string>

#include "analysis/SampleTrack.h"
#include "editor/Document.h"
#include "formats/Annotations.h"
#include "pipeline/AudioDecoder.h"
#include "pipeline/FileBuffer.h"
#include "pipeline/SampleMixer.h"

// The view a command-line document is laid out for; it sets how many samples fall on a pixel.
inline constexpr int kCliViewWidth = 1000;
inline constexpr int kCliViewHeight = 200;

// The document settings of a command: the application's defaults, DC correction off unless
// asked for, no devices, no browser.
DocumentOptions CliDocumentOptions(bool correctDC);

class OpenedDocument {
public:
  explicit OpenedDocument(std::unique_ptr<EditorDocument> document) : document_(std::move(document)) {}
  EditorDocument& Document() const { return *document_; }
  AudioEditorApp& Editor() const { return *document_->Editor(); }
  EP_SampleMixer& Mixer() const { return *Editor().Mixer(); }
  CAP_AudioDecoder& Decoder() const { return *Editor().Decoder(); }
  const AnnotationList& Annotations() const { return Editor().Annotations()->list; }
  CAP_SampleTrack& DisplayTrack() const { return *Editor().DisplayTrack(); }

private:
  std::unique_ptr<EditorDocument> document_;
};

// A file fitted to the editor (down-mixed, converted to 96,000 Hz) says so on stderr, as the
// window says it in its status bar: "note: PATH: 5.1 down-mixed to stereo".
void PrintFitNotice(const std::string& path, const CAP_AudioDecoder* decoder);

class ConsoleProgress;

struct OpenFailure {
  std::string message;  // the editor's text: "Could not open file", the decoder's own text, ...
  int openErrno = 0;    // the system's reason when the file could not be opened
  bool cancelled = false;  // Ctrl+C during the load
  // "PATH: MESSAGE (the system's reason)".
  std::string Text(const std::string& path) const;
};

// Null on failure, with *failure filled. frame, prompts and progress are borrowed and may be
// null; progress shows the load on a terminal and may cancel it.
std::unique_ptr<OpenedDocument> TryOpenDocument(const std::string& path, DocumentOptions options,
                                                OpenFailure* failure, EditorFrame* frame = nullptr,
                                                DocumentPrompts* prompts = nullptr,
                                                ConsoleProgress* progress = nullptr);

// The same with a progress line; a failure prints "error: PATH: TEXT" on standard error and
// gives null.
std::unique_ptr<OpenedDocument> OpenDocument(const std::string& path, bool correctDC = false);

// A file's decoder with the header read and no audio loaded: the editor's own OpenFile, without
// the views that would load the samples.
struct OpenedHeader {
  std::unique_ptr<EP_AudioFileEditor> editor;
  const CAP_AudioDecoder& Decoder() const { return *editor->Decoder(); }
};
bool OpenHeader(const std::string& path, OpenedHeader* header, OpenFailure* failure);
