// MPEG audio: files made by lame and ffmpeg during the test run decode exactly as
// `mpg123 --no-gapless -s` decodes them, with the right length, rate, channels, bit rate and
// layer; seeking resumes with the requested sample; ID3v2 tags fill the annotations; damaged
// files end in audio or a SoundError, never a crash, a hang or a read beyond the bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>

#include "formats/Mpeg.h"
#include "formats/Wave.h"
#include "tests/formats/SoxFiles.h"

namespace {

using namespace formats_test;
using namespace std::string_literals;

// One step of the decoder's 16-bit output.
constexpr double kOneStep = 1.0 / 32768;

bool HaveMp3Tools() {
  static const bool have = HaveSox() && RunQuietly("lame --version") && RunQuietly("mpg123 --version");
  return have;
}

// mpg123's own decoding, 16-bit, as floats value/32768.
std::vector<float> Mpg123Decoding(const std::string& path, const std::string& raw) {
  if (std::system(("mpg123 -q --no-gapless -s '" + path + "' > '" + raw + "' 2>/dev/null").c_str()) != 0) return {};
  const std::string bytes = ReadText(raw);
  std::vector<float> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto value = std::int16_t(std::uint8_t(bytes[2 * i]) | (std::uint8_t(bytes[2 * i + 1]) << 8));
    samples[i] = float(value) / 32768.0f;
  }
  return samples;
}

// Opens bytes under a name with the given extension, as DecodePath opens a file.
DecodedFile DecodeBytes(const std::string& bytes, const std::string& extension) {
  static const TempDir dir;
  const std::string path = dir / ("bytes" + extension);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return DecodePath(path);
}

std::string Kept(const AnnotationList& list, int kind) {
  const Annotation* item = list.FindKind(kind);
  return item ? std::string(item->data.begin(), item->data.end()) : "<none>";
}

// The shared source sound: 1.3 s of tones, stereo, 16-bit, at a given rate.
std::string MakeSource(const TempDir& dir, int rate, int channels) {
  const std::string path = dir / ("source-" + std::to_string(rate) + "-" + std::to_string(channels) + ".wav");
  RunQuietly("sox -n -b 16 -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " '" + path +
             "' synth 1.3 sine 440 sine 1234 gain -3");
  return path;
}

std::string Lame(const TempDir& dir, const std::string& name, int rate, int channels, const std::string& options) {
  const std::string out = dir / name;
  RunQuietly("lame --quiet " + options + " '" + MakeSource(dir, rate, channels) + "' '" + out + "'");
  return out;
}

struct LameCase {
  const char* name;
  int rate;
  int channels;
  const char* options;
  int bitRate;  // of the first frame for CBR; 0 for VBR
};
const LameCase kLameCases[] = {
    {"cbr-44100-stereo.mp3", 44100, 2, "-b 128", 128},
    {"cbr-48000-mono.mp3", 48000, 1, "-b 64 -m m", 64},
    {"vbr-44100-stereo.mp3", 44100, 2, "-V 4", 0},
    {"vbr-48000-stereo.mp3", 48000, 2, "-V 2", 0},
    {"cbr-22050-stereo.mp3", 22050, 2, "-b 64", 64},
    {"vbr-22050-mono.mp3", 22050, 1, "-V 5 -m m", 0},
    {"cbr-16000-mono.mp3", 16000, 1, "-b 32 -m m", 32},
    {"cbr-8000-mono.mp3", 8000, 1, "-b 16 -m m", 16},
    {"vbr-8000-stereo.mp3", 8000, 2, "-V 6", 0},
    {"cbr-44100-id3.mp3", 44100, 2, "-b 160 --tt Title --ta Artist --add-id3v2", 160},
    {"vbr-16000-id3.mp3", 16000, 1, "-V 3 -m m --tt Title --add-id3v2 --id3v2-only", 0},
    {"cbr-44100-noxing.mp3", 44100, 2, "-b 128 -t", 128},
};

class MpegFiles : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HaveMp3Tools()) GTEST_SKIP() << "sox, lame or mpg123 missing";
  }
  TempDir dir_;
};

