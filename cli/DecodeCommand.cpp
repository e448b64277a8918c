// tintwave-cli decode FILE OUT: the document's float frames, interleaved, as 32-bit
// little-endian floats and nothing else; OUT "-" is standard output.
#include <bit>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/OpenDocument.h"
#include "cli/Progress.h"
#include "cli/SafeWrite.h"

namespace {

constexpr const char* kUsage =
    "usage: tintwave-cli decode FILE OUT\n"
    "  The frames of FILE as interleaved 32-bit little-endian floats; OUT - is standard output.\n";
constexpr int kPieceFrames = 2048;

void StoreLittleEndian(const float* values, std::size_t count, char* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(values[i]);
    for (int b = 0; b < 4; ++b) out[4 * i + b] = char(bits >> (8 * b));
  }
}

}  // namespace

int RunDecode(int argc, char** argv) {
  if (HelpRequested(argc, argv)) return PrintUsage(kUsage);
  if (argc != 3) return ReportMisuse("decode takes a file and an output file", kUsage);
  const std::string input = argv[1], output = argv[2];
  if (const std::string same = SameFileError(input, output); !same.empty()) return ReportError(same);
  const auto document = OpenDocument(input);
  if (!document) return 1;
  EP_SampleMixer& mixer = document->Mixer();
  const std::int64_t total = std::int64_t(mixer.sampleRate * document->DisplayTrack().duration + 0.5);
  // Ctrl+C stops the writing; the temporary file goes and the old file stays.
  const auto* interrupt = InterruptOnCtrlC();
  ConsoleProgress progress(interrupt);
  bool interrupted = false;
  const std::string error = WriteFileSafely(output, [&](std::FILE* out, std::string* why) {
    // The frames the document holds, read back as the save reads them.
    std::vector<float> frames(std::size_t(kPieceFrames) * mixer.channels);
    std::vector<char> bytes(frames.size() * 4);
    for (int position = 0;;) {
      const int n = mixer.ReadFloat(frames.data(), kPieceFrames, position);
      if (n < 1) break;
      const std::size_t values = std::size_t(n) * mixer.channels;
      StoreLittleEndian(frames.data(), values, bytes.data());
      if (std::fwrite(bytes.data(), 1, values * 4, out) != values * 4) return false;
      position += n;
      if (!progress.Report("Writing the floats:", total > 0 ? int(100.0 * position / total + 0.5) : 0)) {
        interrupted = true;
        *why = output + ": interrupted" + (output == "-" ? "" : "; the file is as it was");
        return false;
      }
    }
    return true;
  });
  progress.Erase();
  if (!error.empty()) return interrupted ? (ReportError(error), 130) : ReportError(error);
  return 0;
}
