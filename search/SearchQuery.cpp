#include "search/SearchQuery.h"

#include <algorithm>
#include <set>

#include "search/SoundFile.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Form decoding: '+' is a blank, %XX a byte. False on a broken escape.
bool Unescape(std::string_view text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      *out += ' ';
    } else if (text[i] == '%') {
      if (i + 2 >= text.size()) return false;
      const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
      if (hi < 0 || lo < 0) return false;
      *out += char(hi * 16 + lo);
      i += 2;
    } else {
      *out += text[i];
    }
  }
  return true;
}

// Leading decimal digits (at most 12) as a number; *rest is what follows them.
bool TakeNumber(const std::string& text, std::int64_t* value, std::string* rest) {
  std::size_t n = 0;
  while (n < text.size() && text[n] >= '0' && text[n] <= '9') ++n;
  if (n == 0 || n > 12) return false;
  *value = std::stoll(text.substr(0, n));
  *rest = text.substr(n);
  return true;
}

bool WholeNumber(const std::string& text, std::int64_t low, std::int64_t high, std::int64_t* value) {
  std::string rest;
  return TakeNumber(text, value, &rest) && rest.empty() && *value >= low && *value <= high;
}

// Bytes, or the dialog's spellings: "512k" (kibibytes), "2 MB" (mebibytes).
bool SizeValue(const std::string& text, std::int64_t* bytes) {
  std::int64_t n = 0;
  std::string rest;
  if (!TakeNumber(text, &n, &rest)) return false;
  rest.erase(0, rest.find_first_not_of(' '));
  std::int64_t unit = 0;
  if (rest.empty()) unit = 1;
  else if (rest == "k" || rest == "K" || rest == "kB" || rest == "KB") unit = 1024;
  else if (rest == "M" || rest == "MB" || rest == "mb") unit = 1024 * 1024;
  if (unit == 0 || n == 0 || n > (std::int64_t(1) << 40) / unit) return false;
  *bytes = n * unit;
  return true;
}

// The keys that may be given once; "format" repeats, and keys that are not ours are let be.
bool IsSingleKey(const std::string& key) {
  return key == "sig" || key == "channels" || key == "minres" || key == "minrate" || key == "maxsize" || key == "limit";
}

bool Fail(QueryError* error, const std::string& field, const std::string& what) {
  *error = QueryError{field, field + ": " + what};
  return false;
}

bool TakeValue(const std::string& key, const std::string& value, SearchQuery* q, QueryError* error) {
  std::int64_t n = 0;
  if (key == "sig") {
    if (value.size() != 32) return Fail(error, key, "wants 32 hexadecimal digits");
    for (int i = 0; i < 16; ++i) {
      const int hi = HexValue(value[std::size_t(2 * i)]), lo = HexValue(value[std::size_t(2 * i + 1)]);
      if (hi < 0 || lo < 0) return Fail(error, key, "wants 32 hexadecimal digits");
      q->signature.bytes[i] = std::uint8_t(hi * 16 + lo);
    }
    // A region too short or at too low a rate gives no signature; no sound resembles it.
    if (!IsValidSignature(q->signature)) return Fail(error, key, "is not a sound signature (its last byte must be 20)");
  } else if (key == "format") {
    const std::int32_t code = FormatFromKey(value);
    if (code == 0) return Fail(error, key, "unknown format '" + value + "' (aiff, au, wave, mpeg, voc, 8svx, midi, module)");
    if (std::find(q->formats.begin(), q->formats.end(), code) == q->formats.end()) q->formats.push_back(code);
  } else if (key == "channels") {
    if (value == "mono" || value == "1") q->channels = 1;
    else if (value == "stereo" || value == "2") q->channels = 2;
    else return Fail(error, key, "wants mono or stereo");
  } else if (key == "minres") {
    if (!WholeNumber(value, 1, 64, &n)) return Fail(error, key, "wants bits per sample, 1 to 64");
    q->minBits = int(n);
  } else if (key == "minrate") {
    if (!WholeNumber(value, 1, 1000000, &n)) return Fail(error, key, "wants a sample rate in Hz, 1 to 1000000");
    q->minRate = int(n);
  } else if (key == "maxsize") {
    if (!SizeValue(value, &q->maxSize)) return Fail(error, key, "wants a size in bytes, or as 512k or 2 MB");
  } else if (key == "limit") {
    if (!WholeNumber(value, 1, kMaxResultCount, &n))
      return Fail(error, key, "wants a result count, 1 to " + std::to_string(kMaxResultCount));
    q->limit = int(n);
  }
  return true;  // other keys are not ours: a browser or a later editor may add some
}

}  // namespace

bool ParseSearchQuery(std::string_view query, SearchQuery* out, QueryError* error) {
  *out = SearchQuery{};
  if (query.size() > kMaxQueryLength)
    return Fail(error, "query", "longer than " + std::to_string(kMaxQueryLength) + " characters");
  std::set<std::string> seen;
  std::size_t from = 0;
  while (from <= query.size()) {
    std::size_t to = query.find('&', from);
    if (to == std::string_view::npos) to = query.size();
    const std::string_view pair = query.substr(from, to - from);
    from = to + 1;
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    std::string key, value;
    if (!Unescape(pair.substr(0, eq), &key)) return Fail(error, "query", "broken %-escape");
    if (!Unescape(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1), &value))
      return Fail(error, key, "broken %-escape");
    if (IsSingleKey(key) && !seen.insert(key).second) return Fail(error, key, "given twice");
    if (!TakeValue(key, value, out, error)) return false;
  }
  if (!seen.count("sig")) return Fail(error, "sig", "missing: the query needs the signature of a sound");
  return true;
}

bool ParseSearchUrl(std::string_view url, SearchQuery* out, QueryError* error) {
  const std::size_t mark = url.find('?');
  const std::string_view query = mark == std::string_view::npos ? std::string_view() : url.substr(mark + 1);
  // A fragment never reaches a server, but a pasted URL may carry one.
  return ParseSearchQuery(query.substr(0, query.find('#')), out, error);
}