TEST_F(MpegFiles, LameFilesDecodeAsMpg123DecodesThem) {
  for (const LameCase& c : kLameCases) {
    SCOPED_TRACE(c.name);
    const std::string path = Lame(dir_, c.name, c.rate, c.channels, c.options);
    const std::vector<float> expected = Mpg123Decoding(path, dir_ / "expected.raw");
    ASSERT_FALSE(expected.empty());
    const DecodedFile d = DecodePath(path);
    ASSERT_EQ(d.error, "");
    EXPECT_EQ(d.fileFormat, FileFormatMpeg);
    EXPECT_EQ(d.compression, CompressionMpegLayer3);
    EXPECT_EQ(d.resolution, 16);
    EXPECT_EQ(d.rate, c.rate);
    EXPECT_EQ(d.channels, c.channels);
    ExpectSameSamples(d.samples, expected, 0);
    // With a Xing or Info frame the length is exact; from the file size (without one) it is an
    // estimate in whole frames that does not cut a constant-bit-rate stream short.
    const std::int64_t promised = d.floatByteCount / 4;
    if (std::string(c.options).find("-t") == std::string::npos) {
      EXPECT_EQ(promised, std::int64_t(expected.size()));
    } else {
      EXPECT_GE(promised, std::int64_t(expected.size()));
      EXPECT_LE(promised, std::int64_t(expected.size()) + 1152 * c.channels);
    }
  }
}

TEST_F(MpegFiles, VbrWithoutXingStopsAtTheEstimateOrTheEnd) {
  const std::string path = Lame(dir_, "vbr-noxing.mp3", 44100, 2, "-V 2 -t");
  const std::vector<float> expected = Mpg123Decoding(path, dir_ / "expected.raw");
  const DecodedFile d = DecodePath(path);
  ASSERT_EQ(d.error, "");
  ASSERT_FALSE(d.samples.empty());
  // The estimate comes from the first frame's bit rate, in whole frames.
  EXPECT_EQ(d.floatByteCount / 4 % (1152 * 2), 0);
  EXPECT_EQ(std::int64_t(d.samples.size()), std::min(d.floatByteCount / 4, std::int64_t(expected.size())));
  EXPECT_TRUE(std::equal(d.samples.begin(), d.samples.end(), expected.begin()));
}

// Layer I frames with no bits allocated: silence that every decoder agrees on. No tool here
// writes layer I, so the frames are built by hand.
TEST_F(MpegFiles, LayerOneFrames) {
  const std::string header = "\xFF\xFF\x14\xC0"s;  // MPEG-1 layer I, 32 kbit/s, 48,000 Hz, mono
  MpegFrameHeader parsed;
  ASSERT_TRUE(ParseMpegFrameHeader(reinterpret_cast<const std::uint8_t*>(header.data()), &parsed));
  EXPECT_EQ(parsed.layer, 1);
  EXPECT_EQ(parsed.samplesPerFrame, 384);
  ASSERT_EQ(parsed.frameBytes, 32);
  std::string file;
  for (int i = 0; i < 100; ++i) file += header + std::string(28, '\0');
  const std::string path = dir_ / "layer1.mp1";
  std::ofstream(path, std::ios::binary) << file;
  const std::vector<float> expected = Mpg123Decoding(path, dir_ / "expected.raw");

  const DecodedFile d = DecodeBytes(file, "");
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.compression, CompressionMpegLayer1);
  EXPECT_EQ(d.rate, 48000);
  EXPECT_EQ(d.channels, 1);
  EXPECT_EQ(d.floatByteCount / 4, 100 * 384);
  EXPECT_EQ(d.samples, expected);
  EXPECT_EQ(DecodeBytes(file, ".mp3").error, "no reader");  // .mp3 requires layer III
}

