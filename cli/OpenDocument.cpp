#include "cli/OpenDocument.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "cli/CommandLine.h"

namespace {

// Why the system would not let the file be read: an error number, or 0 when it would.
int OpenErrno(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno ? errno : ENOENT;
  ::close(fd);
  return 0;
}

}  // namespace

DocumentOptions CliDocumentOptions(bool correctDC) {
  DocumentOptions options;
  options.correctDC = correctDC;
  options.devices = nullptr;
  options.browser = [](const std::string&) { return false; };
  return options;
}

std::unique_ptr<OpenedDocument> TryOpenDocument(const std::string& path, DocumentOptions options,
                                                OpenFailure* failure, EditorFrame* frame,
                                                DocumentPrompts* prompts) {
  // A directory opens for reading on this system but is no file.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    *failure = OpenFailure{"Could not open file", EISDIR};
    return nullptr;
  }
  auto document = std::make_unique<EditorDocument>(std::move(options), frame, prompts);
  if (!document->Open(path, nullptr, kCliViewWidth, kCliViewHeight)) {
    *failure = OpenFailure{document->ErrorText(), 0};
    if (failure->message == "Could not open file") {
      failure->openErrno = OpenErrno(path);
      if (!failure->openErrno) failure->openErrno = ENOENT;
    }
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
  auto document = TryOpenDocument(path, CliDocumentOptions(correctDC), &failure);
  if (!document) ReportError(failure.message);
  return document;
}
