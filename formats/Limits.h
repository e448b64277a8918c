#pragma once
// The limits every reader and writer applies to what a file declares, in one place, so that a
// hostile header meets the same bounds in every format.
#include <cstdint>

namespace format_limits {

// Documents hold one or two channels; this bounds what a header can make callers allocate, and
// what the writers accept.
inline constexpr int kMaxChannels = 64;

// Chunks nested deeper than this (the outermost container included) end in a SoundError.
inline constexpr int kMaxChunkDepth = 5;

// A format chunk (WAVE fmt) longer than this is refused; of a COMM or VHDR chunk only this much
// is read (their fields take 22 and 20 bytes, an AIFC compression name at most 256 more).
inline constexpr std::int64_t kMaxFormatChunk = 512;

// Metadata chunks (LIST items, DISP, NAME, AUTH, ...) larger than this are skipped rather than
// held in memory.
inline constexpr std::int64_t kMaxAnnotationLength = 16 << 20;

// Text that is only shown on the diagnostic stream (8SVX and VOC comments) is cut here.
inline constexpr std::int64_t kMaxShownText = 1024;

// A 64-bit size field (RF64's ds64) above this is damage: no disk holds such a file, and the
// float byte counts made from it (up to eight times the bytes of 8-bit audio) must not overflow.
inline constexpr std::int64_t kMaxDataBytes = std::int64_t(1) << 50;

}  // namespace format_limits