TEST_F(MpegFiles, BitRateIsThatOfTheCurrentFrame) {
  const std::string path = Lame(dir_, "cbr.mp3", 44100, 2, "-b 192");
  std::ifstream in(path, std::ios::binary);
  auto reader = CreateReaderForFile(in, std::int64_t(std::filesystem::file_size(path)), ".mp3", true);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->BitRate(), 192);
  PullAll(*reader);
  EXPECT_EQ(reader->BitRate(), 192);

  const std::string vbr = Lame(dir_, "vbr.mp3", 44100, 2, "-V 0");
  std::ifstream vin(vbr, std::ios::binary);
  auto vreader = CreateReaderForFile(vin, std::int64_t(std::filesystem::file_size(vbr)), ".mp3", true);
  ASSERT_TRUE(vreader);
  std::vector<float> block(4608);
  std::set<int> rates;
  while (vreader->PullSamples(block.data(), int(block.size())) > 0) rates.insert(vreader->BitRate());
  EXPECT_GT(rates.size(), 1u);
  for (int rate : rates) EXPECT_TRUE(rate >= 32 && rate <= 320) << rate;
}

TEST_F(MpegFiles, SeekingResumesWithTheRequestedSample) {
  for (const char* options : {"-b 128", "-V 2", "-b 32 -m m"}) {
    SCOPED_TRACE(options);
    const int channels = std::string(options).find("-m m") != std::string::npos ? 1 : 2;
    const std::string path = Lame(dir_, "seek.mp3", channels == 1 ? 16000 : 44100, channels, options);
    const std::vector<float> all = DecodePath(path).samples;
    ASSERT_GT(all.size(), 20000u);
    std::ifstream in(path, std::ios::binary);
    auto reader = CreateReaderForFile(in, std::int64_t(std::filesystem::file_size(path)), ".mp3", true);
    ASSERT_TRUE(reader);
    const std::int64_t frames = std::int64_t(all.size()) / channels;
    std::vector<std::int64_t> targets = {0, 1, 1151, 4000, frames / 2, frames - 700, 7 * 1152 + 5, 100};
    std::mt19937 random(3);
    for (int k = 0; k < 200; ++k) targets.push_back(std::int64_t(random() % std::uint32_t(frames)));
    for (std::int64_t frame : targets) {
      SCOPED_TRACE(frame);
      ASSERT_TRUE(reader->SeekToSample(frame * channels));
      std::vector<float> got(std::size_t(600 * channels));
      const int n = reader->PullSamples(got.data(), int(got.size()));
      const std::int64_t expectedCount = std::min<std::int64_t>(std::int64_t(got.size()), (frames - frame) * channels);
      ASSERT_EQ(n, expectedCount);
      // Restarting the decoder mid-stream rebuilds its state up to the last bit of rounding; the
      // tones move far more than that from one sample to the next, so any shift would show.
      for (int i = 0; i < n; ++i) ASSERT_NEAR(got[std::size_t(i)], all[std::size_t(frame * channels + i)], kOneStep) << i;
    }
    // From the start the decoding is the very same, to the last bit.
    ASSERT_TRUE(reader->SeekToSample(0));
    std::vector<float> head(5000);
    ASSERT_EQ(reader->PullSamples(head.data(), 5000), 5000);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), all.begin()));
    // Beyond the end nothing more comes.
    ASSERT_TRUE(reader->SeekToSample((frames + 100000) * channels));
    std::vector<float> block(1000);
    EXPECT_EQ(reader->PullSamples(block.data(), 1000), 0);
  }
}

TEST_F(MpegFiles, LayerTwoFromFfmpegAndTheExtensionsThatOpenIt) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg missing";
  for (int rate : {44100, 48000, 22050, 16000}) {
    SCOPED_TRACE(rate);
    const std::string path = dir_ / "layer2.mp2";
    ASSERT_TRUE(RunQuietly("ffmpeg -y -i '" + MakeSource(dir_, rate, 2) + "' -c:a mp2 -b:a 128k '" + path + "'"));
    const std::vector<float> expected = Mpg123Decoding(path, dir_ / "expected.raw");
    const DecodedFile d = DecodePath(path);
    ASSERT_EQ(d.error, "");
    EXPECT_EQ(d.compression, CompressionMpegLayer2);
    EXPECT_EQ(d.rate, rate);
    EXPECT_EQ(d.channels, 2);
    ExpectSameSamples(d.samples, expected, 0);
    // No Xing frame: the length comes from the size and the bit rate, and is exact for CBR.
    EXPECT_EQ(d.floatByteCount / 4, std::int64_t(expected.size()));

    const std::string bytes = ReadText(path);
    EXPECT_EQ(DecodeBytes(bytes, ".mp3").error, "no reader");  // .mp3 requires layer III
    EXPECT_EQ(DecodeBytes(bytes, "").error, "");
    EXPECT_EQ(DecodeBytes(bytes, ".MPG").error, "");
    EXPECT_EQ(DecodeBytes(bytes, ".mpeg").error, "no reader");
  }
}

