// libFuzzer target for the probe table and the reader it picks for a file name's extension: any
// input either opens, decodes and seeks, or ends in a SoundError with a short, non-empty message.
// Built once per extension with -DFUZZ_EXTENSION=".aiff" (see run-all.sh beside this file).
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "formats/Probe.h"

#ifndef FUZZ_EXTENSION
#define FUZZ_EXTENSION ".wav"
#endif

namespace {

constexpr std::string_view kExtension = FUZZ_EXTENSION;
constexpr int kBlock = 1024;
constexpr int kRounds = 64;  // bounds a decode whose end the file does not tell (repeat loops)

void CheckMessage(const SoundError& error) {
  if (error.Message().empty() || error.Message().size() > SoundError::kMaxMessage) __builtin_trap();
}

// Pulls up to rounds blocks; a reader must never report more samples than it was asked for.
void Pull(AudioAbstract& reader, std::vector<float>& block, int rounds, int count = kBlock) {
  for (int round = 0; round < rounds; ++round) {
    const int got = reader.PullSamples(block.data(), count);
    if (got < 0 || got > count) __builtin_trap();
    if (got == 0) break;
  }
}

void Exercise(const std::string& bytes, std::int64_t fileSize, bool trailing, std::uint64_t seekSeed) {
  std::istringstream in(bytes);
  try {
    auto reader = CreateReaderForFile(in, fileSize, kExtension, trailing);
    if (!reader) return;
    reader->CurrentSamplingRate();
    reader->CurrentChannels();
    reader->SampleResolution();
    reader->BitRate();
    for (const Annotation& item : reader->Annotations())
      if (item.Length() < 0) __builtin_trap();
    const std::int64_t floatBytes = reader->FloatByteCount();
    if (floatBytes < 0) __builtin_trap();
    std::vector<float> block(kBlock);
    Pull(*reader, block, kRounds);
    // Seeks: near the start, into the middle, past the end, and one the input chooses.
    const std::int64_t samples = floatBytes / 4;
    for (std::int64_t target : {std::int64_t(3), samples / 2, samples + 1, std::int64_t(seekSeed % (1u << 20))}) {
      if (reader->SeekToSample(target)) Pull(*reader, block, 2, 1 + int(seekSeed % kBlock));
    }
    if (reader->SeekToSample(0)) Pull(*reader, block, 4);
  } catch (const SoundError& error) {
    CheckMessage(error);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Readers report ignored damage on std::cerr; the fuzzer needs none of it.
  std::cerr.rdbuf(nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::uint64_t seekSeed = 0;
  for (std::size_t i = size >= 4 ? size - 4 : 0; i < size; ++i) seekSeed = seekSeed << 8 | data[i];
  const bool wave = kExtension == ".wav";
  for (bool trailing : {true, false}) {
    if (!trailing && !wave) break;  // only the WAVE reader takes the flag
    for (std::int64_t fileSize : {std::int64_t(size), std::int64_t(0)}) Exercise(bytes, fileSize, trailing, seekSeed);
  }
  return 0;
}
