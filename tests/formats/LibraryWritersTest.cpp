// Every file the libsndfile writer makes is read back by ffmpeg (and flac --test, opusinfo) with
// the rate, channels, length and tags asked for; FLAC gives back the very samples written.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

#include "formats/FormatCodes.h"
#include "formats/sndfile/SndfileWrite.h"
#include "tests/formats/SoxFiles.h"

namespace {

using namespace formats_test;

struct Written {
  const char* name;
  int fileFormat, encoding, rate, channels;
  const char* codec;       // ffprobe's codec_name
  const char* checker;     // another tool that must accept the file (%f), or null
  // Frames ffmpeg's decoding may be longer by: it gives back the encoder's whole last block
  // (Vorbis up to 2048, Opus 960, MP3 1152 frames), where libsndfile cuts Ogg at the end the
  // last page names.
  int lengthSlack;
};

const Written kWritten[] = {
    {"a.flac", FileFormatFlac, WithSetting(CompressionPcm16, 5), 44100, 2, "flac", "flac -s --test %f", 0},
    {"b.flac", FileFormatFlac, WithSetting(CompressionPcm24, 8), 96000, 1, "flac", "flac -s --test %f", 0},
    {"c.flac", FileFormatFlac, WithSetting(CompressionPcm16, 0), 8000, 1, "flac", "flac -s --test %f", 0},
    {"d.ogg", FileFormatOggVorbis, WithSetting(CompressionVorbis, 50), 44100, 2, "vorbis", nullptr, 2048},
    {"e.ogg", FileFormatOggVorbis, WithSetting(CompressionVorbis, 0), 22050, 1, "vorbis", nullptr, 2048},
    {"f.opus", FileFormatOpus, WithSetting(CompressionOpus, 128), 48000, 2, "opus", "opusinfo %f", 960},
    {"g.opus", FileFormatOpus, WithSetting(CompressionOpus, 24), 48000, 1, "opus", "opusinfo %f", 960},
    {"h.mp3", FileFormatMpeg, WithSetting(CompressionMpegLayer3, 192), 44100, 2, "mp3", nullptr, 1152},
    {"i.mp3", FileFormatMpeg, WithSetting(CompressionMpegLayer3, 2) | kVbrFlag, 48000, 1, "mp3", nullptr, 1152},
    {"j.mp3", FileFormatMpeg, WithSetting(CompressionMpegLayer3, 64), 22050, 1, "mp3", nullptr, 1152},
};

// Samples of exactly 16 bits (or 24), so that a lossless file can give them back.
std::vector<float> Quantised(int frames, int channels, int bits) {
  std::vector<float> samples = Tones(frames, channels);
  const double scale = std::ldexp(1.0, bits - 1);
  for (float& x : samples) x = float(std::round(x * scale) / scale);
  return samples;
}

TEST(LibraryWriters, FfmpegReadsWhatWasAskedFor) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg missing";
  TempDir dir;
  for (const Written& w : kWritten) {
    SCOPED_TRACE(w.name);
    const std::string file = dir / w.name;
    const int frames = int(1.5 * w.rate) + 17;
    const bool wide = BaseCompression(w.encoding) == CompressionPcm24;
    const std::vector<float> samples = Quantised(frames, w.channels, wide ? 24 : 16);
    AnnotationList tags;
    const std::string title = "Take 2", album = "Tests";
    tags.SetByKind(AnnotationName, reinterpret_cast<const std::uint8_t*>(title.c_str()), std::int32_t(title.size() + 1));
    tags.SetByKind(AnnotationAlbum, reinterpret_cast<const std::uint8_t*>(album.c_str()), std::int32_t(album.size() + 1));
    {
      std::ofstream out(file, std::ios::binary);
      SndfileWrite writer(out, frames, w.channels, w.rate, w.fileFormat, w.encoding, tags);
      // Pushed in uneven pieces, as the encoder hands them over.
      for (int at = 0; at < int(samples.size());) {
        const int n = std::min<int>(int(samples.size()) - at, 1234 * w.channels);
        ASSERT_EQ(writer.PushSamples(samples.data() + at, n), n);
        at += n;
      }
    }
    const std::string probe = Capture("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels"
                                      " -show_entries format_tags=title,album -show_entries stream_tags=title,album"
                                      " -of default=nw=1 " + file);
    EXPECT_NE(probe.find("codec_name=" + std::string(w.codec)), std::string::npos) << probe;
    EXPECT_NE(probe.find("sample_rate=" + std::to_string(w.rate)), std::string::npos) << probe;
    EXPECT_NE(probe.find("channels=" + std::to_string(w.channels)), std::string::npos) << probe;
    EXPECT_NE(probe.find("=Take 2"), std::string::npos) << probe;
    EXPECT_NE(probe.find("=Tests"), std::string::npos) << probe;
    if (w.checker) {
      std::string check = w.checker;
      check.replace(check.find("%f"), 2, file);
      EXPECT_TRUE(RunQuietly(check)) << check;
    }
    ASSERT_TRUE(RunQuietly("ffmpeg -v error -i " + file + " -f f32le " + file + ".f32"));
    const std::vector<float> decoded = ReadFloats(file + ".f32");
    const long got = long(decoded.size() / std::size_t(w.channels));
    EXPECT_GE(got, frames);
    EXPECT_LE(got, frames + w.lengthSlack);
    if (w.fileFormat == FileFormatFlac) ExpectSameSamples(decoded, samples, 0);
    // And the product's own reader opens it with the same layout.
    const DecodedFile ours = DecodePath(file);
    EXPECT_EQ(ours.error, "");
    EXPECT_EQ(ours.rate, w.rate);
    EXPECT_EQ(ours.channels, w.channels);
    if (w.fileFormat != FileFormatMpeg) EXPECT_EQ(ours.samples.size(), samples.size());
  }
}

}  // namespace