TEST_F(MpegFiles, LameTagsBecomeAnnotations) {
  const std::string path =
      Lame(dir_, "tagged.mp3", 44100, 2, "-b 128 --id3v2-latin1 --add-id3v2 --tt Tune --ta Someone --tc Words");
  std::ifstream in(path, std::ios::binary);
  auto reader = CreateReaderForFile(in, std::int64_t(std::filesystem::file_size(path)), ".mp3", true);
  ASSERT_TRUE(reader);
  EXPECT_EQ(Kept(reader->Annotations(), AnnotationName), "Tune"s + '\0');
  EXPECT_EQ(Kept(reader->Annotations(), AnnotationArtist), "Someone"s + '\0');
  EXPECT_EQ(Kept(reader->Annotations(), AnnotationComment), "Words"s + '\0');
  EXPECT_EQ(PullAll(*reader), Mpg123Decoding(path, dir_ / "expected.raw"));  // the tag is not audio

  // lame's default tag text is UTF-16, which is not kept; the audio opens all the same.
  const std::string utf16 = Lame(dir_, "utf16.mp3", 44100, 2, "-b 128 --add-id3v2 --tt Tune");
  std::ifstream utf16In(utf16, std::ios::binary);
  auto utf16Reader = CreateReaderForFile(utf16In, std::int64_t(std::filesystem::file_size(utf16)), ".mp3", true);
  ASSERT_TRUE(utf16Reader);
  EXPECT_EQ(Kept(utf16Reader->Annotations(), AnnotationName), "<none>");
  EXPECT_EQ(PullAll(*utf16Reader), Mpg123Decoding(utf16, dir_ / "expected.raw"));
}

TEST_F(MpegFiles, Mp3InWaveFromFfmpeg) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg missing";
  const std::string path = dir_ / "mp3.wav";
  if (!RunQuietly("ffmpeg -y -i '" + MakeSource(dir_, 44100, 2) + "' -c:a libmp3lame -b:a 128k -f wav '" + path + "'"))
    GTEST_SKIP() << "ffmpeg cannot write MP3 in WAVE";
  std::ifstream in(path, std::ios::binary);
  auto reader = CreateReaderForFile(in, std::int64_t(std::filesystem::file_size(path)), ".wav", true);
  ASSERT_TRUE(reader);
  auto& wave = static_cast<WaveRead&>(*reader);
  ASSERT_EQ(wave.FormatTag(), 0x55);
  EXPECT_EQ(reader->Compression(), CompressionMpegLayer3);
  EXPECT_EQ(reader->FileFormat(), FileFormatWave);
  EXPECT_EQ(reader->BitRate(), 128);
  EXPECT_EQ(reader->CurrentSamplingRate(), 44100);
  EXPECT_EQ(reader->CurrentChannels(), 2);
  EXPECT_GT(reader->FloatByteCount(), 0);
  const std::vector<float> ours = PullAll(*reader);

  // The data chunk on its own is an MP3 stream that mpg123 decodes.
  const std::string bytes = ReadText(path);
  const std::string mp3 = dir_ / "data.mp3";
  std::ofstream(mp3, std::ios::binary) << bytes.substr(std::size_t(wave.DataStart()), std::size_t(wave.DataLength()));
  const std::vector<float> expected = Mpg123Decoding(mp3, dir_ / "expected.raw");
  ASSERT_FALSE(ours.empty());
  ASSERT_LE(ours.size(), expected.size());
  // Decoding ends with the frame that completes the container's count.
  EXPECT_GE(std::int64_t(ours.size()), reader->FloatByteCount() / 4);
  EXPECT_LT(std::int64_t(ours.size()), reader->FloatByteCount() / 4 + 1152 * 2);
  for (std::size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(ours[i], expected[i]) << i;

  // Seeking inside the WAVE file lands on the same samples.
  ASSERT_TRUE(reader->SeekToSample(2 * 20000));
  std::vector<float> got(1000);
  ASSERT_EQ(reader->PullSamples(got.data(), 1000), 1000);
  for (int i = 0; i < 1000; ++i) ASSERT_NEAR(got[std::size_t(i)], ours[std::size_t(40000 + i)], kOneStep) << i;
}

