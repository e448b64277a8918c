// The search query: every URL the editor builds parses back to the choices it was built from,
// and malformed queries are refused naming the key at fault.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "editor/WebSearch.h"
#include "formats/FormatCodes.h"
#include "search/SearchQuery.h"

namespace {

const std::map<std::string, int> kBits = {{"8-bit", 0}, {"16-bit", 16}, {"24-bit", 24}, {"32-bit", 32}, {"16 bit", 0}};
const std::map<std::string, int> kRates = {{"8000 Hz", 0},      {"11025 Hz", 11025}, {"22050 Hz", 22050},
                                           {"44100 Hz", 44100}, {"48000 Hz", 48000}, {"96000 Hz", 96000},
                                           {"48000", 0}};
const std::map<std::string, std::int64_t> kSizes = {
    {"8 MB", 8388608}, {"4 MB", 4194304}, {"2 MB", 2097152}, {"1 MB", 1048576}, {"512k", 524288},
    {"256k", 262144},  {"128k", 131072},  {"64k", 65536},    {"32k", 32768},    {"16k", 16384},
    {"3 MB", 0}};

TEST(SearchQuery, EveryUrlTheEditorBuildsParsesBackToItsChoices) {
  std::mt19937 rng(12);
  int checked = 0;
  for (int boxes = 0; boxes < 32; ++boxes) {
    for (const auto& [bitsText, bits] : kBits) {
      for (const auto& [rateText, rate] : kRates) {
        for (const auto& [sizeText, size] : kSizes) {
          WebSearchChoices c;
          c.aiff = boxes & 1, c.au = boxes & 2, c.wave = boxes & 4, c.mono = boxes & 8, c.stereo = boxes & 16;
          c.resolution = bitsText, c.rate = rateText, c.size = sizeText;
          SoundSignature sig;
          for (int i = 0; i < 13; ++i) sig.bytes[i] = std::uint8_t(rng());
          sig.bytes[15] = 32;
          const std::string url = BuildSearchUrl(c, kDefaultSearchUrl, sig);
          SearchQuery q;
          QueryError error;
          ASSERT_TRUE(ParseSearchUrl(url, &q, &error)) << url << ": " << error.message;
          EXPECT_EQ(q.signature, sig) << url;
          std::vector<std::int32_t> formats;
          if (!(c.aiff && c.au && c.wave)) {
            if (c.aiff) formats.push_back(FileFormatAiff);
            if (c.au) formats.push_back(FileFormatAu);
            if (c.wave) formats.push_back(FileFormatWave);
            // FLAC, Ogg Vorbis, Opus and M4A stay wanted.
            for (int f : {FileFormatFlac, FileFormatOggVorbis, FileFormatOpus, FileFormatMp4}) formats.push_back(f);
          }
          EXPECT_EQ(q.formats, formats) << url;
          EXPECT_EQ(q.channels, c.mono == c.stereo ? 0 : c.mono ? 1 : 2) << url;
          EXPECT_EQ(q.minBits, bits) << url;
          EXPECT_EQ(q.minRate, rate) << url;
          EXPECT_EQ(q.maxSize, size) << url;
          EXPECT_EQ(q.limit, kDefaultResultCount);
          ++checked;
        }
      }
    }
  }
  EXPECT_EQ(checked, 32 * 5 * 7 * 11);
}

TEST(SearchQuery, MalformedQueriesNameTheirField) {
  const std::string sig = "sig=0123456789abcdef0123456789ab0020";
  const struct {
    std::string query, field;
  } cases[] = {
      {"", "sig"},
      {"format=wave", "sig"},
      {"sig=0123", "sig"},
      {"sig=0123456789abcdef0123456789ab00zz", "sig"},
      {"sig=0123456789abcdef0123456789ab0000", "sig"},  // no marker: the region had no signature
      {sig + "&sig=0123456789abcdef0123456789ab0020", "sig"},
      {sig + "&format=vox", "format"},
      {sig + "&channels=quad", "channels"},
      {sig + "&channels=mono&channels=stereo", "channels"},
      {sig + "&minres=", "minres"},
      {sig + "&minres=16-bit", "minres"},
      {sig + "&minres=999", "minres"},
      {sig + "&minrate=-1", "minrate"},
      {sig + "&minrate=99999999999999999999", "minrate"},
      {sig + "&maxsize=2%20GB", "maxsize"},
      {sig + "&maxsize=0", "maxsize"},
      {sig + "&maxsize=%2", "maxsize"},
      {sig + "&limit=0", "limit"},
      {sig + "&limit=100000", "limit"},
      {sig + "&" + std::string(kMaxQueryLength, 'x'), "query"},
  };
  for (const auto& c : cases) {
    SearchQuery q;
    QueryError error;
    EXPECT_FALSE(ParseSearchQuery(c.query, &q, &error)) << c.query;
    EXPECT_EQ(error.field, c.field) << c.query;
    EXPECT_EQ(error.message.rfind(c.field + ": ", 0), 0u) << error.message;
  }
}

TEST(SearchQuery, SizesInTheDialogsSpellingsAndOtherKeys) {
  const std::string sig = "sig=0123456789ABCDEF0123456789ab0020";
  const struct {
    std::string maxsize;
    std::int64_t bytes;
  } sizes[] = {{"2097152", 2097152}, {"512k", 524288}, {"2+MB", 2097152}, {"2%20MB", 2097152}, {"16k", 16384}, {"3MB", 3145728}};
  for (const auto& s : sizes) {
    SearchQuery q;
    QueryError error;
    ASSERT_TRUE(ParseSearchQuery(sig + "&maxsize=" + s.maxsize + "&utm=x&utm=y&limit=5", &q, &error)) << error.message;
    EXPECT_EQ(q.maxSize, s.bytes) << s.maxsize;
    EXPECT_EQ(q.limit, 5);
    EXPECT_EQ(q.signature.bytes[1], 0x23);
  }
}

}  // namespace
