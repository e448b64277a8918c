// Hostile and broken WAVE files: each ends in a clear error text (or opens, where the damage lies
// behind the audio), never in a crash, a hang or a huge allocation.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "formats/ByteOrder.h"
#include "formats/Wave.h"
#include "tests/formats/TestSupport.h"

namespace {

using namespace formats_test;

const std::string kFmt16 = Chunk("fmt ", FmtPayload(1, 1, 8000, 16));
const std::string kData = Chunk("data", std::string(16, '\x10'));

std::string WaveReadError(const std::string& bytes, std::int64_t fileSize) {
  std::istringstream in(bytes);
  try {
    WaveRead reader(in, fileSize, true);
    PullAll(reader);
    return "";
  } catch (const SoundError& error) {
    return error.what();
  }
}

TEST(MalformedWaveTest, SpecificDamageGivesItsMessage) {
  struct Case {
    const char* what;
    std::string file;
    std::string error;
  };
  const std::string fmtInList = Chunk("LIST", "INFO" + kFmt16);
  std::string deep = Chunk("data", "");
  for (int i = 0; i < 6; ++i) deep = Chunk("LIST", "abcd" + deep);
  const Case cases[] = {
      {"fmt length beyond the file", Riff("fmt " + Le32(1000) + FmtPayload(1, 1, 8000, 16) + kData),
       "Corrupted chunk size in wav file"},
      {"no fmt", Riff(kData), "fmt chunk not found"},
      {"no data", Riff(kFmt16), "Sound data not found"},
      {"fmt of 513 bytes", Riff(Chunk("fmt ", FmtPayload(1, 1, 8000, 16) + std::string(497, '\0')) + kData),
       "Corrupted WAVE file\n"},
      {"fmt of 5 bytes", Riff(Chunk("fmt ", "\x01\0\x01\0\x40") + kData), "Corrupted WAVE file: fmt chunk too short"},
      {"empty fmt", Riff(Chunk("fmt ", "") + kData), "Corrupted WAVE file: fmt chunk too short"},
      {"fmt inside a LIST", Riff(fmtInList + kData), "FMT chunk found at wrong level"},
      {"zero channels", Riff(Chunk("fmt ", FmtPayload(1, 0, 8000, 16)) + kData), "Unsupported number of channels: 0"},
      {"65535 channels", Riff(Chunk("fmt ", FmtPayload(1, 65535, 8000, 16)) + kData),
       "Unsupported number of channels: 65535"},
      {"zero rate", Riff(Chunk("fmt ", FmtPayload(1, 1, 0, 16)) + kData), "Unsupported sampling rate: 0"},
      {"33 bits", Riff(Chunk("fmt ", FmtPayload(1, 1, 8000, 33)) + kData), "Unsupported resolution: 33"},
      {"64-bit integers", Riff(Chunk("fmt ", FmtPayload(1, 1, 8000, 64)) + kData), "Unsupported resolution: 64"},
      {"PCM of 0 bits", Riff(Chunk("fmt ", FmtPayload(1, 1, 8000, 0)) + kData), "Unsupported resolution: 0"},
      {"unknown tag", Riff(Chunk("fmt ", FmtPayload(0x1234, 1, 8000, 16)) + kData), "Unsupported WAVE compression type: 4660"},
      {"MS ADPCM of 3 bits", Riff(Chunk("fmt ", FmtPayload(2, 1, 8000, 3)) + kData),
       "MSADPCM requires 4 bits per sample, not 3"},
      {"IMA ADPCM with an 18-byte fmt", Riff(Chunk("fmt ", FmtPayload(0x11, 1, 8000, 4) + Le16(0)) + kData),
       "IMA ADPCM requires additional decompression data."},
      {"RIFF inside RIFF", Riff(kFmt16 + Chunk("RIFF", "WAVE") + kData), "RIFF chunk found at wrong level"},
      {"not WAVE", "RIFF" + Le32(4) + "AVI ", "Unexpected chunk in WAVE file"},
      {"not RIFF", "RIFX" + Le32(4) + "WAVE", "RIFF chunk not found"},
      {"nested too deeply", Riff(kFmt16 + deep), "WAVE chunks nested too deeply"},
      {"annotation beyond the end before the data",
       Riff(kFmt16 + "LIST" + Le32(40) + "INFOINAM" + Le32(30) + "ab"), "Corrupted chunk size in wav file"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WaveReadError(c.file, std::int64_t(c.file.size())), c.error) << c.what;
    // Without a file size the walk still ends, with some error.
    EXPECT_NE(WaveReadError(c.file, 0), "") << c.what;
  }
}

TEST(MalformedWaveTest, DamageBehindTheAudioOnlyEndsTheWalk) {
  const std::string hugeList = "LIST" + Le32(0x7FFFFFF0) + "INFO";
  EXPECT_EQ(WaveReadError(Riff(kFmt16 + kData + hugeList), 0), "");
  const std::string file = Riff(kFmt16 + kData + hugeList);
  EXPECT_EQ(WaveReadError(file, std::int64_t(file.size())), "");
  // An annotation chunk claiming more than is left.
  const std::string shortAnnotation = Riff(kFmt16 + kData + "LIST" + Le32(30) + "INFOINAM" + Le32(20) + "ab");
  EXPECT_EQ(WaveReadError(shortAnnotation, std::int64_t(shortAnnotation.size())), "");
  // A misplaced fmt behind the audio.
  EXPECT_EQ(WaveReadError(Riff(kFmt16 + kData + Chunk("LIST", "INFO" + kFmt16)), 0), "");
}

TEST(MalformedWaveTest, EveryTruncationOfAValidFileEndsCleanly) {
  AnnotationList annotations;
  annotations.SetByKind(AnnotationName, reinterpret_cast<const std::uint8_t*>("name"), 5);
  std::ostringstream out;
  {
    WaveWrite writer(out, 20, 2, 8000, CompressionMuLaw, annotations);
  }
  const std::string whole = out.str();
  for (std::size_t n = 0; n < whole.size(); ++n) {
    const std::string part = whole.substr(0, n);
    for (bool trailing : {true, false}) {
      const std::string withSize = OpenError(part, trailing);
      if (n < 58) {
        EXPECT_NE(withSize, "") << n;  // cut inside the header
      }
      std::istringstream in(part);
      try {
        WaveRead reader(in, 0, trailing);
        EXPECT_LE(PullAll(reader).size(), 40u);
      } catch (const SoundError& error) {
        EXPECT_GT(std::strlen(error.what()), 0u);
      }
    }
  }
}

TEST(MalformedWaveTest, RandomDamageNeverCrashes) {
  std::ostringstream out;
  {
    AnnotationList annotations;
    annotations.SetById(FileFormatWave, FourCC("DISP"), reinterpret_cast<const std::uint8_t*>("abcdef"), 6);
    WaveWrite writer(out, 30, 2, 22050, CompressionPcm24, annotations);
    const std::vector<float> samples(60, 0.3f);
    writer.PushSamples(samples.data(), 60);
  }
  const std::string valid = out.str();
  std::mt19937 random(12345);
  for (int round = 0; round < 3000; ++round) {
    std::string file = valid;
    const int changes = 1 + int(random() % 4);
    for (int i = 0; i < changes; ++i) file[random() % file.size()] = char(random() % 256);
    if (round % 3 == 0) file.resize(random() % file.size());
    const std::string error = OpenError(file, round % 2 == 0);
    EXPECT_LE(error.size(), 255u);
  }
}

}  // namespace
