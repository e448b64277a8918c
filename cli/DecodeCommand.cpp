// tintwave-cli decode FILE OUT: the document's float frames, interleaved, as 32-bit
// little-endian floats and nothing else.
#include <bit>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/OpenDocument.h"

namespace {

constexpr const char* kUsage = "usage: tintwave-cli decode FILE OUT\n";
constexpr int kPieceFrames = 2048;

void StoreLittleEndian(const float* values, std::size_t count, char* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(values[i]);
    for (int b = 0; b < 4; ++b) out[4 * i + b] = char(bits >> (8 * b));
  }
}

}  // namespace

int RunDecode(int argc, char** argv) {
  if (argc != 3) return ReportMisuse("decode takes a file and an output file", kUsage);
  const auto document = OpenDocument(argv[1]);
  if (!document) return 1;
  EP_SampleMixer& mixer = document->Mixer();
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  if (!out) return ReportError(std::string("Couldn't write to file '") + argv[2] + "'");
  // The frames the document holds, read back as the save reads them.
  std::vector<float> frames(std::size_t(kPieceFrames) * mixer.channels);
  std::vector<char> bytes(frames.size() * 4);
  for (int position = 0;;) {
    const int n = mixer.ReadFloat(frames.data(), kPieceFrames, position);
    if (n < 1) break;
    const std::size_t values = std::size_t(n) * mixer.channels;
    StoreLittleEndian(frames.data(), values, bytes.data());
    out.write(bytes.data(), std::streamsize(values * 4));
    position += n;
  }
  out.close();
  if (out.fail()) return ReportError("Error occured while writing audio data");
  return 0;
}
