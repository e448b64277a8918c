#pragma once
// Helpers for the pipeline tests: opening files through the decoder as the editor does, a fake
// source container and the format tests' tools (temporary folders, sox, RIFF pieces).
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/AudioDecoder.h"
#include "pipeline/FileBuffer.h"
#include "formats/Wave.h"
#include "tests/formats/TestSupport.h"

namespace pipeline_test {

using namespace formats_test;

// A file opened as the editor opens it: file buffer, input stream, decoder.
struct OpenedFile {
  explicit OpenedFile(const std::string& path) {
    std::error_code ignored;
    const auto size = std::filesystem::file_size(path, ignored);
    opened = buffer.Open(path, CUP_FileBuffer::kRead | CUP_FileBuffer::kBinary);
    decoder = std::make_unique<CAP_AudioDecoder>(stream, ignored ? 0 : std::int64_t(size), ExtensionOf(path), true);
  }
  CUP_FileBuffer buffer;
  bool opened = false;
  std::istream stream{&buffer};
  std::unique_ptr<CAP_AudioDecoder> decoder;
};

// Opens bytes held in memory through the decoder.
struct MemoryFile {
  explicit MemoryFile(const std::string& bytes, const char* extension = ".wav")
      : stream(bytes), decoder(stream, std::int64_t(bytes.size()), extension, true) {}
  std::istringstream stream;
  CAP_AudioDecoder decoder;
};

// Every frame the decoder delivers, in pieces of the given size.
inline std::vector<float> ReadAll(CAP_AudioContainer& source, int piece = 4410) {
  std::vector<float> all, block(std::size_t(piece) * source.channels);
  while (int n = source.ReadFloatAtCursor(block.data(), piece))
    all.insert(all.end(), block.begin(), block.begin() + std::size_t(n) * source.channels);
  return all;
}

// A container that announces frames and delivers them from a vector (or announces without
// delivering), for the loader's progress and DC paths.
struct VectorSource : CAP_AudioContainer {
  VectorSource(int channelCount, int rate, std::vector<float> data) : samples(std::move(data)) {
    channels = channelCount;
    sampleRate = rate;
  }
  int ReadFloat(float* dest, int frames, int position) override {
    const int available = int(samples.size() / channels) - position;
    const int n = std::max(0, std::min(frames, available));
    std::copy_n(samples.begin() + std::size_t(position) * channels, std::size_t(n) * channels, dest);
    readPosition = position + n;
    return n;
  }
  std::vector<float> samples;
};

// A WAVE file in memory, written by the format library.
inline std::string WaveBytes(const std::vector<float>& samples, int channels, int rate,
                             int compression = CompressionPcm16) {
  std::ostringstream out;
  {
    WaveWrite writer(out, std::int64_t(samples.size() / channels), channels, rate, compression, AnnotationList());
    writer.PushSamples(samples.data(), int(samples.size()));
  }
  return out.str();
}

}  // namespace pipeline_test
