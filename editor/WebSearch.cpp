#include "editor/WebSearch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

struct TextKey {
  const char* text;
  const char* key;
};

constexpr TextKey kResolutionKeys[] = {
    {"16-bit", "&minres=16"}, {"24-bit", "&minres=24"}, {"32-bit", "&minres=32"}};

constexpr TextKey kRateKeys[] = {{"11025 Hz", "&minrate=11025"}, {"22050 Hz", "&minrate=22050"},
                                 {"44100 Hz", "&minrate=44100"}, {"48000 Hz", "&minrate=48000"},
                                 {"96000 Hz", "&minrate=96000"}};

constexpr TextKey kSizeKeys[] = {
    {"8 MB", "&maxsize=8388608"}, {"4 MB", "&maxsize=4194304"}, {"2 MB", "&maxsize=2097152"},
    {"1 MB", "&maxsize=1048576"}, {"512k", "&maxsize=524288"},  {"256k", "&maxsize=262144"},
    {"128k", "&maxsize=131072"},  {"64k", "&maxsize=65536"},    {"32k", "&maxsize=32768"},
    {"16k", "&maxsize=16384"}};

// Exact comparison: case and blanks matter, an unknown text adds nothing.
template <std::size_t N>
void AppendKey(std::string& url, const std::string& text, const TextKey (&table)[N]) {
  for (const TextKey& entry : table) {
    if (text == entry.text) {
      url += entry.key;
      return;
    }
  }
}

// Inserts a '"' right after the first occurrence of extension, when there is one.
bool CloseQuoteAfter(std::string& line, const char* extension) {
  const std::size_t at = line.find(extension);
  if (at == std::string::npos) return false;
  line.insert(at + std::strlen(extension), 1, '"');
  return true;
}

// Runs argv[0] (looked up on PATH) with argv as its arguments, detached: an intermediate child
// forks the program and exits at once, so the program is adopted by init and never becomes our
// zombie. A close-on-exec pipe carries an errno back when the fork or the exec fails; it reaches
// end of file without data once the program is running. Returns 0 or the errno of the failure.
int SpawnDetached(const std::vector<std::string>& args) {
  if (args.empty() || args[0].empty()) return ENOENT;
  // Everything the children need is built here: after fork only async-signal-safe calls follow.
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return errno;

  const pid_t middle = fork();
  if (middle < 0) {
    const int err = errno;
    close(report[0]);
    close(report[1]);
    return err;
  }
  if (middle == 0) {
    close(report[0]);
    const pid_t program = fork();
    if (program == 0) {
      // A session of its own: the terminal's Ctrl+C or hang-up for the editor spares the browser.
      setsid();
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      signal(SIGPIPE, SIG_DFL);
      execvp(argv[0], argv.data());
      int err = errno;
      (void)!write(report[1], &err, sizeof err);
      _exit(127);
    }
    if (program < 0) {
      int err = errno;
      (void)!write(report[1], &err, sizeof err);
      _exit(1);
    }
    _exit(0);
  }

  close(report[1]);
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // (With SIGCHLD ignored the wait fails with ECHILD; the pipe still tells the outcome.)
  int err = 0;
  std::size_t got = 0;
  while (got < sizeof err) {
    const ssize_t n = read(report[0], reinterpret_cast<char*>(&err) + got, sizeof err - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += std::size_t(n);
  }
  close(report[0]);
  if (got == 0) return 0;
  return err != 0 ? err : EIO;
}

// $BROWSER follows the usual convention: "%s" stands for the URL. It is read as "%1" unless the
// entry already uses "%1".
std::string BrowserEntryTemplate(std::string entry) {
  if (entry.find("%1") == std::string::npos) {
    const std::size_t at = entry.find("%s");
    if (at != std::string::npos) entry.replace(at, 2, "%1");
  }
  return entry;
}

}  // namespace

std::string BuildSearchUrl(const WebSearchChoices& choices, const std::string& baseUrl,
                           const SoundSignature& signature) {
  static const char kDigits[] = "0123456789abcdef";
  std::string url = baseUrl;
  url += "?sig=";
  for (int i = 0; i < 16; ++i) {
    url += kDigits[signature.bytes[i] >> 4];
    url += kDigits[signature.bytes[i] & 15];
  }
  // No format key while every format is wanted.
  const std::pair<bool, const char*> formats[] = {{choices.aiff, "aiff"}, {choices.au, "au"},     {choices.wave, "wave"},
                                                  {choices.flac, "flac"}, {choices.ogg, "ogg"},   {choices.opus, "opus"},
                                                  {choices.m4a, "m4a"}};
  if (!std::all_of(std::begin(formats), std::end(formats), [](const auto& f) { return f.first; }))
    for (const auto& [wanted, key] : formats)
      if (wanted) url += std::string("&format=") + key;
  if (choices.mono && !choices.stereo) url += "&channels=mono";
  if (choices.stereo && !choices.mono) url += "&channels=stereo";
  AppendKey(url, choices.resolution, kResolutionKeys);
  AppendKey(url, choices.rate, kRateKeys);
  AppendKey(url, choices.size, kSizeKeys);
  return url;
}

std::vector<std::string> BrowserCommandLine(const std::string& commandTemplate, const std::string& url) {
  std::vector<std::string> words;
  if (commandTemplate.find_first_not_of(" \t") == std::string::npos) return words;

  // An unquoted program path is quoted up to its ".exe" (a path with blanks followed by options).
  // The opening quote goes in only together with a closing one: on its own it would swallow the
  // whole line, "firefox %1" becoming a single word.
  std::string line = commandTemplate;
  if (line[0] != '"') {
    std::string quoted = '"' + line;
    const bool lower = CloseQuoteAfter(quoted, ".exe");
    const bool upper = CloseQuoteAfter(quoted, ".EXE");
    if (lower || upper) line = std::move(quoted);
  }

  // The URL goes in at the first "%1" as it stands, so its blanks and quotes never split it.
  const std::size_t placeholder = line.find("%1");
  std::string word;
  bool inWord = false, inQuotes = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (i == placeholder) {
      word += url;
      inWord = true;
      ++i;
    } else if (c == '"') {
      inQuotes = !inQuotes;
      inWord = true;  // "" is an empty argument
    } else if ((c == ' ' || c == '\t') && !inQuotes) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  if (placeholder == std::string::npos) words.push_back(url);
  return words;
}

bool LaunchBrowser(const std::string& url) {
  const char* browser = std::getenv("BROWSER");
  if (browser == nullptr || *browser == '\0') return SpawnDetached({"xdg-open", url}) == 0;

  const std::string list = browser;
  std::size_t from = 0;
  while (from <= list.size()) {
    std::size_t to = list.find(':', from);
    if (to == std::string::npos) to = list.size();
    const std::vector<std::string> args =
        BrowserCommandLine(BrowserEntryTemplate(list.substr(from, to - from)), url);
    if (!args.empty() && SpawnDetached(args) == 0) return true;
    from = to + 1;
  }
  return false;
}
