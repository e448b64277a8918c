// The stage framework: negotiation, errors, annotations, byte helpers and the probe table.
#include <gtest/gtest.h>

#include <sstream>

#include "formats/ByteOrder.h"
#include "formats/Wave.h"
#include "tests/formats/TestSupport.h"

namespace {

using formats_test::OpenError;

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

TEST(ProbeTest, WaveOpensOnlyUnderTheWavExtension) {
  const std::string wave = MinimalWave();
  EXPECT_EQ(ProbeResult(wave, ".wav"), "format 1");
  EXPECT_EQ(ProbeResult(wave, ".WAV"), "format 1");
  EXPECT_EQ(ProbeResult(wave, ".wave"), "nothing");
  EXPECT_EQ(ProbeResult(wave, ".aif"), "nothing");
  EXPECT_EQ(ProbeResult(wave, ""), "nothing");
}

TEST(ProbeTest, OtherFormatsAreRecognisedAndReportedAsNotSupportedYet) {
  EXPECT_EQ(ProbeResult(std::string("Creative Voice File\x1A", 20) + "rest", ".dat"), "VOC file corrupted");
  EXPECT_EQ(ProbeResult(".snd" + std::string(24, '\0'), ".AU"), "format 2");  // the header is read at the first query
  EXPECT_EQ(ProbeResult(".snd" + std::string(24, '\0'), ".wav"), "nothing");
  EXPECT_EQ(ProbeResult(std::string("FORM\0\0\0\0AIFC", 12) + std::string(20, '\0'), ".aif"), "COMM chunk not found");
  EXPECT_EQ(ProbeResult(std::string("FORM\0\0\0\0AIFC", 12), ".aifc"), "nothing");
  EXPECT_EQ(ProbeResult(std::string("FORM\0\0\0\08SVX", 12), ".x"), "BODY chunk not found");
  EXPECT_EQ(ProbeResult("MThd" + std::string(10, '\0'), ".anything"), "MIDI files are not supported yet");
  std::string module(1100, '\0');
  module.replace(1080, 4, "M.K.");
  EXPECT_EQ(ProbeResult(module, ".mod"), "Tracker module files are not supported yet");
  // MPEG: a sync word without a decodable frame, and a cut ID3 tag.
  EXPECT_EQ(ProbeResult("\xFF\xFB\x90\x00", ""), "MPEG file may be corrupted");
  EXPECT_EQ(ProbeResult("ID3\x03", ".mp3"), "Error reading in ID3 tag");
  EXPECT_EQ(ProbeResult("\xFF\xFB\x90\x00", ".mpeg"), "nothing");
  // Layer I sync: not layer III, so not an ".mp3", but fine without an extension.
  EXPECT_EQ(ProbeResult("\xFF\xFE\x90\x00", ".mp3"), "nothing");
  EXPECT_EQ(ProbeResult("", ".wav"), "nothing");
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
