#pragma once
// Opening bytes held in memory through the probe table, as the decoder would, for the tests of
// hand-built files.
#include <sstream>
#include <string>

#include "tests/formats/SoxFiles.h"

namespace formats_test {

inline DecodedFile DecodeBytes(const std::string& bytes, const std::string& extension) {
  DecodedFile d;
  std::istringstream in(bytes);
  try {
    auto reader = CreateReaderForFile(in, std::int64_t(bytes.size()), extension, true);
    if (!reader) {
      d.error = "no reader";
      return d;
    }
    d.rate = reader->CurrentSamplingRate();
    d.channels = reader->CurrentChannels();
    d.compression = reader->Compression();
    d.fileFormat = reader->FileFormat();
    d.resolution = reader->SampleResolution();
    d.floatByteCount = reader->FloatByteCount();
    d.samples = PullAll(*reader);
  } catch (const SoundError& error) {
    d.error = error.what();
  }
  return d;
}

}  // namespace formats_test
