#pragma once
// The codes of sample encodings and file types exchanged by the format library, the decoder and
// encoder, the editor and the dialogs.
#include <cstdint>

enum FileFormatCode : std::int32_t {
  FileFormatNone = 0,
  FileFormatWave = 1,
  FileFormatAu = 2,
  FileFormatAiff = 3,  // AIFF or AIFC
  FileFormatMpeg = 4,
  FileFormatMidi = 5,
  FileFormatIff8svx = 6,
  FileFormatModule = 7,
  FileFormatVoc = 8,
  FileFormatRaw = 9,
};

enum CompressionCode : std::int32_t {
  CompressionNone = 0,  // synthesised audio (MIDI, tracker modules)
  CompressionMuLaw = 2,
  CompressionALaw = 3,
  CompressionMpegLayer1 = 4,
  CompressionMpegLayer2 = 5,
  CompressionMpegLayer3 = 6,
  CompressionImaAdpcm = 7,
  CompressionAppleAdpcm = 8,
  CompressionMsAdpcm = 9,
  CompressionExponential = 10,
  CompressionFibonacci = 11,
  CompressionPcm8 = 16,
  CompressionPcm16 = 17,
  CompressionPcm24 = 18,
  CompressionPcm32 = 19,
  CompressionFloat32 = 20,
};

// The encodings the writers offer: G.711 and PCM/float (2, 3, 16 to 20).
bool IsWritableEncoding(int compression);

// Bits per sample of an encoding the writers offer: 16, 24 or 32 for the wider PCM and float,
// 8 for 8-bit PCM and G.711.
int BitsForCompression(int compression);

// The name the user sees for a compression code; "Unsupported" for any other value.
const char* CompressionName(std::int32_t compression);
