#pragma once
// Byte helpers shared by every format. Four-character codes are read and written big-endian, so
// their characters appear in file order.
#include <cstdint>
#include <istream>
#include <ostream>

// Reads n = 1..4 bytes and assembles them most (or least) significant first. Bytes missing at end
// of file count as zero and leave the stream in its failed state.
std::uint32_t ReadBigEndian(std::istream& in, int n);
std::uint32_t ReadLittleEndian(std::istream& in, int n);
// Discards up to n bytes, stopping early at end of file or failure.
void SkipBytes(std::istream& in, std::int64_t n);
// Writes the low n = 1..4 bytes of value.
void WriteBigEndian(std::ostream& out, std::uint32_t value, int n);
void WriteLittleEndian(std::ostream& out, std::uint32_t value, int n);
// Assembles n = 1..4 bytes of memory big-endian; 0 for any other n.
std::uint32_t DecodeField(const std::uint8_t* buffer, int n);

// Little-endian fields of a buffer already in memory (fmt chunks and the like).
inline std::uint32_t LittleEndian16(const std::uint8_t* p) { return p[0] | (std::uint32_t(p[1]) << 8); }
inline std::uint32_t LittleEndian32(const std::uint8_t* p) {
  return p[0] | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

// A four-character code as the big-endian helpers read it: FourCC("RIFF").
constexpr std::uint32_t FourCC(const char (&id)[5]) {
  return (std::uint32_t(std::uint8_t(id[0])) << 24) | (std::uint32_t(std::uint8_t(id[1])) << 16) |
         (std::uint32_t(std::uint8_t(id[2])) << 8) | std::uint32_t(std::uint8_t(id[3]));
}
