// The inputs the reader fuzzers (tests/formats/fuzz) found faults with, kept as cases, and the
// fuzzers' checks applied to files made by sox, ffmpeg and lame: every input opens, decodes and
// seeks, or ends in a SoundError with a short message; never a crash, a hang, a negative or
// oversized sample count (the sanitizer build also checks every read).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "formats/Probe.h"
#include "formats/Raw.h"
#include "tests/formats/TestSupport.h"

namespace {

using namespace formats_test;

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// Pulls at most rounds blocks of count samples; every pull must stay within the request.
std::int64_t PullBounded(AudioAbstract& reader, int count, int rounds) {
  std::vector<float> block(std::size_t(count) + 64);
  std::int64_t total = 0;
  for (int round = 0; round < rounds; ++round) {
    const int got = reader.PullSamples(block.data(), count);
    EXPECT_GE(got, 0);
    EXPECT_LE(got, count);
    if (got <= 0) break;
    total += got;
  }
  return total;
}

// What the fuzzers do with one input: the SoundError text, or "" when it opened and decoded.
std::string Exercise(const std::string& bytes, std::int64_t fileSize, const std::string& extension) {
  std::istringstream in(bytes);
  try {
    auto reader = CreateReaderForFile(in, fileSize, extension, true);
    if (!reader) return "no reader";
    reader->CurrentSamplingRate();
    reader->CurrentChannels();
    EXPECT_GE(reader->FloatByteCount(), 0);
    PullBounded(*reader, 1024, 64);
    const std::int64_t samples = reader->FloatByteCount() / 4;
    for (std::int64_t target : {std::int64_t(3), samples / 2, samples + 1, std::int64_t(777777)})
      if (reader->SeekToSample(target)) PullBounded(*reader, 1 + int(target % 1000), 2);
    return "";
  } catch (const SoundError& error) {
    EXPECT_FALSE(error.Message().empty());
    EXPECT_LE(error.Message().size(), SoundError::kMaxMessage);
    return error.Message().empty() ? "(empty message)" : error.Message();
  }
}

TEST(FuzzRegressionTest, FoundInputsOpenOrFailCleanly) {
  struct Case {
    const char* what;
    const char* extension;
    const char* hex;
  };
  const Case cases[] = {
      {"VOC extended block whose fields the file ends before", ".voc",
       "437265617469766520566f6963652046696c651a1a000a013f1108214b21"},
      {"AIFC COMM chunk of 8 bytes (no room for the rate), cut after one", ".aiff",
       "464f524d000001504149464353534e440000010000180000ffff5140434f4d4d0000000890"},
      // FFmpeg would allocate the seek table the header announces (512 MB) before reading it.
      {"Monkey's Audio header of 106 bytes announcing a 74 MB seek table", ".ape",
       "4d414320960f0000340000001800009d736170040000002c000000d801000000000000000000008eee753146d1490e4e796d19"
       "46a4d5e0a00f000000800400a00000000100000010000200401f00007c000000ffd2f9d62836bb0d61d54b414509080dedd8"
       "654f8c25ed"},
      // A last frame of 67 million blocks: the decoder made minutes of noise from 155 bytes.
      {"Monkey's Audio frame longer than any the encoder makes", ".ape",
       "4d414320960f00003400000018000000040000002c000000d801000000000000000000008eee753146d1490e4e796d1946a4"
       "d5e0a00f000000800400a00000040100000010000200401f006e9827f4710121d01a81d490c4d4b63027dd65e7538a0cd3af"
       "c647ba1e03c4a28231e544820106771611be4e38435ca7481dfcd9c7f7fc00a8dd871a536820eff568691abd345131df105e"
       "5200000000"},
      {"RF64 whose ds64 gives 4.5e18 bytes of 8-bit data", ".wav",
       "52463634ffffffff57415645647336341c0000009800437265617469766520566f69633f652046696c6500000000"
       "0000666d74201000000001000100401f0000401f00000100080064617461ffffffff8295abbecfd8dad1"},
  };
  for (const Case& c : cases) {
    const std::string bytes = FromHex(c.hex);
    // The VOC probe takes any extension, so a reader's fault shows under every name.
    for (const char* extension : {c.extension, ".wav", ".mp3", ""}) {
      for (std::int64_t size : {std::int64_t(bytes.size()), std::int64_t(0)}) {
        SCOPED_TRACE(std::string(c.what) + " as " + extension + ", size " + std::to_string(size));
        Exercise(bytes, size, extension);
      }
    }
  }
  EXPECT_EQ(Exercise(FromHex(cases[2].hex), 106, ".ape"), "Monkey's Audio file announces more frames than it holds");
  EXPECT_EQ(Exercise(FromHex(cases[3].hex), 155, ".ape"), "Monkey's Audio file declares impossible frames");
}

// Every reader, on files the reference tools wrote: a seek to the end or beyond delivers
// nothing, and a seek into the middle delivers exactly the rest.
TEST(FuzzRegressionTest, SeeksAtAndBeyondTheEndDeliverNothing) {
  if (!HaveSox() || !HaveFfmpeg() || !RunQuietly("lame --version")) GTEST_SKIP() << "sox, ffmpeg or lame missing";
  TempDir dir;
  const std::string source = dir / "source.wav";
  ASSERT_TRUE(RunQuietly("sox -R -n -r 8000 -c 2 -b 16 " + source + " synth 0.3 sine 300-3000"));
  struct Made {
    const char* name;
    std::string command;  // {in} and {out} are replaced
    enum { kNoSeek, kExact, kNear } middle;  // lossy decoders restart a few frames early
  };
  const Made made[] = {
      {"pcm.wav", "sox {in} {out}", Made::kExact},
      {"ima.wav", "sox {in} -e ima-adpcm {out}", Made::kExact},
      {"ms.wav", "sox {in} -e ms-adpcm {out}", Made::kExact},
      {"mp3-in-wave.wav", "ffmpeg -y -i {in} -c:a libmp3lame -b:a 32k {out}", Made::kNear},
      {"pcm.aiff", "sox {in} {out}", Made::kExact},
      {"ima4.aiff", "ffmpeg -y -i {in} -c:a adpcm_ima_qt -f aiff {out}", Made::kExact},
      {"ulaw.au", "sox {in} -e u-law {out}", Made::kExact},
      {"s16.voc", "sox {in} {out}", Made::kNoSeek},
      {"u8.8svx", "sox {in} {out}", Made::kNoSeek},
      {"layer3.mp3", "lame --quiet -b 32 {in} {out}", Made::kNear},
      {"layer2.mp2", "ffmpeg -y -i {in} -ar 32000 -c:a mp2 -b:a 64k {out}", Made::kNear},
  };
  for (const Made& m : made) {
    SCOPED_TRACE(m.name);
    std::string command = m.command;
    const std::string out = dir / m.name;
    command.replace(command.find("{in}"), 4, source);
    command.replace(command.find("{out}"), 5, out);
    ASSERT_TRUE(RunQuietly(command)) << command;
    const std::string bytes = ReadText(out);
    for (std::int64_t size : {std::int64_t(bytes.size()), std::int64_t(0)}) {
      SCOPED_TRACE("size " + std::to_string(size));
      try {
        std::istringstream in(bytes);
        auto reader = CreateReaderForFile(in, size, ExtensionOf(out), true);
        ASSERT_TRUE(reader);
        const std::int64_t total = PullBounded(*reader, 4096, 1000);
        ASSERT_GT(total, 0);
        for (std::int64_t beyond : {std::int64_t(0), std::int64_t(1), std::int64_t(2), std::int64_t(5000)}) {
          if (!reader->SeekToSample(total + beyond)) continue;
          for (int count : {1, 2, 7, 1024}) EXPECT_EQ(PullBounded(*reader, count, 4), 0) << "at +" << beyond;
        }
        if (m.middle == Made::kNoSeek) continue;
        const std::int64_t middle = total / 4 * 2;  // a whole frame
        ASSERT_TRUE(reader->SeekToSample(middle));
        const std::int64_t rest = PullBounded(*reader, 1000, 1000);
        if (m.middle == Made::kExact) {
          EXPECT_EQ(rest, total - middle);
        } else {
          EXPECT_NEAR(double(rest), double(total - middle), 2.0 * 1152 * 2);
        }
      } catch (const SoundError& error) {
        // Without the file size a reader may not see through a writer's slips (sox's VOC
        // block length), but with it every one of these files reads.
        if (size != 0) ADD_FAILURE() << error.what();
      }
    }
  }
  // The raw reader, in every layout the fuzzer tries.
  const std::string raw = ReadText(source).substr(44);
  for (int channels : {1, 2, 3, 12}) {
    std::istringstream in(raw);
    RawRead reader(in, std::int64_t(raw.size()), channels, 8000, 16, CompressionPcm16, false, true);
    const std::int64_t total = PullBounded(reader, 4096, 1000);
    if (reader.SeekToSample(total + 1)) {
      EXPECT_EQ(PullBounded(reader, 7, 4), 0) << channels << " channels";
    }
  }
}

}  // namespace
