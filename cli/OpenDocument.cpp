#include "cli/OpenDocument.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli/CommandLine.h"
#include "cli/Progress.h"
#include "formats/Probe.h"

namespace {

// Why the system would not let the file be read: an error number, or 0 when it would.
int OpenErrno(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno ? errno : ENOENT;
  ::close(fd);
  return 0;
}

// The failure to report for the editor's text: an unreadable file also says why.
OpenFailure FailureOpening(const std::string& path, const std::string& text) {
  OpenFailure failure{text, 0};
  if (text == "Could not open file") {
    std::error_code error;
    failure.openErrno = std::filesystem::is_directory(path, error) ? EISDIR : OpenErrno(path);
    if (!failure.openErrno) failure.openErrno = ENOENT;
  }
  return failure;
}

}  // namespace

std::string OpenFailure::Text(const std::string& path) const {
  std::string text = message;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (openErrno) text += std::string(" (") + std::strerror(openErrno) + ")";
  return AboutFile(path, text);
}

DocumentOptions CliDocumentOptions(bool correctDC) {
  DocumentOptions options;
  options.correctDC = correctDC;
  options.devices = nullptr;
  options.browser = [](const std::string&) { return false; };
  return options;
}

std::unique_ptr<OpenedDocument> TryOpenDocument(const std::string& path, DocumentOptions options,
                                                OpenFailure* failure, EditorFrame* frame,
                                                DocumentPrompts* prompts, ConsoleProgress* progress) {
  // A directory opens for reading on this system but is no file.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    *failure = OpenFailure{"Could not open file", EISDIR};
    return nullptr;
  }
  auto document = std::make_unique<EditorDocument>(std::move(options), frame, prompts);
  const bool opened = document->Open(path, nullptr, kCliViewWidth, kCliViewHeight,
                                     progress ? &ConsoleProgress::Callback : nullptr,
                                     progress ? progress->User() : 0);
  if (progress) progress->Erase();
  if (!opened) {
    *failure = progress && progress->Interrupted() ? OpenFailure{"interrupted", 0, true}
                                                  : FailureOpening(path, document->ErrorText());
    return nullptr;
  }
  // A file that breaks off in its audio is reported, not shown as if it were whole.
  const CAP_AudioDecoder* decoder = document->Editor()->Decoder();
  if (decoder && !decoder->errorText.empty()) {
    *failure = OpenFailure{decoder->errorText, 0};
    return nullptr;
  }
  return std::make_unique<OpenedDocument>(std::move(document));
}

std::unique_ptr<OpenedDocument> OpenDocument(const std::string& path, bool correctDC) {
  OpenFailure failure;
  ConsoleProgress progress;
  auto document = TryOpenDocument(path, CliDocumentOptions(correctDC), &failure, nullptr, nullptr, &progress);
  if (!document) ReportError(failure.Text(path));
  return document;
}

bool OpenHeader(const std::string& path, OpenedHeader* header, OpenFailure* failure) {
  header->editor = std::make_unique<EP_AudioFileEditor>();
  if (header->editor->OpenFile(path)) return true;
  *failure = FailureOpening(path, header->editor->ErrorText());
  return false;
}

void PrintFitNotice(const std::string& path, const CAP_AudioDecoder* decoder) {
  if (decoder && !decoder->notice.empty()) std::fprintf(stderr, "note: %s\n", AboutFile(path, decoder->notice).c_str());
}
