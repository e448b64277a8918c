// The sample codecs, one value at a time and through their block loops.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "formats/G711.h"
#include "formats/PcmCodecs.h"

namespace {

// A stage over bytes in memory: the source of a decoder and the sink of an encoder.
class MemoryStage : public AudioAbstract {
public:
  int PullSamples(float*, int) override { return 0; }
  int PushSamples(const float*, int) override { return 0; }
  int PullBytes(std::uint8_t* buffer, int length) override {
    const int n = std::min<int>(length, int(bytes.size() - readAt));
    std::copy(bytes.begin() + readAt, bytes.begin() + readAt + n, buffer);
    readAt += n;
    return n;
  }
  int PushBytes(const std::uint8_t* data, int length) override {
    bytes.insert(bytes.end(), data, data + length);
    return length;
  }
  std::vector<std::uint8_t> bytes;
  std::size_t readAt = 0;
};

template <class Compressor>
std::vector<std::uint8_t> Encode(std::vector<float> values) {
  MemoryStage sink;
  Compressor compressor(sink);
  EXPECT_EQ(compressor.PushSamples(values.data(), int(values.size())), int(values.size()));
  return sink.bytes;
}

template <class Decompressor>
std::vector<float> Decode(std::vector<std::uint8_t> bytes, int count) {
  MemoryStage source;
  source.bytes = std::move(bytes);
  Decompressor decompressor(source);
  std::vector<float> out(count);
  out.resize(decompressor.PullSamples(out.data(), count));
  return out;
}

using Bytes = std::vector<std::uint8_t>;

TEST(PcmCodecTest, EightBitEdges) {
  EXPECT_EQ(Encode<CompressPcm8Signed>({1.0f, -1.0f, 0.004f, -0.004f}), (Bytes{127, 0x80, 1, 0xFF}));
  EXPECT_EQ(Encode<CompressPcm8Unsigned>({0.0f, 1.0f, -1.0f, 2.0f, -2.0f}), (Bytes{128, 255, 0, 255, 0}));
  EXPECT_EQ(Decode<DecompressPcm8Unsigned>({0, 255, 128}, 3), (std::vector<float>{-1.0f, 0.9921875f, 0.0f}));
  EXPECT_EQ(Decode<DecompressPcm8Signed>({0x80, 0x7F}, 2), (std::vector<float>{-1.0f, 127 / 128.0f}));
}

TEST(PcmCodecTest, SixteenBitEdgesInBothByteOrders) {
  EXPECT_EQ(Encode<CompressPcm16LsbSigned>({-1.0f, 1.5f, -1.5f, 0.5f}), (Bytes{0, 0x80, 0xFF, 0x7F, 0, 0x80, 0, 0x40}));
  EXPECT_EQ(Encode<CompressPcm16MsbSigned>({-1.0f, 1.0f}), (Bytes{0x80, 0, 0x7F, 0xFF}));
  // Halves round away from zero.
  EXPECT_EQ(FloatToPcm16(0.5f / 32768), 1);
  EXPECT_EQ(FloatToPcm16(-0.5f / 32768), -1);
  EXPECT_EQ(FloatToPcm16(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(Decode<DecompressPcm16MsbSigned>({0x80, 0, 0x40, 0}, 2), (std::vector<float>{-1.0f, 0.5f}));
}

// The block loops run eight samples at a time in vector registers; every sample must come out as
// the one-value functions give it, in both byte orders and at every offset of the tail.
TEST(PcmCodecTest, SixteenBitBlockLoopsEqualTheOneValueFunctions) {
  std::vector<float> values = {0.0f, -0.0f, 1.0f, -1.0f, 2.0f, -3.0f, std::numeric_limits<float>::quiet_NaN(),
                               -std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::max(),
                               std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(),
                               32767.5f / 32768, -32768.5f / 32768, 0.49999997f / 32768, 1e30f, -1e30f};
  for (int k = -70000; k <= 70000; ++k) values.push_back(float(k) / 65536.0f);  // every half step
  for (int k = 0; k < 5000; ++k) values.push_back(std::nextafter(float(k % 200 - 100) / 32768.0f + 0.5f / 32768, 2.0f));
  for (std::size_t tail = 0; tail < 8; ++tail) {
    std::vector<float> v(values.begin(), values.end() - std::ptrdiff_t(tail));
    const Bytes lsb = Encode<CompressPcm16LsbSigned>(v), msb = Encode<CompressPcm16MsbSigned>(v);
    ASSERT_EQ(lsb.size(), 2 * v.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
      const auto want = std::uint16_t(FloatToPcm16(v[i]));
      ASSERT_EQ(lsb[2 * i] | (lsb[2 * i + 1] << 8), want) << v[i];
      ASSERT_EQ(msb[2 * i + 1] | (msb[2 * i] << 8), want) << v[i];
    }
  }
  Bytes every;
  for (int code = 0; code < 65536 + 3; ++code) {
    every.push_back(std::uint8_t(code));
    every.push_back(std::uint8_t(code >> 8));
  }
  const std::vector<float> decoded = Decode<DecompressPcm16LsbSigned>(every, 65536 + 3);
  ASSERT_EQ(decoded.size(), 65536u + 3);
  for (int code = 0; code < 65536 + 3; ++code)
    ASSERT_EQ(decoded[std::size_t(code)], float(std::int16_t(std::uint16_t(code))) / 32768.0f) << code;
}

TEST(PcmCodecTest, TwentyFourBitEncoding) {
  EXPECT_EQ(FloatToPcm24(-std::ldexp(1.0f, -24)) & 0xFFFFFF, 0);
  EXPECT_EQ(FloatToPcm24(1.0f), 0x7FFFFF);
  EXPECT_EQ(FloatToPcm24(-0.5f) & 0xFFFFFF, 0xC00000);
  EXPECT_EQ(FloatToPcm24(-1.0f) & 0xFFFFFF, 0x800000);
  EXPECT_EQ(FloatToPcm24(-7.0f) & 0xFFFFFF, 0x800000);
  EXPECT_EQ(Encode<CompressPcm24LsbSigned>({0.5f}), (Bytes{0, 0, 0x40}));
  EXPECT_EQ(Encode<CompressPcm24MsbSigned>({0.5f}), (Bytes{0x40, 0, 0}));
  EXPECT_EQ(Decode<DecompressPcm24LsbSigned>({0, 0, 0x80, 0xFF, 0xFF, 0x7F}, 2),
            (std::vector<float>{-1.0f, 8388607 / 8388608.0f}));
  EXPECT_EQ(Decode<DecompressPcm24MsbSigned>({0xC0, 0, 0}, 1), (std::vector<float>{-0.5f}));
}

TEST(PcmCodecTest, ThirtyTwoBitAndFloat) {
  EXPECT_EQ(Encode<CompressPcm32LsbSigned>({1.0f, -1.0f}), (Bytes{0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0x80}));
  EXPECT_EQ(FloatToPcm32(-3.0f), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(Decode<DecompressPcm32LsbSigned>({0, 0, 0, 0x80, 0, 0, 0, 0x40}, 2), (std::vector<float>{-1.0f, 0.5f}));
  // Float encoding keeps the value; decoding clamps, and NaN reads as -1.
  const std::vector<float> values = {1.5f, -3.0f, std::numeric_limits<float>::quiet_NaN(), 0.25f};
  EXPECT_EQ(Decode<DecompressPcm32Float>(Encode<CompressPcm32Float>(values), 4),
            (std::vector<float>{1.0f, -1.0f, -1.0f, 0.25f}));
  EXPECT_EQ(Encode<CompressPcm32Float>({1.5f}), (Bytes{0, 0, 0xC0, 0x3F}));
}

TEST(PcmCodecTest, BlockLoopDropsATrailingPartialSample) {
  EXPECT_EQ(Decode<DecompressPcm16LsbSigned>({1, 0, 2, 0, 3, 0, 4}, 10).size(), 3u);
  // Many blocks of the 24000-byte buffer, with a 24-bit sample straddling none of them.
  std::vector<float> ramp(30000);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = float(int(i % 2000) - 1000) / 1024.0f;
  EXPECT_EQ(Decode<DecompressPcm24LsbSigned>(Encode<CompressPcm24LsbSigned>(ramp), 30000), ramp);
}

TEST(G711Test, MuLawReferencePoints) {
  EXPECT_EQ(MuLawCompress(0), 0xFF);
  EXPECT_EQ(MuLawExpand(0xFF), 0);
  EXPECT_EQ(MuLawExpand(0x80), 32124);
  EXPECT_EQ(MuLawExpand(0x00), -32124);
  EXPECT_EQ(Decode<DecompressG711MuLaw>({0x80, 0x00, 0xFF}, 3),
            (std::vector<float>{32124 / 32768.0f, -32124 / 32768.0f, 0.0f}));
}

TEST(G711Test, ALawReferencePoints) {
  EXPECT_EQ(ALawCompress(0), 0xD5);
  EXPECT_EQ(ALawExpand(0xD5), 8);
  EXPECT_EQ(Encode<CompressG711ALaw>({0.0f}), (Bytes{0xD5}));
  EXPECT_EQ(Decode<DecompressG711ALaw>({0xD5}, 1), (std::vector<float>{8 / 32768.0f}));
}

TEST(G711Test, EveryCodeSurvivesExpandAndCompress) {
  for (int code = 0; code < 256; ++code) {
    EXPECT_EQ(ALawCompress(ALawExpand(std::uint8_t(code))), code) << code;
    // Mu-law has two codes for zero (0x7F and 0xFF); the positive one comes back.
    if (code != 0x7F) {
      EXPECT_EQ(MuLawCompress(MuLawExpand(std::uint8_t(code))), code) << code;
    }
  }
  // The quantisation error stays within a fraction of the value's segment.
  for (int v = -32768; v < 32768; v += 7) {
    const int mu = MuLawExpand(MuLawCompress(v)), a = ALawExpand(ALawCompress(v));
    EXPECT_LE(std::abs(mu - v), (std::abs(v) + 132) / 16 + 1) << v;
    EXPECT_LE(std::abs(a - v), std::max(16, std::abs(v) / 16)) << v;
  }
}

TEST(G711Test, ShortReadDeliversWhatRemains) {
  EXPECT_EQ(Decode<DecompressG711MuLaw>(Bytes(7, 0xFF), 10).size(), 7u);
  // In-place expansion over many samples keeps every value.
  Bytes codes(5000);
  for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = std::uint8_t(i * 37);
  const std::vector<float> decoded = Decode<DecompressG711ALaw>(codes, 5000);
  ASSERT_EQ(decoded.size(), 5000u);
  for (std::size_t i = 0; i < codes.size(); ++i) ASSERT_EQ(decoded[i], ALawExpand(codes[i]) / 32768.0f) << i;
}

}  // namespace