TEST_F(MpegFiles, HandBuiltMp3InWave) {
  const std::string mp3Path = Lame(dir_, "inner.mp3", 22050, 2, "-b 64");
  const std::string mp3 = ReadText(mp3Path);
  const std::vector<float> expected = Mpg123Decoding(mp3Path, dir_ / "expected.raw");
  auto wave = [&](int channels, const std::string& fact, const std::string& data) {
    return Riff(Chunk("fmt ", FmtPayload(0x55, channels, 22050, 0)) + fact + Chunk("data", data));
  };
  // Without a fact chunk the decoder's own count gives the length.
  DecodedFile d = DecodeBytes(wave(2, "", mp3), ".wav");
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.samples, expected);
  EXPECT_EQ(d.floatByteCount / 4, std::int64_t(expected.size()));
  // A fact count wins, in whole frames...
  d = DecodeBytes(wave(2, Chunk("fact", Le32(20000)), mp3), ".wav");
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.floatByteCount / 4, 40000);
  ASSERT_GE(d.samples.size(), 40000u);
  EXPECT_TRUE(std::equal(d.samples.begin(), d.samples.end(), expected.begin()));
  // ...unless the data could never hold it.
  d = DecodeBytes(wave(2, Chunk("fact", Le32(0xFFFFFFF0)), mp3), ".wav");
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.samples, expected);
  EXPECT_LT(d.floatByteCount, std::int64_t(mp3.size()) * 100);

  EXPECT_EQ(DecodeBytes(wave(2, "", std::string(4000, '\0')), ".wav").error, "MP3 Frame header not found");
  EXPECT_EQ(DecodeBytes(wave(1, "", mp3), ".wav").error, "MP3 stream does not match the WAVE format");
  // Junk in front of the first frame is passed over.
  d = DecodeBytes(wave(2, "", std::string(100, 'j') + mp3), ".wav");
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.samples, expected);
}

// ---------------------------------------------------------------------------------------------
// Hand-built tags in front of a real stream

std::string SyncSafe(std::uint32_t n) {
  return std::string{char((n >> 21) & 0x7F), char((n >> 14) & 0x7F), char((n >> 7) & 0x7F), char(n & 0x7F)};
}
std::string Id3v2(int version, const std::string& frames) { return "ID3"s + char(version) + '\0' + '\0' + SyncSafe(std::uint32_t(frames.size())) + frames; }
std::string Frame3(const std::string& id, const std::string& content) { return id + Be32(std::uint32_t(content.size())) + "\0\0"s + content; }
std::string Frame2(const std::string& id, const std::string& content) {
  const auto n = std::uint32_t(content.size());
  return id + std::string{char(n >> 16), char(n >> 8), char(n)} + content;
}
std::string Text(const std::string& text) { return "\0"s + text; }

class Id3Tags : public MpegFiles {
protected:
  void SetUp() override {
    MpegFiles::SetUp();
    if (!IsSkipped()) stream_ = ReadText(Lame(dir_, "plain.mp3", 22050, 1, "-b 32 -m m"));
  }
  // The annotations of the tag in front of the stream; the stream must still decode in full.
  AnnotationList Annotations(const std::string& tag) {
    const std::string bytes = tag + stream_;
    std::istringstream in(bytes);
    auto reader = CreateReaderForFile(in, std::int64_t(bytes.size()), ".mp3", true);
    EXPECT_TRUE(reader);
    if (!reader) return {};
    EXPECT_EQ(PullAll(*reader), DecodeBytes(stream_, ".mp3").samples);
    AnnotationList copy;
    copy.CopyFrom(reader->Annotations());
    return copy;
  }
  std::string stream_;
};

