#include "formats/ByteOrder.h"

std::uint32_t ReadBigEndian(std::istream& in, int n) {
  std::uint8_t bytes[4] = {0, 0, 0, 0};
  if (n < 1 || n > 4) return 0;
  in.read(reinterpret_cast<char*>(bytes), n);
  return DecodeField(bytes, n);
}

std::uint32_t ReadLittleEndian(std::istream& in, int n) {
  std::uint8_t bytes[4] = {0, 0, 0, 0};
  if (n < 1 || n > 4) return 0;
  in.read(reinterpret_cast<char*>(bytes), n);
  std::uint32_t value = 0;
  for (int i = n - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

void SkipBytes(std::istream& in, std::int64_t n) {
  // ignore() stops at end of file by itself; pieces keep the count inside streamsize.
  constexpr std::int64_t kPiece = std::int64_t(1) << 30;
  while (n > 0 && in.good()) {
    std::int64_t piece = n < kPiece ? n : kPiece;
    in.ignore(static_cast<std::streamsize>(piece));
    n -= piece;
  }
}

void WriteBigEndian(std::ostream& out, std::uint32_t value, int n) {
  char bytes[4];
  if (n < 1 || n > 4) return;
  for (int i = 0; i < n; ++i) bytes[i] = static_cast<char>(value >> (8 * (n - 1 - i)));
  out.write(bytes, n);
}

void WriteLittleEndian(std::ostream& out, std::uint32_t value, int n) {
  char bytes[4];
  if (n < 1 || n > 4) return;
  for (int i = 0; i < n; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  out.write(bytes, n);
}

std::uint32_t DecodeField(const std::uint8_t* buffer, int n) {
  if (n < 1 || n > 4) return 0;
  std::uint32_t value = 0;
  for (int i = 0; i < n; ++i) value = (value << 8) | buffer[i];
  return value;
}
