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
    case CompressionVorbis: return "Vorbis";
    case CompressionOpus: return "Opus";
    case CompressionAac: return "AAC";
    case CompressionWma: return "WMA";
    case CompressionOtherLossy: return "Lossy";
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

const char* FileFormatName(std::int32_t fileFormat) {
  switch (fileFormat) {
    case FileFormatWave: return "WAVE";
    case FileFormatAu: return "AU";
    case FileFormatAiff: return "AIFF";
    case FileFormatMpeg: return "MPEG audio";
    case FileFormatMidi: return "MIDI";
    case FileFormatIff8svx: return "IFF 8SVX";
    case FileFormatModule: return "tracker module";
    case FileFormatVoc: return "VOC";
    case FileFormatRaw: return "raw";
    case FileFormatFlac: return "FLAC";
    case FileFormatOggVorbis: return "Ogg Vorbis";
    case FileFormatOpus: return "Opus";
    case FileFormatCaf: return "CAF";
    case FileFormatWave64: return "Wave64";
    case FileFormatMp4: return "MP4/M4A";
    case FileFormatAsf: return "WMA";
    case FileFormatMatroska: return "Matroska/WebM";
    case FileFormatMonkeysAudio: return "Monkey's Audio";
    case FileFormatWavPack: return "WavPack";
    case FileFormatOtherMedia: return "media";
    case FileFormatAac: return "AAC";
  }
  return "unknown";
}

int CodecEncoding(int fileFormat, int encoding) {
  if (HasSetting(encoding)) return encoding;
  switch (fileFormat) {
    case FileFormatFlac: {
      const int base = BaseCompression(encoding);
      const bool wide = base == CompressionPcm24 || base == CompressionPcm32 || base == CompressionFloat32;
      return WithSetting(wide ? CompressionPcm24 : CompressionPcm16, 5);
    }
    case FileFormatOggVorbis: return WithSetting(CompressionVorbis, 50);
    case FileFormatOpus: return WithSetting(CompressionOpus, 96);
    case FileFormatMpeg: return WithSetting(CompressionMpegLayer3, 192);
    default: return encoding;
  }
}
