#pragma once
// The web search for similar sounds: the query URL built from a region's signature and the
// user's choices, and the browser started on it (also used for the help page).
#include <string>
#include <vector>

#include "analysis/SoundSignature.h"

struct WebSearchChoices {
  bool aiff = true, au = true, wave = true;
  bool flac = true, ogg = true, opus = true, m4a = true;
  bool mono = true, stereo = true;
  std::string resolution = "8-bit";
  std::string rate = "8000 Hz";
  std::string size = "2 MB";
};

// The search service's base URL when the settings name none (key "SearchURL").
inline constexpr const char* kDefaultSearchUrl = "http://127.0.0.1:8642/ISAPI/search.dll";

// base "?sig=" 32 hex digits, then the format, channel, resolution, rate and size keys.
std::string BuildSearchUrl(const WebSearchChoices& choices, const std::string& baseUrl,
                           const SoundSignature& signature);

// The argument vector a browser command template gives for url: a template that does not begin
// with '"' is quoted up to and including its first ".exe" and its first ".EXE"; the first "%1"
// is replaced by the url, else the url is appended after a blank. The line is then split into
// words at blanks outside double quotes (the quotes removed). Empty template: empty result.
std::vector<std::string> BrowserCommandLine(const std::string& commandTemplate, const std::string& url);

// Starts the browser on url without a shell and without waiting for it: the template from
// $BROWSER when set (several templates separated by ':' are tried in turn), else "xdg-open".
// False when no process could be started.
bool LaunchBrowser(const std::string& url);

// The text shown when LaunchBrowser fails.
inline constexpr const char* kBrowserFailureText = "Could not launch web browser";
