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
  // Read through libsndfile or FFmpeg (formats/sndfile, formats/ffmpeg); FLAC, Ogg Vorbis, Opus and
  // MPEG audio (as MP3) are also written through libsndfile.
  FileFormatFlac = 10,
  FileFormatOggVorbis = 11,
  FileFormatOpus = 12,
  FileFormatCaf = 13,
  FileFormatWave64 = 14,
  FileFormatMp4 = 15,  // M4A, MP4, MOV: AAC or ALAC
  FileFormatAsf = 16,  // WMA
  FileFormatMatroska = 17,
  FileFormatMonkeysAudio = 18,
  FileFormatWavPack = 19,
  FileFormatOtherMedia = 20,  // another container FFmpeg reads (the audio track of a video)
  FileFormatAac = 21,         // raw AAC in ADTS frames (.aac), read through FFmpeg
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
  // Lossy codecs read through libsndfile or FFmpeg. Lossless ones (FLAC, ALAC, WavPack, Monkey's
  // Audio) report the PCM code of their sample width, as they decode to exactly that.
  CompressionVorbis = 21,
  CompressionOpus = 22,
  CompressionAac = 23,
  CompressionWma = 24,
  CompressionOtherLossy = 25,
};

// A save's encoding for FLAC, Ogg Vorbis, Opus and MP3 may carry the encoder's setting above the
// compression code's byte: FLAC 16/24-bit PCM with the compression level 0..8, Vorbis with the
// quality x 10 (0..100), Opus with the bit rate in kbit/s, MP3 with the bit rate in kbit/s, or
// with kVbrFlag LAME's variable-bit-rate quality 0..9. Without one the codec's default applies:
// FLAC level 5, Vorbis quality 5, Opus 96 kbit/s, MP3 192 kbit/s.
inline constexpr int kVbrFlag = 1 << 20;
inline constexpr int kHasSetting = 1 << 21;
constexpr int WithSetting(int compression, int setting) { return compression | (setting << 8) | kHasSetting; }
constexpr int BaseCompression(int encoding) { return encoding & 0xFF; }
constexpr int SettingOf(int encoding) { return (encoding >> 8) & 0xFFF; }
constexpr bool IsVbr(int encoding) { return (encoding & kVbrFlag) != 0; }
constexpr bool HasSetting(int encoding) { return (encoding & kHasSetting) != 0; }
// The encoding with the codec's default setting where it has none.
int CodecEncoding(int fileFormat, int encoding);
// FLAC, Ogg Vorbis, Opus and MP3: the types written through libsndfile.
constexpr bool IsCodecType(int fileFormat) {
  return fileFormat == FileFormatFlac || fileFormat == FileFormatOggVorbis || fileFormat == FileFormatOpus ||
         fileFormat == FileFormatMpeg;
}

// The lossy codecs the new readers deliver: documents of them are edited like PCM ones.
constexpr bool IsDecodedLossy(int compression) {
  return compression >= CompressionVorbis && compression <= CompressionOtherLossy;
}

// The name of a file format code ("FLAC", "Ogg Vorbis", ...); "unknown" for any other value.
const char* FileFormatName(std::int32_t fileFormat);

// The encodings the writers offer: G.711 and PCM/float (2, 3, 16 to 20).
bool IsWritableEncoding(int compression);

// Bits per sample of an encoding the writers offer: 16, 24 or 32 for the wider PCM and float,
// 8 for 8-bit PCM and G.711.
int BitsForCompression(int compression);

// The name the user sees for a compression code; "Unsupported" for any other value.
const char* CompressionName(std::int32_t compression);
