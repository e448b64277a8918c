#pragma once
// The query of the editor's web search: "sig" (32 hexadecimal digits) and the optional filters
// "format" (repeated), "channels", "minres", "minrate" and "maxsize" (bytes, or the "512k" and
// "2 MB" texts of the dialog's list), plus "limit", the number of results wanted.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/SoundSignature.h"

inline constexpr std::size_t kMaxQueryLength = 2048;
inline constexpr int kDefaultResultCount = 20;
inline constexpr int kMaxResultCount = 100;

struct SearchQuery {
  SoundSignature signature;
  std::vector<std::int32_t> formats;  // FileFormatCodes; empty = every format
  int channels = 0;                   // 0 = any, else 1 or 2
  int minBits = 0;
  int minRate = 0;
  std::int64_t maxSize = 0;  // bytes; 0 = no limit
  int limit = kDefaultResultCount;
};

struct QueryError {
  std::string field;    // the key at fault ("sig", "maxsize", ...; "query" for the whole)
  std::string message;  // "FIELD: what is wrong"
};

// query: the text after '?', still percent-encoded. False with *error.
bool ParseSearchQuery(std::string_view query, SearchQuery* out, QueryError* error);
// The same for a whole URL (or a path with its query): its part after the first '?'.
bool ParseSearchUrl(std::string_view url, SearchQuery* out, QueryError* error);
