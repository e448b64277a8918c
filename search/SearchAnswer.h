#pragma once
// The answer to one search request, free of any HTTP library: the query parsed and run over the
// catalog, then written as the results page or as JSON. The server sends what this gives; tests
// and the benchmark call it directly.
#include <string>
#include <string_view>

#include "search/SearchCatalog.h"

inline constexpr const char* kSearchPath = "/ISAPI/search.dll";

struct SearchAnswer {
  int status = 200;  // 200, or 400 for a malformed query
  std::string contentType;
  std::string body;
};

// target: the request's path and query as received ("/ISAPI/search.dll?sig=...").
SearchAnswer AnswerSearch(const SearchCatalog& catalog, std::string_view target, bool json);

// Text made safe for HTML element content and attribute values.
std::string EscapeHtml(std::string_view text);
// The content of a JSON string (without the quotes).
std::string EscapeJson(std::string_view text);
// "m:ss.ss" for the result rows.
std::string FormatSeconds(double seconds);
