// libFuzzer target for the probe table and the WAVE reader: any input either opens and decodes
// or ends in a SoundError. Build with clang (see build-fuzzer.sh beside this file).
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "formats/Probe.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (bool trailing : {true, false}) {
    for (std::int64_t fileSize : {std::int64_t(size), std::int64_t(0)}) {
      std::istringstream in(bytes);
      try {
        auto reader = CreateReaderForFile(in, fileSize, ".wav", trailing);
        if (!reader) continue;
        reader->CurrentSamplingRate();
        reader->CurrentChannels();
        reader->FloatByteCount();
        std::vector<float> block(1024);
        for (int round = 0; round < 64 && reader->PullSamples(block.data(), int(block.size())) > 0; ++round) {
        }
        if (reader->SeekToSample(3)) reader->PullSamples(block.data(), 16);
      } catch (const SoundError& error) {
        if (error.Message().empty() || error.Message().size() > 255) __builtin_trap();
      }
    }
  }
  return 0;
}