TEST_F(Id3Tags, Version3Frames) {
  const AnnotationList list = Annotations(Id3v2(
      3, Frame3("TIT2", Text("Song")) + Frame3("TPE1", Text("Band")) + Frame3("TCOP", Text("2026 Someone")) +
             Frame3("COMM", "\0eng"s + "Note\0Line one\nline two"s) + Frame3("TCON", Text("(17)")) +
             Frame3("WXXX", "\0Home\0http://example.org/"s) + Frame3("TBPM", Text("120")) +
             Frame3("TKEY", Text("F#m")) + std::string(64, '\0')));
  EXPECT_EQ(Kept(list, AnnotationName), "Song"s + '\0');  // 5 bytes: the zero counts
  EXPECT_EQ(Kept(list, AnnotationArtist), "Band"s + '\0');
  EXPECT_EQ(Kept(list, AnnotationCopyright), "2026 Someone"s + '\0');
  EXPECT_EQ(Kept(list, AnnotationComment), "Note Line one line two"s + '\0');
  EXPECT_EQ(Kept(list, AnnotationGenre), "Rock"s + '\0');
  EXPECT_EQ(Kept(list, AnnotationUrl), "http://example.org/"s + '\0');
  EXPECT_EQ(Kept(list, AnnotationTempo), "120"s + '\0');
  EXPECT_EQ(Kept(list, AnnotationKey), "10"s + '\0');
}

TEST_F(Id3Tags, GenresKeysAndSkippedFrames) {
  AnnotationList list = Annotations(Id3v2(3, Frame3("TCON", Text("(148)")) + Frame3("TKEY", Text("Bm")) +
                                                 Frame3("TIT2", "\x01\xFF\xFEx\0"s) +  // UTF-16: skipped
                                                 Frame3("TPE1", Text(std::string(1100, 'a'))) +  // too long
                                                 Frame3("COMM", "\0eng\0plain"s)));
  EXPECT_EQ(Kept(list, AnnotationGenre), "(148)"s + '\0');
  EXPECT_EQ(Kept(list, AnnotationKey), "3"s + '\0');
  EXPECT_EQ(Kept(list, AnnotationName), "<none>");
  EXPECT_EQ(Kept(list, AnnotationArtist), "<none>");
  EXPECT_EQ(Kept(list, AnnotationComment), "plain"s + '\0');
  EXPECT_EQ(Kept(Annotations(Id3v2(3, Frame3("TCON", Text("Ambient")))), AnnotationGenre), "Ambient"s + '\0');
  EXPECT_EQ(Kept(Annotations(Id3v2(3, Frame3("TCON", Text("(0)")))), AnnotationGenre), "Blues"s + '\0');
}

TEST_F(Id3Tags, ExtendedHeaderIsSkipped) {
  const std::string frames = Be32(6) + std::string(6, '\0') + Frame3("TIT2", Text("Behind"));
  const std::string tag = "ID3\x03\0\x40"s + SyncSafe(std::uint32_t(frames.size())) + frames;
  EXPECT_EQ(Kept(Annotations(tag), AnnotationName), "Behind"s + '\0');
}

TEST_F(Id3Tags, Version2AndVersion4) {
  const AnnotationList v2 = Annotations(Id3v2(2, Frame2("TT2", Text("Old")) + Frame2("TCO", Text("(8)"))));
  EXPECT_EQ(Kept(v2, AnnotationName), "Old"s + '\0');
  EXPECT_EQ(Kept(v2, AnnotationGenre), "Jazz"s + '\0');
  EXPECT_TRUE(Annotations(Id3v2(4, Frame3("TIT2", Text("New")))).Empty());
}

