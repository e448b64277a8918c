#pragma once
// Helpers for the format tests: temporary folders, running the reference tools, whole-file reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "formats/AudioAbstract.h"
#include "formats/Probe.h"

namespace formats_test {

class TempDir {
public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tintwave-formats-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

inline bool RunQuietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

inline std::string Capture(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[256];
    while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    pclose(pipe);
  }
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
  return output;
}

inline bool HaveSox() {
  static const bool have = RunQuietly("sox --version") && RunQuietly("command -v soxi");
  return have;
}

inline bool HaveFfmpeg() {
  static const bool have = RunQuietly("ffmpeg -version") && RunQuietly("ffprobe -version");
  return have;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  const std::string text = ReadText(path);
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

inline std::vector<float> ReadFloats(const std::string& path) {
  const std::string text = ReadText(path);
  std::vector<float> values(text.size() / 4);
  std::memcpy(values.data(), text.data(), values.size() * 4);
  return values;
}

// Pulls every sample a reader delivers, in the decoder's block size.
inline std::vector<float> PullAll(AudioAbstract& reader) {
  std::vector<float> all;
  std::vector<float> block(4096);
  while (int n = reader.PullSamples(block.data(), int(block.size()))) all.insert(all.end(), block.begin(), block.begin() + n);
  return all;
}

// Opens bytes held in memory as a WAVE file; the SoundError text or "" when it opens.
inline std::string OpenError(const std::string& bytes, bool readTrailingChunks = true) {
  std::istringstream in(bytes);
  try {
    auto reader = CreateReaderForFile(in, std::int64_t(bytes.size()), ".wav", readTrailingChunks);
    if (!reader) return "no reader";
    reader->CurrentSamplingRate();
    reader->CurrentChannels();
    PullAll(*reader);
    return "";
  } catch (const SoundError& error) {
    return error.what();
  }
}

// Bytes written as hexadecimal digits (the form fuzzers report them in).
inline std::string BytesFromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// Hand-built RIFF pieces.
inline std::string Le16(std::uint32_t v) { return std::string{char(v), char(v >> 8)}; }
inline std::string Le32(std::uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
// A chunk with its header and, for odd sizes, the pad byte.
inline std::string Chunk(const std::string& id, const std::string& payload) {
  return id + Le32(std::uint32_t(payload.size())) + payload + (payload.size() % 2 ? std::string(1, '\0') : "");
}
inline std::string FmtPayload(int tag, int channels, int rate, int bits) {
  const int blockAlign = channels * ((bits + 7) / 8);
  return Le16(tag) + Le16(channels) + Le32(rate) + Le32(rate * blockAlign) + Le16(blockAlign) + Le16(bits);
}
inline std::string Riff(const std::string& content) { return "RIFF" + Le32(std::uint32_t(content.size() + 4)) + "WAVE" + content; }

}  // namespace formats_test
