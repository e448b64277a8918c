// Files of the formats read through libsndfile and FFmpeg, written during the test by flac,
// oggenc, opusenc, sox, ffmpeg and jmac, decode as ffmpeg decodes them: lossless ones sample for
// sample, lossy ones within kLossyBound. Tags become annotations; damaged and cut files end in a
// SoundError that says where, never in a crash or a short document.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "formats/FormatCodes.h"
#include "tests/formats/SoxFiles.h"

namespace {

using namespace formats_test;

// Vorbis and Opus files are decoded here by libvorbis/libopus (through libsndfile) and by
// ffmpeg's own decoders: the same arithmetic in another order, so they differ by float rounding
// only (4e-7 seen). The bound is one step of 16 bits: any real decoding fault is far larger.
constexpr double kLossyBound = 1.0 / 32768;

struct LibraryFile {
  const char* name;      // the file made, whose extension says the container
  int rate, channels;
  const char* source;    // sox's output options for the source WAVE
  const char* encoder;   // %i the source, %o the file
  int fileFormat, compression;
  double tolerance;      // against ffmpeg's decoding
  const char* title;     // the tag the encoder wrote, or null
  const char* needs = nullptr;  // a file the encoder needs beside the usual tools, or null
};

// Monkey's Audio has no encoder in ffmpeg; Debian's libjmac-java (run by a Java runtime) writes it.
constexpr const char* kJmac = "/usr/share/java/jmac.jar";

const LibraryFile kFiles[] = {
    {"a.flac", 44100, 2, "-b 16", "flac -s -5 -T TITLE=Take -T ARTIST=Me -T ALBUM=Al -T DATE=2024 %i -o %o",
     FileFormatFlac, CompressionPcm16, 0, "Take"},
    {"b.flac", 96000, 1, "-b 24", "flac -s -8 %i -o %o", FileFormatFlac, CompressionPcm24, 0, nullptr},
    {"c.flac", 192000, 2, "-b 24", "flac -s -0 %i -o %o", FileFormatFlac, CompressionPcm24, 0, nullptr},
    // Streamed from a pipe: the header does not say the length (libsndfile's SF_COUNT_MAX).
    {"w.flac", 44100, 2, "-b 16",
     "sox %i -t raw - | flac -s --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 "
     "--sample-rate=44100 - -o %o",
     FileFormatFlac, CompressionPcm16, 0, nullptr},
    {"d.flac", 8000, 1, "-b 16", "ffmpeg -v error -i %i -c:a flac %o", FileFormatFlac, CompressionPcm16, 0, nullptr},
    {"e.ogg", 44100, 2, "-b 16", "oggenc -Q -q5 -t Song -a Me -l Al %i -o %o", FileFormatOggVorbis,
     CompressionVorbis, kLossyBound, "Song"},
    {"f.ogg", 22050, 1, "-b 16", "oggenc -Q -q0 %i -o %o", FileFormatOggVorbis, CompressionVorbis, kLossyBound, nullptr},
    {"g.opus", 48000, 2, "-b 16", "opusenc --quiet --bitrate 96 --title Op %i %o", FileFormatOpus, CompressionOpus,
     kLossyBound, "Op"},
    {"h.opus", 48000, 1, "-b 16", "opusenc --quiet --bitrate 24 %i %o", FileFormatOpus, CompressionOpus, kLossyBound,
     nullptr},
    {"i.m4a", 44100, 2, "-b 16", "ffmpeg -v error -i %i -c:a aac -b:a 128k -metadata title=Aac %o", FileFormatMp4,
     CompressionAac, 0, "Aac"},
    // Raw AAC in ADTS frames, as radio recorders and some phones save it.
    {"z.aac", 44100, 2, "-b 16", "ffmpeg -v error -i %i -c:a aac -b:a 128k -f adts %o", FileFormatAac, CompressionAac, 0,
     nullptr},
    {"j.m4a", 96000, 2, "-b 24", "ffmpeg -v error -i %i -c:a alac %o", FileFormatMp4, CompressionPcm24, 0, nullptr},
    {"k.m4a", 11025, 1, "-b 16", "ffmpeg -v error -i %i -c:a alac %o", FileFormatMp4, CompressionPcm16, 0, nullptr},
    {"l.wv", 48000, 2, "-b 16", "ffmpeg -v error -i %i -c:a wavpack %o", FileFormatWavPack, CompressionPcm16, 0, nullptr},
    {"m.wv", 44100, 1, "-e float -b 32", "ffmpeg -v error -i %i -c:a wavpack %o", FileFormatWavPack,
     CompressionFloat32, 0, nullptr},
    {"n.wma", 44100, 2, "-b 16", "ffmpeg -v error -i %i -c:a wmav2 %o", FileFormatAsf, CompressionWma, 0, nullptr},
    {"o.mka", 48000, 2, "-b 16", "ffmpeg -v error -i %i -c:a libvorbis %o", FileFormatMatroska, CompressionVorbis, 0,
     nullptr},
    {"p.webm", 48000, 1, "-b 16", "ffmpeg -v error -i %i -c:a libopus %o", FileFormatMatroska, CompressionOpus, 0,
     nullptr},
    {"q.caf", 32000, 2, "-b 16", "ffmpeg -v error -i %i -c:a pcm_s16be %o", FileFormatCaf, CompressionPcm16, 0, nullptr},
    {"x.ape", 44100, 2, "-b 16", "java -jar /usr/share/java/jmac.jar c2 %i %o", FileFormatMonkeysAudio,
     CompressionPcm16, 0, nullptr, kJmac},
    {"y.ape", 22050, 1, "-b 16", "java -jar /usr/share/java/jmac.jar c4 %i %o", FileFormatMonkeysAudio,
     CompressionPcm16, 0, nullptr, kJmac},
    {"r.w64", 44100, 2, "-e float -b 32", "ffmpeg -v error -i %i -c:a pcm_f32le %o", FileFormatWave64,
     CompressionFloat32, 0, nullptr},
    // 5.1 in the Vorbis channel order comes out in WAVE's, as ffmpeg gives it.
    {"t.ogg", 48000, 6, "-b 16", "oggenc -Q %i -o %o", FileFormatOggVorbis, CompressionVorbis, kLossyBound, nullptr},
    {"u.opus", 48000, 6, "-b 16", "opusenc --quiet %i %o", FileFormatOpus, CompressionOpus, kLossyBound, nullptr},
    {"v.flac", 44100, 6, "-b 16", "flac -s %i -o %o", FileFormatFlac, CompressionPcm16, 0, nullptr},
    // The audio of a video: the first audio stream, behind the picture's.
    {"s.mkv", 44100, 2, "-b 16",
     "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=5 -i %i -shortest -map 0:v -map 1:a -c:v mpeg4 -c:a flac %o",
     FileFormatMatroska, CompressionPcm16, 0, nullptr},
};

std::string Fill(std::string command, const std::string& in, const std::string& out) {
  command.replace(command.find("%i"), 2, in);
  command.replace(command.find("%o"), 2, out);
  return command;
}

TEST(LibraryReaders, DecodeAsFfmpegDoes) {
  if (!HaveSox() || !HaveFfmpeg()) GTEST_SKIP() << "sox or ffmpeg missing";
  TempDir dir;
  for (const LibraryFile& f : kFiles) {
    SCOPED_TRACE(f.name);
    if (f.needs && !std::filesystem::exists(f.needs)) {
      std::printf("%s skipped: %s is missing\n", f.name, f.needs);
      continue;
    }
    const std::string source = dir / (std::string(f.name) + ".wav"), file = dir / f.name;
    const std::string synth = f.channels == 1   ? "sine 440"
                              : f.channels == 2 ? "sine 440 sine 1003"
                                                : "sine 300 sine 500 sine 700 sine 900 sine 1100 sine 1300";
    ASSERT_TRUE(RunQuietly("sox -n -r " + std::to_string(f.rate) + " -c " + std::to_string(f.channels) + " " + f.source +
                           " " + source + " synth 1.3 " + synth + " gain -3"));
    if (!RunQuietly(Fill(f.encoder, source, file))) {
      ADD_FAILURE() << "the encoder failed: " << f.encoder;
      continue;
    }
    ASSERT_TRUE(RunQuietly("ffmpeg -v error -i " + file + " -map 0:a:0 -f f32le " + file + ".f32"));
    const std::vector<float> reference = ReadFloats(file + ".f32");
    const DecodedFile ours = DecodePath(file);
    ASSERT_EQ(ours.error, "");
    EXPECT_EQ(ours.fileFormat, f.fileFormat);
    EXPECT_EQ(ours.compression, f.compression);
    EXPECT_EQ(ours.channels, f.channels);
    EXPECT_EQ(ours.rate, f.rate);
    // An MP4 edit list and the last Ogg page's position cut the encoder's padding, which ffmpeg's
    // raw output keeps.
    if (f.fileFormat == FileFormatMp4 || f.fileFormat == FileFormatOggVorbis) {
      ASSERT_LE(ours.samples.size(), reference.size());
      ASSERT_GE(ours.samples.size(), std::size_t(1.3 * f.rate) * f.channels);
      ExpectSameSamples(ours.samples, {reference.begin(), reference.begin() + std::ptrdiff_t(ours.samples.size())},
                        f.tolerance);
    } else {
      ExpectSameSamples(ours.samples, reference, f.tolerance);
    }
    if (f.title) {
      std::ifstream in(file, std::ios::binary);
      auto reader = CreateReaderForFile(in, std::int64_t(std::filesystem::file_size(file)), ExtensionOf(file), true);
      const Annotation* title = reader->Annotations().FindKind(AnnotationName);
      ASSERT_NE(title, nullptr);
      EXPECT_STREQ(reinterpret_cast<const char*>(title->data.data()), f.title);
    }
  }
}

// Every file cut short or with a run of bytes overwritten in its audio either reads (a codec may
// conceal a small fault) or says "<format> data is damaged at m:ss.mmm"; a file cut to its first
// bytes gets the library's refusal. Nothing crashes, hangs or returns a silently short document.
TEST(LibraryReaders, DamageIsReportedWithItsPlace) {
  if (!HaveSox() || !HaveFfmpeg()) GTEST_SKIP() << "sox or ffmpeg missing";
  TempDir dir;
  const std::string source = dir / "src.wav";
  ASSERT_TRUE(RunQuietly("sox -n -r 44100 -c 2 -b 16 " + source + " synth 20 sine 440 sine 1003 gain -3"));
  const struct {
    const char* name;
    const char* encoder;
  } kDamaged[] = {
      {"x.flac", "flac -s %i -o %o"},
      {"x.ogg", "oggenc -Q %i -o %o"},
      {"x.opus", "opusenc --quiet %i %o"},
      {"x.m4a", "ffmpeg -v error -i %i -c:a aac -movflags +faststart %o"},
      {"x.wv", "ffmpeg -v error -i %i -c:a wavpack %o"},
  };
  for (const auto& d : kDamaged) {
    SCOPED_TRACE(d.name);
    const std::string file = dir / d.name;
    ASSERT_TRUE(RunQuietly(Fill(d.encoder, source, file)));
    const std::string bytes = ReadText(file);
    auto open = [&](const std::string& content) {
      std::istringstream in(content);
      try {
        auto reader = CreateReaderForFile(in, std::int64_t(content.size()), ExtensionOf(d.name), true);
        if (!reader) return std::string("no reader");
        reader->CurrentSamplingRate();
        const std::size_t frames = PullAll(*reader).size() / std::size_t(reader->CurrentChannels());
        // What reads without an error is all there: no document cut short in silence.
        return frames + 2 * 44100 >= std::size_t(20 * 44100) ? std::string("whole") : "short " + std::to_string(frames);
      } catch (const SoundError& error) {
        return std::string(error.what());
      }
    };
    // Cut in the middle of the audio: the damage is where the audio stops.
    const std::string cut = open(bytes.substr(0, bytes.size() / 2));
    EXPECT_NE(cut.find(" data is damaged at 0:"), std::string::npos) << cut;
    // A header cut short is refused by the library.
    EXPECT_NE(open(bytes.substr(0, 20)), "whole");
    // Overwritten audio: an error with its place, or a whole decoding.
    std::string scribbled = bytes;
    std::fill(scribbled.begin() + std::ptrdiff_t(bytes.size() / 3), scribbled.begin() + std::ptrdiff_t(bytes.size() / 3 + 400), '\xA5');
    const std::string result = open(scribbled);
    EXPECT_TRUE(result == "whole" || result.find(" data is damaged at 0:") != std::string::npos) << result;
  }
}

}  // namespace
