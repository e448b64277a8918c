#include "formats/G711.h"

#include <algorithm>
#include <array>

#include "formats/PcmCodecs.h"

std::uint8_t MuLawCompress(std::int32_t value) {
  std::int32_t magnitude = std::min((value < 0 ? -value : value) + 132, 32767);
  int segment = 0;
  for (std::int32_t top = magnitude >> 8; top > 0; top >>= 1) ++segment;  // bits of magnitude >> 7, less one
  const int mantissa = (magnitude >> (segment + 3)) & 15;
  const int code = (segment << 4) | mantissa;
  return static_cast<std::uint8_t>(code ^ (value >= 0 ? 0xFF : 0x7F));
}

std::int32_t MuLawExpand(std::uint8_t code) {
  const int c = ~code & 0xFF;
  const int segment = (c >> 4) & 7;
  const std::int32_t t = (((c & 15) << 3) + 132) << segment;
  return (c & 0x80) ? 132 - t : t - 132;
}

std::uint8_t ALawCompress(std::int32_t value) {
  static constexpr std::int32_t kSegmentEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
  std::int32_t w = value >> 3;
  int mask = 0xD5;
  if (w < 0) {
    mask = 0x55;
    w = -w - 1;
  }
  int segment = 0;
  while (segment < 8 && kSegmentEnd[segment] < w) ++segment;
  if (segment == 8) return static_cast<std::uint8_t>(0x7F ^ mask);
  const int mantissa = segment < 2 ? (w >> 1) & 15 : (w >> segment) & 15;
  return static_cast<std::uint8_t>(((segment << 4) | mantissa) ^ mask);
}

std::int32_t ALawExpand(std::uint8_t code) {
  const int c = code ^ 0x55;
  std::int32_t t = (c & 15) << 4;
  const int segment = (c >> 4) & 7;
  if (segment == 0) {
    t += 8;
  } else {
    t += 0x108;
    if (segment > 1) t <<= segment - 1;
  }
  return (c & 0x80) ? t : -t;
}

namespace {

using ExpansionTable = std::array<float, 256>;

ExpansionTable BuildTable(std::int32_t (*expand)(std::uint8_t)) {
  ExpansionTable table{};
  for (int i = 0; i < 256; ++i) table[i] = expand(static_cast<std::uint8_t>(i)) / 32768.0f;
  return table;
}

// Built on first use; a function-local static is initialised exactly once.
const ExpansionTable& MuLawTable() {
  static const ExpansionTable table = BuildTable(MuLawExpand);
  return table;
}

const ExpansionTable& ALawTable() {
  static const ExpansionTable table = BuildTable(ALawExpand);
  return table;
}

// Reads the bytes into the front of out's storage, then expands from the last sample to the
// first, so that no byte is overwritten before it is read.
int ExpandInPlace(AudioAbstract& source, const ExpansionTable& table, float* out, int count) {
  if (count <= 0) return 0;
  std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(out);
  const int got = source.PullBytes(bytes, count);
  for (int i = got - 1; i >= 0; --i) out[i] = table[bytes[i]];
  return got;
}

template <std::uint8_t (*Encode)(std::int32_t)>
int CompressBlocks(AudioAbstract& sink, const float* in, int count) {
  constexpr int kBlock = 4096;
  std::uint8_t buffer[kBlock];
  for (int done = 0; done < count;) {
    const int n = std::min(kBlock, count - done);
    for (int i = 0; i < n; ++i) buffer[i] = Encode(FloatToPcm16(in[done + i]));
    sink.PushBytes(buffer, n);
    done += n;
  }
  return count < 0 ? 0 : count;
}

}  // namespace

DecompressG711MuLaw::DecompressG711MuLaw(AudioAbstract& source) : AbstractDecompressor(source) { MuLawTable(); }

int DecompressG711MuLaw::PullSamples(float* out, int count) { return ExpandInPlace(source_, MuLawTable(), out, count); }

DecompressG711ALaw::DecompressG711ALaw(AudioAbstract& source) : AbstractDecompressor(source) { ALawTable(); }

int DecompressG711ALaw::PullSamples(float* out, int count) { return ExpandInPlace(source_, ALawTable(), out, count); }

int CompressG711MuLaw::PushSamples(const float* in, int count) { return CompressBlocks<MuLawCompress>(sink_, in, count); }

int CompressG711ALaw::PushSamples(const float* in, int count) { return CompressBlocks<ALawCompress>(sink_, in, count); }
