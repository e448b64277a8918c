// Sample-rate conversion: filter set-up per rate pair, unit gain, frequency and level of a
// converted sine with the residual far below it, lengths, and channel independence.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "formats/RateConverter.h"

namespace {

std::vector<float> Sine(double frequency, int rate, int frames, double amplitude = 0.5) {
  std::vector<float> s(frames);
  for (int i = 0; i < frames; ++i) s[i] = float(amplitude * std::sin(2 * M_PI * frequency * i / rate));
  return s;
}

// Converts in pieces of `piece` frames, as the encoder does, then flushes.
std::vector<float> Convert(RateConverter& converter, const std::vector<float>& in, int channels, int piece,
                           bool flush = true) {
  std::vector<float> out;
  std::vector<float> buffer;
  const int frames = int(in.size()) / channels;
  for (int start = 0; start < frames; start += piece) {
    const int n = std::min(piece, frames - start);
    buffer.resize(std::size_t(converter.MaxOutputFrames(n)) * channels);
    const int got = converter.Process(in.data() + std::size_t(start) * channels, n, buffer.data());
    EXPECT_LE(got, converter.MaxOutputFrames(n));
    out.insert(out.end(), buffer.begin(), buffer.begin() + std::size_t(got) * channels);
  }
  if (flush) {
    buffer.resize(std::size_t(converter.MaxFlushFrames()) * channels);
    const int got = converter.Flush(buffer.data());
    out.insert(out.end(), buffer.begin(), buffer.begin() + std::size_t(got) * channels);
  }
  return out;
}

// Least-squares fit of a sine of the given frequency; returns its amplitude and the RMS of what
// is left, over the samples from `from` to `to`.
struct Fit {
  double amplitude;
  double residualRms;
};
Fit FitSine(const std::vector<float>& s, double frequency, int rate, std::size_t from, std::size_t to) {
  double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
  for (std::size_t i = from; i < to; ++i) {
    const double w = 2 * M_PI * frequency * double(i) / rate, sn = std::sin(w), cs = std::cos(w);
    ss += sn * sn, cc += cc * 0 + cs * cs, sc += sn * cs, ys += s[i] * sn, yc += s[i] * cs;
  }
  const double det = ss * cc - sc * sc;
  const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
  double residual = 0;
  for (std::size_t i = from; i < to; ++i) {
    const double w = 2 * M_PI * frequency * double(i) / rate;
    const double e = s[i] - (a * std::sin(w) + b * std::cos(w));
    residual += e * e;
  }
  return {std::hypot(a, b), std::sqrt(residual / double(to - from))};
}

TEST(RateConverterSetupTest, ModeAndTablePerRatePair) {
  RateConverter doubling(1, 22050, 44100);
  EXPECT_TRUE(doubling.ExactMode());
  EXPECT_EQ(doubling.Phases(), 2);
  EXPECT_EQ(doubling.WingLength(), 47);
  const std::vector<double> table = doubling.FilterTable();
  ASSERT_EQ(table.size(), 48u);
  EXPECT_NE(table[44], 0.0);
  for (int i = 45; i <= 47; ++i) EXPECT_EQ(table[i], 0.0) << i;  // used = 45

  RateConverter up(2, 44100, 48000);
  EXPECT_TRUE(up.ExactMode());
  EXPECT_EQ(up.Phases(), 160);
  RateConverter down(2, 48000, 44100);
  EXPECT_FALSE(down.ExactMode());
  EXPECT_EQ(down.Phases(), 128);
  EXPECT_EQ(down.HalfWidth(), int(std::int64_t(2945) * 65536 / std::int64_t(0.91875 * (1 << 23) + 0.5)));
  EXPECT_FALSE(RateConverter(1, 11025, 96000).ExactMode());  // den 1280
  // Denominators 446..511 cannot build an exact table and interpolate instead.
  RateConverter wide(1, 449 * 20, 450 * 20);           // den 450
  EXPECT_FALSE(wide.ExactMode());
  EXPECT_EQ(wide.Phases(), 128);
  EXPECT_TRUE(RateConverter(1, 444 * 20, 445 * 20).ExactMode());  // den 445 still fits
  EXPECT_FALSE(RateConverter(1, 0, 44100).Usable());
  EXPECT_FALSE(RateConverter(1, 96000, 300).Usable());
  EXPECT_TRUE(RateConverter(1, 96000, 375).Usable());
}

TEST(RateConverterTest, EqualRatesCopyExactly) {
  RateConverter same(2, 44100, 44100);
  const std::vector<float> in = {0.1f, -0.2f, 0.3f, -0.4f, 1.5f, -1.5f};
  std::vector<float> out(6);
  EXPECT_EQ(same.Process(in.data(), 3, out.data()), 3);
  EXPECT_EQ(out, in);
}

TEST(RateConverterTest, UnitGainOnDc) {
  for (auto [from, to] : {std::pair{22050, 44100}, {44100, 48000}, {48000, 44100}, {11025, 96000}, {96000, 8000}, {8000, 11025}}) {
    SCOPED_TRACE(testing::Message() << from << " -> " << to);
    RateConverter converter(1, from, to);
    const std::vector<float> dc(from / 2, 1.0f);
    const std::vector<float> out = Convert(converter, dc, 1, 4096, false);
    ASSERT_GT(out.size(), 1000u);
    // Away from the start, where the filter sees only the signal.
    for (std::size_t i = out.size() / 4; i < out.size(); ++i) ASSERT_NEAR(out[i], 1.0, 1e-4) << i;
  }
}

TEST(RateConverterTest, SineKeepsFrequencyAndLevelWithTheResidualFarBelow) {
  for (auto [from, to] : {std::pair{44100, 48000}, {48000, 44100}, {22050, 44100}}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << from << " -> " << to << ", " << channels << " channels");
      const int frames = from;  // one second
      const std::vector<float> mono = Sine(1000, from, frames);
      std::vector<float> in(std::size_t(frames) * channels);
      for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) in[std::size_t(i) * channels + c] = mono[i] * (c ? -1.0f : 1.0f);
      RateConverter converter(channels, from, to);
      const std::vector<float> out = Convert(converter, in, channels, 2048);
      // The output length follows the ratio.
      ASSERT_NEAR(double(out.size()) / channels, double(frames) * to / from, 1.0);
      for (int c = 0; c < channels; ++c) {
        std::vector<float> channel(out.size() / channels);
        for (std::size_t i = 0; i < channel.size(); ++i) channel[i] = out[i * channels + c] * (c ? -1.0f : 1.0f);
        // Skip the edges, where the filter runs into the silence before and after.
        const Fit fit = FitSine(channel, 1000, to, 200, channel.size() - 200);
        EXPECT_NEAR(fit.amplitude, 0.5, 0.5e-4);
        const double residualDb = 20 * std::log10(fit.residualRms / (fit.amplitude / std::sqrt(2.0)));
        EXPECT_LT(residualDb, -80) << residualDb;
      }
    }
  }
}

