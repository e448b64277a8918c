#include "search/SearchAnswer.h"

#include <cstdio>
#include <filesystem>

namespace {

std::string Hex(const SoundSignature& s) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t b : s.bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string SizeText(std::int64_t bytes) {
  char text[64];
  if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0) std::snprintf(text, sizeof text, "%lld MB", (long long)(bytes >> 20));
  else if (bytes >= 1024 && bytes % 1024 == 0) std::snprintf(text, sizeof text, "%lldk", (long long)(bytes >> 10));
  else std::snprintf(text, sizeof text, "%lld bytes", (long long)bytes);
  return text;
}

std::string FormatsText(const SearchQuery& q) {
  if (q.formats.empty()) return "any";
  std::string text;
  for (const std::int32_t f : q.formats) text += (text.empty() ? "" : ", ") + std::string(FormatName(f));
  return text;
}

std::string ChannelsText(int channels) { return channels == 1 ? "mono" : channels == 2 ? "stereo" : std::to_string(channels); }

double Seconds(std::int64_t frames, int rate) { return rate > 0 ? double(frames) / rate : 0.0; }

std::string Number(double v, const char* format = "%.2f") {
  char text[32];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

std::string ColorText(const SoundSignature& s) {
  const BlockColor c = SignatureColor(s);
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", unsigned(c & 255), unsigned((c >> 8) & 255), unsigned((c >> 16) & 255));
  return text;
}

constexpr const char* kStyle = R"(
body{font:14px/1.4 sans-serif;margin:1.5em;color:#222}
h1{font-size:1.3em;margin:0 0 .4em}
.choices{margin:.2em 0 1em;color:#444}
.choices span{display:inline-block;margin-right:1.2em}
.sig{display:inline-block;width:1em;height:1em;vertical-align:middle;border:1px solid #888}
table{border-collapse:collapse;width:100%}
th,td{padding:.3em .6em;border-bottom:1px solid #ddd;text-align:left;white-space:nowrap}
td.folder{color:#666;max-width:14em;overflow:hidden;text-overflow:ellipsis}
td.num{text-align:right}
.bar{display:inline-block;height:.8em;background:#3a7bd5;margin-right:.4em;vertical-align:middle}
audio{height:2em;width:12em}
.error{color:#a00}
)";

std::string PageStart(const std::string& title) {
  return "<!doctype html>\n<html><head><meta charset=\"utf-8\"><title>" + EscapeHtml(title) +
         "</title><style>" + kStyle + "</style></head><body>\n";
}

std::string ResultsHtml(const SearchQuery& q, const std::vector<SearchResult>& results, std::size_t fileCount) {
  std::string html = PageStart("Sounds like " + Hex(q.signature));
  html += "<h1><span class=\"sig\" style=\"background:" + ColorText(q.signature) + "\"></span> Sounds like " +
          Hex(q.signature) + "</h1>\n<p class=\"choices\">";
  html += "<span>Formats: " + EscapeHtml(FormatsText(q)) + "</span>";
  html += "<span>Channels: " + std::string(q.channels ? ChannelsText(q.channels) : "any") + "</span>";
  html += "<span>Resolution: " + (q.minBits ? "at least " + std::to_string(q.minBits) + "-bit" : std::string("any")) + "</span>";
  html += "<span>Sample rate: " + (q.minRate ? "at least " + std::to_string(q.minRate) + " Hz" : std::string("any")) + "</span>";
  html += "<span>File size: " + (q.maxSize ? "at most " + SizeText(q.maxSize) : std::string("any")) + "</span>";
  html += "</p>\n<p>" + std::to_string(results.size()) + (results.size() == 1 ? " sound" : " sounds") + " of " +
          std::to_string(fileCount) + " in the library.</p>\n";
  if (results.empty()) return html + "<p>No sound in the library passes these choices.</p>\n</body></html>\n";
  html += "<table><thead><tr><th>#</th><th>File</th><th>Folder</th><th>Format</th><th>Rate</th><th>Channels</th>"
          "<th>Length</th><th>Match at</th><th>Score</th><th>Listen</th><th></th></tr></thead>\n<tbody>\n";
  int rank = 0;
  for (const SearchResult& r : results) {
    const CatalogFile& f = *r.file;
    const std::filesystem::path path(f.path);
    const std::string id = std::to_string(f.id);
    html += "<tr class=\"result\"><td class=\"num\">" + std::to_string(++rank) + "</td>";
    html += "<td class=\"name\">" + EscapeHtml(path.filename().string()) + "</td>";
    html += "<td class=\"folder\" title=\"" + EscapeHtml(path.parent_path().string()) + "\">" +
            EscapeHtml(path.parent_path().string()) + "</td>";
    html += "<td>" + std::string(FormatName(f.facts.format)) + "</td>";
    html += "<td class=\"num\">" + std::to_string(f.facts.rate) + " Hz</td>";
    html += "<td>" + ChannelsText(f.facts.channels) + "</td>";
    html += "<td class=\"num\">" + FormatSeconds(Seconds(f.facts.length, f.facts.rate)) + "</td>";
    html += "<td class=\"num\">" + FormatSeconds(Seconds(r.windowStart, f.facts.rate)) + "</td>";
    html += "<td class=\"score\"><span class=\"bar\" style=\"width:" + Number(r.score * 0.8, "%.1f") + "px\"></span>" +
            Number(r.score, "%.1f") + "</td>";
    html += "<td><audio controls preload=\"none\" src=\"/audio/" + id + "\"></audio></td>";
    html += "<td><a href=\"/file/" + id + "\" download=\"" + EscapeHtml(path.filename().string()) + "\">Open</a></td></tr>\n";
  }
  return html + "</tbody></table>\n</body></html>\n";
}

std::string ResultsJson(const SearchQuery& q, const std::vector<SearchResult>& results, std::size_t fileCount) {
  std::string json = "{\"query\":{\"sig\":\"" + Hex(q.signature) + "\",\"formats\":[";
  for (std::size_t i = 0; i < q.formats.size(); ++i) json += (i ? ",\"" : "\"") + std::string(FormatKey(q.formats[i])) + "\"";
  json += "],\"channels\":" + std::to_string(q.channels) + ",\"minres\":" + std::to_string(q.minBits) +
          ",\"minrate\":" + std::to_string(q.minRate) + ",\"maxsize\":" + std::to_string(q.maxSize) +
          ",\"limit\":" + std::to_string(q.limit) + "},\"files\":" + std::to_string(fileCount) + ",\"results\":[";
  for (std::size_t i = 0; i < results.size(); ++i) {
    const SearchResult& r = results[i];
    const CatalogFile& f = *r.file;
    const std::filesystem::path path(f.path);
    json += i ? ",{" : "{";
    json += "\"id\":" + std::to_string(f.id) + ",\"path\":\"" + EscapeJson(f.path) + "\",\"name\":\"" +
            EscapeJson(path.filename().string()) + "\",\"folder\":\"" + EscapeJson(path.parent_path().string()) +
            "\",\"format\":\"" + FormatKey(f.facts.format) + "\",\"rate\":" + std::to_string(f.facts.rate) +
            ",\"channels\":" + std::to_string(f.facts.channels) + ",\"bits\":" + std::to_string(f.facts.bits) +
            ",\"size\":" + std::to_string(f.size) + ",\"frames\":" + std::to_string(f.facts.length) +
            ",\"seconds\":" + Number(Seconds(f.facts.length, f.facts.rate), "%.3f") +
            ",\"start\":" + Number(Seconds(r.windowStart, f.facts.rate), "%.3f") +
            ",\"window\":" + Number(Seconds(r.windowLength, f.facts.rate), "%.3f") +
            ",\"score\":" + Number(r.score, "%.3f") + ",\"audio\":\"/audio/" + std::to_string(f.id) + "\"}";
  }
  return json + "]}\n";
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string EscapeJson(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", unsigned(c));
      out += esc;
    } else {
      out += c;
    }
  }
  return out;
}

std::string FormatSeconds(double seconds) {
  const long long hundredths = (long long)(seconds * 100 + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld.%02lld", hundredths / 6000, hundredths / 100 % 60, hundredths % 100);
  return text;
}

SearchAnswer AnswerSearch(const SearchCatalog& catalog, std::string_view target, bool json) {
  SearchQuery query;
  QueryError error;
  if (!ParseSearchUrl(target, &query, &error)) {
    if (json)
      return {400, "application/json",
              "{\"error\":\"" + EscapeJson(error.message) + "\",\"field\":\"" + EscapeJson(error.field) + "\"}\n"};
    return {400, "text/html; charset=utf-8",
            PageStart("Bad search") + "<h1>Bad search</h1>\n<p class=\"error\">" + EscapeHtml(error.message) +
                "</p>\n</body></html>\n"};
  }
  const std::vector<SearchResult> results = catalog.Search(query);
  if (json) return {200, "application/json", ResultsJson(query, results, catalog.FileCount())};
  return {200, "text/html; charset=utf-8", ResultsHtml(query, results, catalog.FileCount())};
}
