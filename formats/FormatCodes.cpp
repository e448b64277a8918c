#include "formats/FormatCodes.h"

const char* CompressionName(std::int32_t compression) {
  switch (compression) {
    case CompressionMuLaw: return "G.711 u-Law";
    case CompressionALaw: return "G.711 A-Law";
    case CompressionMpegLayer1: return "Mpeg Layer 1";
    case CompressionMpegLayer2: return "Mpeg Layer 2";
    case CompressionMpegLayer3: return "Mpeg Layer 3";
    case CompressionImaAdpcm: return "IMA ADPCM";
    case CompressionAppleAdpcm: return "Apple ADPCM";
    case CompressionMsAdpcm: return "MS ADPCM";
    case CompressionExponential: return "Exponential";
    case CompressionFibonacci: return "Fibonacci";
    case CompressionPcm8: return "8-bit PCM";
    case CompressionPcm16: return "16-bit PCM";
    case CompressionPcm24: return "24-bit PCM";
    case CompressionPcm32: return "32-bit PCM";
    case CompressionFloat32: return "32-bit PCM IEEE";
    default: return "Unsupported";
  }
}

bool IsWritableEncoding(int compression) {
  return compression == CompressionMuLaw || compression == CompressionALaw ||
         (compression >= CompressionPcm8 && compression <= CompressionFloat32);
}

int BitsForCompression(int compression) {
  switch (compression) {
    case CompressionPcm16: return 16;
    case CompressionPcm24: return 24;
    case CompressionPcm32:
    case CompressionFloat32: return 32;
    default: return 8;
  }
}
