#pragma once
// Opening hand-built bytes through the probe table, as the decoder opens a file of that name.
#include <fstream>
#include <string>

#include "tests/formats/SoxFiles.h"

namespace formats_test {

inline DecodedFile DecodeBytes(const std::string& bytes, const std::string& extension) {
  TempDir dir;
  const std::string path = dir / ("file" + extension);
  std::ofstream(path, std::ios::binary) << bytes;
  return DecodePath(path);
}

}  // namespace formats_test