TEST_F(Id3Tags, MalformedTagsAreReported) {
  EXPECT_EQ(DecodeBytes("ID3\x03\0\0"s + SyncSafe(100000000) + stream_, ".mp3").error, "Error, ID3 tag size too big");
  EXPECT_EQ(DecodeBytes(Id3v2(3, Frame3("TIT2", Text("x")).substr(0, 4) + Be32(0x7FFFFFF0) + "\0\0xxxx"s) + stream_, ".mp3").error,
            "Error, ID3 frame size too big");
  EXPECT_EQ(DecodeBytes(Id3v2(3, Frame3("COMM", "\0engno terminator"s)) + stream_, ".mp3").error, "Malformed ID3 Tag");
  EXPECT_EQ(DecodeBytes(Id3v2(3, Frame3("WXXX", "\0no terminator"s)) + stream_, ".mp3").error, "Malformed ID3 Tag");
  // A tag and nothing behind it.
  EXPECT_EQ(DecodeBytes(Id3v2(3, Frame3("TIT2", Text("x"))), ".mp3").error, "MPEG file may be corrupted");
}

// ---------------------------------------------------------------------------------------------
// Damage

// Every outcome is audio or a SoundError; never more samples than the bytes could hold.
void ExpectReportedOrDecoded(const std::string& bytes, const std::string& extension) {
  const DecodedFile d = DecodeBytes(bytes, extension);
  if (!d.error.empty()) return;
  EXPECT_LE(d.samples.size(), std::max<std::size_t>(bytes.size() * 200, 1152 * 2));
}

TEST_F(MpegFiles, DamagedStreamsEndInAudioOrAnError) {
  const std::string file = ReadText(Lame(dir_, "damage.mp3", 22050, 2, "-V 5 --tt Title --add-id3v2"));
  ASSERT_GT(file.size(), 2000u);
  for (std::size_t n = 0; n < file.size(); n += n < 600 ? 1 : 97) ExpectReportedOrDecoded(file.substr(0, n), ".mp3");

  std::mt19937 random(7);
  for (int round = 0; round < 60; ++round) {
    std::string damaged = file;
    for (int k = 0; k < 20; ++k) damaged[random() % damaged.size()] = char(random());
    ExpectReportedOrDecoded(damaged, ".mp3");
  }
  // Random bytes behind a sync, under every name that reaches the MPEG reader.
  for (int round = 0; round < 20; ++round) {
    std::string noise(5000 + random() % 5000, '\0');
    for (char& ch : noise) ch = char(random());
    noise[0] = '\xFF';
    noise[1] = '\xFB';
    ExpectReportedOrDecoded(noise, ".mp3");
    ExpectReportedOrDecoded(noise, "");
  }
  EXPECT_EQ(DecodeBytes("\xFF\xFB"s, ".mp3").error, "MPEG file may be corrupted");
  // A valid first header and nothing decodable behind it.
  std::string noise(3000, '\0');
  for (char& ch : noise) ch = char(random());
  EXPECT_EQ(DecodeBytes("\xFF\xFB\x80\x6F"s + noise, ".mp3").error, "MPEG file may be corrupted");
  EXPECT_EQ(DecodeBytes("\xFF\xFB\x00\x00"s + std::string(3000, '\0'), "").error, "MPEG file may be corrupted");
}

TEST_F(MpegFiles, AForgedXingCountDoesNotInventAudio) {
  std::string file = ReadText(Lame(dir_, "xing.mp3", 44100, 2, "-V 4"));
  const std::size_t xing = file.find("Xing");
  ASSERT_NE(xing, std::string::npos);
  file.replace(xing + 8, 4, "\x7F\xFF\xFF\xFF"s);
  const DecodedFile d = DecodeBytes(file, ".mp3");
  ASSERT_EQ(d.error, "");
  // The length is estimated from the size instead: the audio decodes up to there.
  EXPECT_LT(d.floatByteCount, std::int64_t(file.size()) * 100);
  const std::vector<float> all = DecodePath(dir_ / "xing.mp3").samples;
  ASSERT_GT(d.samples.size(), all.size() / 4);
  ASSERT_LE(d.samples.size(), all.size());
  EXPECT_TRUE(std::equal(d.samples.begin(), d.samples.end(), all.begin()));
}

}  // namespace
