#include "cli/LoadDocument.h"

#include <cerrno>
#include <filesystem>
#include <new>

#include "formats/Probe.h"

std::unique_ptr<LoadedDocument> LoadDocument(const std::string& path, bool correctDC, LoadFailure* failure) {
  auto fail = [&](std::string message, int openErrno = 0) {
    *failure = LoadFailure{std::move(message), openErrno};
    return nullptr;
  };
  std::error_code sizeError;
  const std::uintmax_t size = std::filesystem::file_size(path, sizeError);
  auto document = std::make_unique<LoadedDocument>();
  errno = 0;
  if (!document->buffer.Open(path, CUP_FileBuffer::kRead | CUP_FileBuffer::kBinary))
    return fail("Could not open file", errno ? errno : ENOENT);
  if (std::filesystem::is_directory(path)) return fail("Could not open file", EISDIR);
  document->decoder = std::make_unique<CAP_AudioDecoder>(document->stream, sizeError ? 0 : std::int64_t(size),
                                                         ExtensionOf(path), true);
  CAP_AudioDecoder& decoder = *document->decoder;
  if (!decoder.errorText.empty()) return fail(decoder.errorText);
  if (decoder.channels > 2) return fail(std::to_string(decoder.channels) + " channel audio is not supported");
  if (decoder.sampleRate > CAP_AudioDecoder::kMaxRate)
    return fail(std::to_string(decoder.sampleRate) + " sample rate audio is not supported");

  document->mixer = std::make_unique<EP_SampleMixer>(decoder.channels, decoder.sampleRate, nullptr, true);
  decoder.CopyAnnotations(document->annotations);
  EP_SampleMixer& mixer = *document->mixer;
  mixer.SetCorrectDC(correctDC);
  mixer.SetPitchShift(float(mixer.NearestPitch(mixer.sampleRate)));  // playback speed 1: no shift
  try {
    if (!mixer.LoadFromDecoder(&decoder, nullptr, 0)) return fail("Could not decode audio");
  } catch (const std::bad_alloc&) {
    return fail("Not enough memory to load the file");
  }
  // A file that breaks off in its audio is reported, not shown as if it were whole.
  if (!decoder.errorText.empty()) return fail(decoder.errorText);
  return document;
}