TEST(RateConverterTest, ExtremeRatiosKeepLengthAndLevel) {
  for (auto [from, to] : {std::pair{8000, 96000}, {96000, 8000}, {96000, 375}, {375, 96000}}) {
    SCOPED_TRACE(testing::Message() << from << " -> " << to);
    const int frames = 2 * from;
    RateConverter converter(1, from, to);
    const std::vector<float> out = Convert(converter, Sine(20, from, frames), 1, 1000);
    ASSERT_NEAR(double(out.size()), double(frames) * to / from, 1.0);
    const std::size_t edge = out.size() / 8;
    EXPECT_NEAR(FitSine(out, 20, to, edge, out.size() - edge).amplitude, 0.5, 1e-3);
  }
}

TEST(RateConverterTest, PieceSizeDoesNotChangeTheResult) {
  const std::vector<float> in = Sine(3000, 48000, 30000, 0.8);
  RateConverter whole(1, 48000, 44100), pieces(1, 48000, 44100);
  EXPECT_EQ(Convert(whole, in, 1, 30000), Convert(pieces, in, 1, 777));
  RateConverter exactWhole(1, 44100, 48000), exactPieces(1, 44100, 48000);
  EXPECT_EQ(Convert(exactWhole, in, 1, 30000), Convert(exactPieces, in, 1, 1));
}

// Stereo in exact mode runs both channels through vector registers together; each channel must
// come out as its own mono conversion does, bit for bit, whatever the piece size.
TEST(RateConverterTest, StereoEqualsEachChannelConvertedAlone) {
  for (const auto& [from, to] : {std::pair{44100, 48000}, std::pair{22050, 44100}, std::pair{8000, 11025},
                                 std::pair{48000, 44100}}) {
    const int frames = 20000;
    const std::vector<float> left = Sine(997, from, frames, 0.9), right = Sine(3100, from, frames, 0.4);
    std::vector<float> stereo(2 * std::size_t(frames));
    for (int i = 0; i < frames; ++i) {
      stereo[2 * std::size_t(i)] = left[std::size_t(i)];
      stereo[2 * std::size_t(i) + 1] = i % 331 == 0 ? -0.0f : right[std::size_t(i)];
    }
    std::vector<float> alone[2];
    for (int c = 0; c < 2; ++c) {
      std::vector<float> mono(static_cast<std::size_t>(frames));
      for (int i = 0; i < frames; ++i) mono[std::size_t(i)] = stereo[2 * std::size_t(i) + c];
      RateConverter converter(1, from, to);
      alone[c] = Convert(converter, mono, 1, 4096);
    }
    for (int piece : {1, 613, 30000}) {
      RateConverter converter(2, from, to);
      const std::vector<float> both = Convert(converter, stereo, 2, piece);
      ASSERT_EQ(both.size(), 2 * alone[0].size()) << from << " -> " << to;
      for (std::size_t i = 0; i < alone[0].size(); ++i)
        for (int c = 0; c < 2; ++c)
          ASSERT_EQ(std::memcmp(&both[2 * i + c], &alone[c][i], sizeof(float)), 0)
              << from << " -> " << to << " piece " << piece << " frame " << i << " channel " << c;
    }
  }
}

TEST(RateConverterTest, WithoutFlushTheLookAheadIsHeldBack) {
  RateConverter converter(1, 22050, 44100);
  const std::vector<float> in(22050, 0.25f);
  const std::size_t held = Convert(converter, in, 1, 4096, false).size();
  EXPECT_LT(held, 44100u);
  EXPECT_GT(held, 44100u - 2 * 2 * std::size_t(converter.HalfWidth() + 1));
}

}  // namespace
