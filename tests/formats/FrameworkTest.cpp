// The stage framework: negotiation, errors, annotations, byte helpers and the probe table.
#include <gtest/gtest.h>

#include <sstream>

#include "formats/ByteOrder.h"
#include "formats/Aiff.h"
#include "formats/Wave.h"
#include "tests/formats/TestSupport.h"

namespace {

using formats_test::OpenError;
using formats_test::Le32;

// A stage that negotiates with the defaults only.
class PlainStage : public AudioAbstract {
public:
  int PullSamples(float*, int) override { return 0; }
  int PushSamples(const float*, int) override { return 0; }
  void SetRate(int rate) { samplingRate_ = rate; }
};

std::string MinimalWave(int rate = 11025, int channels = 1) {
  std::ostringstream out;
  {
    WaveWrite writer(out, 4, channels, rate, CompressionPcm16, AnnotationList());
    const float samples[8] = {0.5f, -0.5f, 0.25f, -0.25f, 0.5f, -0.5f, 0.25f, -0.25f};
    writer.PushSamples(samples, 4 * channels);
  }
  return out.str();
}

TEST(SoundErrorTest, BuildsAndLimitsItsMessage) {
  EXPECT_STREQ(SoundError("plain").what(), "plain");
  EXPECT_STREQ(SoundError("Unsupported resolution: ", 40).what(), "Unsupported resolution: 40");
  EXPECT_EQ(SoundError("n = ", -7).Number(), -7);
  EXPECT_STREQ(SoundError("a", "b").what(), "ab");
  EXPECT_EQ(SoundError(std::string(400, 'x')).Message().size(), 255u);
}

TEST(NegotiationTest, FrozenRateRejectsAChange) {
  PlainStage stage;
  stage.FreezeSamplingRate(22050);
  try {
    stage.StoreSamplingRate(44100);
    FAIL() << "no error";
  } catch (const SoundError& error) {
    EXPECT_STREQ(error.what(), "Could not change sampling rate to 44100");
  }
  EXPECT_NO_THROW(stage.StoreSamplingRate(22050));
  stage.FreezeChannels(2);
  EXPECT_THROW(stage.StoreChannels(1), SoundError);
}

TEST(NegotiationTest, PreferredIsPulledIntoTheRange) {
  PlainStage stage;
  stage.SetRate(96000);
  int min = 8000, max = 48000, preferred = 44100;
  stage.MinMaxSamplingRate(&min, &max, &preferred);
  EXPECT_EQ(preferred, 48000);
  PlainStage fresh;
  EXPECT_EQ(fresh.CurrentSamplingRate(), 44100);
  EXPECT_EQ(fresh.CurrentChannels(), 1);
}

TEST(NegotiationTest, ReaderForcesItsHeaderRate) {
  const std::string file = MinimalWave(11025, 2);
  std::istringstream in(file);
  WaveRead reader(in, std::int64_t(file.size()), true);
  EXPECT_EQ(reader.CurrentSamplingRate(), 11025);
  EXPECT_EQ(reader.CurrentChannels(), 2);
}

TEST(NegotiationTest, QueriesFallBackToThePreviousStage) {
  const std::string file = MinimalWave();
  std::istringstream in(file);
  WaveRead reader(in, std::int64_t(file.size()), true);
  PlainStage after;
  after.SetPrevious(&reader);
  EXPECT_EQ(reader.Next(), &after);
  EXPECT_EQ(after.FileFormat(), FileFormatWave);
  EXPECT_EQ(after.Compression(), CompressionPcm16);
  EXPECT_EQ(after.FloatByteCount(), 16);
  // The last stage settles the chain: the reader's header rate wins.
  EXPECT_EQ(after.CurrentSamplingRate(), 11025);
}

TEST(AnnotationListTest, SetByKindReplacesAndIgnoresEmpty) {
  AnnotationList list;
  const std::uint8_t first[] = "first", second[] = "second";
  list.SetByKind(AnnotationName, first, 6);
  list.SetByKind(AnnotationName, second, 7);
  list.SetByKind(AnnotationArtist, first, 0);
  ASSERT_EQ(list.Size(), 1u);
  EXPECT_EQ(list[0].Length(), 7);
  EXPECT_EQ(list[0].origin, -1);

  list.SetById(FileFormatWave, FourCC("DISP"), first, 6);
  list.SetById(FileFormatWave, FourCC("DISP"), second, 7);
  list.SetById(FileFormatAiff, FourCC("DISP"), first, 6);
  EXPECT_EQ(list.Size(), 3u);

  AnnotationList copy;
  copy.SetByKind(AnnotationName, first, 6);
  copy.CopyFrom(list);
  EXPECT_EQ(copy.Size(), 3u);
  EXPECT_EQ(copy.FindKind(AnnotationName)->Length(), 7);
}

TEST(ByteOrderTest, HelpersAssembleInTheStatedOrder) {
  std::stringstream io;
  WriteBigEndian(io, FourCC("RIFF"), 4);
  WriteLittleEndian(io, 0x01020304, 4);
  WriteLittleEndian(io, 0xABCD, 2);
  EXPECT_EQ(io.str().substr(0, 4), "RIFF");
  EXPECT_EQ(ReadBigEndian(io, 4), FourCC("RIFF"));
  EXPECT_EQ(ReadLittleEndian(io, 4), 0x01020304u);
  EXPECT_EQ(ReadBigEndian(io, 2), 0xCDABu);
  SkipBytes(io, 100);  // stops at the end
  EXPECT_TRUE(io.eof());
  const std::uint8_t field[] = {1, 2, 3, 4};
  EXPECT_EQ(DecodeField(field, 3), 0x010203u);
  EXPECT_EQ(DecodeField(field, 5), 0u);
  EXPECT_STREQ(CompressionName(CompressionFloat32), "32-bit PCM IEEE");
  EXPECT_STREQ(CompressionName(1), "Unsupported");
}

// What the probe table makes of the content under a name's extension.
std::string ProbeResult(const std::string& content, const std::string& extension) {
  std::istringstream in(content);
  try {
    auto reader = CreateReaderForFile(in, std::int64_t(content.size()), extension, true);
    return reader ? "format " + std::to_string(reader->FileFormat()) : "nothing";
  } catch (const SoundError& error) {
    return error.what();
  }
}

std::string MinimalAiff() {
  std::ostringstream out;
  {
    AiffWrite writer(out, 2, 1, 8000, CompressionPcm16, AnnotationList());
    const float samples[2] = {0.5f, -0.5f};
    writer.PushSamples(samples, 2);
  }
  return out.str();
}

// The first bytes decide wherever they say what the file is; the name only where they cannot.
TEST(ProbeTest, ContentDecidesWhateverTheName) {
  const std::string wave = MinimalWave(), aiff = MinimalAiff();
  std::string module(1084 + 1024, '\0');  // one empty pattern
  module.replace(1080, 4, "M.K.");
  const struct {
    std::string content;
    std::vector<std::string> names;
    std::string expected;
  } kCases[] = {
      {wave, {".wav", ".WAV", ".wave", ".aiff", ".mp3", ""}, "format 1"},
      {aiff, {".aif", ".aiff", ".aifc", ".AIFC", ".wav", ""}, "format 3"},
      {".snd" + std::string(24, '\0'), {".au", ".snd", ".wav", ""}, "format 2"},  // the header is read at the first query
      {std::string("FORM\0\0\0\0AIFC", 12) + std::string(20, '\0'), {".aifc", ".x"}, "COMM chunk not found"},
      {std::string("FORM\0\0\0\08SVX", 12), {".x", ".aif"}, "BODY chunk not found"},
      {std::string("Creative Voice File\x1A", 20) + "rest", {".dat", ".voc"}, "VOC file corrupted"},
      {"MThd" + std::string(10, '\0'), {".anything", ".mid"}, "format 5"},  // parsed at the first pull
      {module, {".mod", ".wav"}, "format 7"},
      {module.substr(0, 1100), {".mod"}, "Module names more patterns than the file holds: 1"},
      // Formats of libsndfile and FFmpeg: a header they refuse is named with their reason.
      {"fLaC" + std::string(40, '\0'), {".flac", ".wav", ""},
       "FLAC file could not be read: File contains data in an unimplemented format"},
      {"OggS" + std::string(40, '\0'), {".ogg", ".opus", ".wav"},
       "Ogg file could not be read: File contains data in an unimplemented format"},
      {"caff" + std::string(40, '\0'), {".caf"}, "CAF file could not be read: Format not recognised"},
      {"RF64" + Le32(0xFFFFFFFF) + "WAVEds64" + Le32(28) + std::string(28, '\0'), {".rf64", ".wav"}, "Sound data not found"},
      {std::string("riff\x2E\x91\xCF\x11\xA5\xD6\x28\xDB\x04\xC1\0\0", 16) + std::string(8, '\0') +
           std::string("wave\xF3\xAC\xD3\x11\x8C\xD1\0\xC0\x4F\x8E\xDB\x8A", 16),
       {".w64", ".wav"}, "Wave64 file could not be read"},
      {std::string("\0\0\0\x20", 4) + "ftypM4A " + std::string(30, '\0'), {".m4a", ".mp3"}, "MP4/M4A file could not be read"},
      // MPEG: an ID3 tag decides alone; a bare frame sync only under an MPEG name or none.
      {"ID3\x03", {".mp3", ".wav", ""}, "Error reading in ID3 tag"},
      {"\xFF\xFB\x90\x00", {"", ".mp3", ".MP3"}, "MPEG file may be corrupted"},
      {"\xFF\xFB\x90\x00", {".mpeg", ".wav"}, "nothing"},
      // Layer I sync: not layer III, so not an ".mp3", but fine without an extension.
      {"\xFF\xFE\x90\x00", {".mp3"}, "nothing"},
      {"", {".wav", ""}, "nothing"},
      {"just some words", {".wav", ".au", ".aif", ".txt"}, "nothing"},
  };
  for (const auto& c : kCases)
    for (const std::string& name : c.names)
      EXPECT_EQ(ProbeResult(c.content, name), c.expected) << testing::PrintToString(c.content.substr(0, 12)) << " as " << name;
}

TEST(ProbeTest, ExtensionIsTheFinalDotOfTheName) {
  EXPECT_EQ(ExtensionOf("/music/song.WAV"), ".WAV");
  EXPECT_EQ(ExtensionOf("archive.tar.wav"), ".wav");
  EXPECT_EQ(ExtensionOf("/dir.d/noext"), "");
  EXPECT_EQ(ExtensionOf("trailing."), ".");
}

TEST(ProbeTest, ReaderStartsAtTheBeginningWhateverTheStreamPosition) {
  const std::string wave = MinimalWave();
  std::istringstream in(wave);
  in.seekg(30);
  auto reader = CreateReaderForFile(in, std::int64_t(wave.size()), ".wav", false);
  ASSERT_TRUE(reader);
  EXPECT_EQ(formats_test::PullAll(*reader).size(), 4u);
  EXPECT_EQ(OpenError(wave), "");
}

}  // namespace
