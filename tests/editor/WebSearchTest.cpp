#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "editor/WebSearch.h"

namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

const std::string kBase = "http://example.org/ISAPI/search.dll";

SoundSignature TestSignature() {
  SoundSignature s;
  const std::uint8_t b[16] = {0x00, 0x01, 0x0a, 0xff, 0x10, 0x7f, 0x80, 0xab,
                              0xcd, 0xef, 0x09, 0x90, 0x55, 0xaa, 0x3c, 0x20};
  for (int i = 0; i < 16; ++i) s.bytes[i] = b[i];
  return s;
}
const std::string kSig = "?sig=00010aff107f80abcdef099055aa3c20";

TEST(WebSearch, SearchUrlKeysInOrderWithExactTexts) {
  auto with = [](auto change) {
    WebSearchChoices c;
    change(c);
    return c;
  };
  const struct {
    WebSearchChoices choices;
    std::string query;
  } cases[] = {
      {{}, "&maxsize=2097152"},
      {with([](auto& c) {
         c.aiff = c.au = c.stereo = false;
         c.resolution = "16-bit", c.rate = "44100 Hz", c.size = "1 MB";
       }),
       "&format=wave&format=flac&format=ogg&format=opus&format=m4a&channels=mono&minres=16&minrate=44100&maxsize=1048576"},
      {with([](auto& c) { c.aiff = c.au = c.wave = false; }),
       "&format=flac&format=ogg&format=opus&format=m4a&maxsize=2097152"},
      // No format wanted is no format key, as every format wanted is.
      {with([](auto& c) { c.aiff = c.au = c.wave = c.flac = c.ogg = c.opus = c.m4a = false; }), "&maxsize=2097152"},
      {with([](auto& c) { c.aiff = c.au = c.wave = c.ogg = c.opus = c.m4a = false; }), "&format=flac&maxsize=2097152"},
      {with([](auto& c) { c.au = false, c.mono = false; }),
       "&format=aiff&format=wave&format=flac&format=ogg&format=opus&format=m4a&channels=stereo&maxsize=2097152"},
      {with([](auto& c) { c.mono = c.stereo = false, c.size = "16k"; }), "&maxsize=16384"},
      {with([](auto& c) { c.rate = "48000 Hz", c.resolution = "32-bit", c.size = "4 MB"; }),
       "&minres=32&minrate=48000&maxsize=4194304"},
      // Typed texts match only exactly.
      {with([](auto& c) { c.rate = "48000", c.resolution = "16-Bit", c.size = "2MB"; }), ""},
      {with([](auto& c) { c.rate = " 96000 Hz", c.resolution = "24-bit", c.size = "512k"; }),
       "&minres=24&maxsize=524288"},
  };
  for (const auto& t : cases)
    EXPECT_EQ(BuildSearchUrl(t.choices, kBase, TestSignature()), kBase + kSig + t.query) << t.query;
  EXPECT_EQ(BuildSearchUrl({}, "", SoundSignature{}), "?sig=" + std::string(32, '0') + "&maxsize=2097152");
}

TEST(WebSearch, CommandTemplateQuotingAndUrlPlacement) {
  const std::string url = "http://h/x?sig=00&a=1";
  const struct {
    std::string commandTemplate;
    Words words;
  } cases[] = {
      {"firefox --new-tab %1", {"firefox", "--new-tab", url}},
      {"firefox %1", {"firefox", url}},
      {"firefox", {"firefox", url}},
      {"  firefox   -P  work ", {"firefox", "-P", "work", url}},
      {"\"/opt/My Browser/run\" -url \"%1\"", {"/opt/My Browser/run", "-url", url}},
      {"\"C:\\a b\\x.exe\" %1 %1", {"C:\\a b\\x.exe", url, "%1"}},
      {"C:\\Program Files\\Web\\web.exe -nohome %1", {"C:\\Program Files\\Web\\web.exe", "-nohome", url}},
      {"C:\\Program Files\\Web\\WEB.EXE %1", {"C:\\Program Files\\Web\\WEB.EXE", url}},
      // Both get a closing quote: the quote after ".EXE" closes the path, the one after ".exe"
      // opens a quote that runs to the end of the line.
      {"C:\\A B\\w.EXE -x c.exe -y %1", {"C:\\A B\\w.EXE", "-x", "c.exe -y " + url}},
      {"opener --url=%1", {"opener", "--url=" + url}},
      {"prog \"\" %1", {"prog", "", url}},
      {"", {}},
      {"   ", {}},
  };
  for (const auto& t : cases)
    EXPECT_EQ(BrowserCommandLine(t.commandTemplate, url), t.words) << t.commandTemplate;

  for (const std::string& odd : Words{"http://h/a b?q=\"x\" y", "\"", "", "%1"}) {
    EXPECT_EQ(BrowserCommandLine("b %1 -z", odd), (Words{"b", odd, "-z"})) << odd;
    EXPECT_EQ(BrowserCommandLine("\"b\"", odd), (Words{"b", odd})) << odd;
  }
}

// Sets or clears environment variables for one test and puts the old values back.
class EnvGuard {
 public:
  void Set(const char* name, const std::optional<std::string>& value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) setenv(name, value->c_str(), 1);
    else unsetenv(name);
  }
  ~EnvGuard() {
    for (const auto& [name, value] : saved_) {
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

class WebSearchLaunch : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tintwave-websearch-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A fake browser of shell built-ins only (PATH may be changed): one argument a line plus the
  // parent's pid, then a marker once the file is complete.
  std::string Script(const std::string& name) {
    const fs::path path = dir_ / name;
    std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' \"$PPID\" \"$@\" > '" << (dir_ / "args").string()
                        << "'\n: > '" << (dir_ / "done").string() << "'\n";
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
  }

  // The fake browser's arguments, the parent pid first; empty when it never ran.
  Words Received() {
    for (int i = 0; i < 1000 && !fs::exists(dir_ / "done"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Words lines;
    std::ifstream in(dir_ / "args");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  fs::path dir_;
  EnvGuard env_;
};

TEST_F(WebSearchLaunch, BrowserVariableTemplatesAreTriedInTurn) {
  const std::string url = "http://h/s?sig=ab&format=wave";
  const std::string pid = std::to_string(getpid());
  const std::string script = Script("fake browser");  // a blank in the path, quoted in the template
  const std::string quoted = "\"" + script + "\"";
  env_.Set("BROWSER", dir_.string() + "/missing:" + quoted + " --new-tab %s");
  ASSERT_TRUE(LaunchBrowser(url));
  const Words got = Received();
  ASSERT_EQ(got.size(), 3u);
  // Started through an intermediate process that does not wait: never our own child.
  EXPECT_NE(got[0], pid);
  EXPECT_EQ(Words(got.begin() + 1, got.end()), (Words{"--new-tab", url}));

  fs::remove(dir_ / "done");
  const std::string odd = "http://h/a b?c='d' \"e\" $(f) `g`";
  env_.Set("BROWSER", ":" + quoted + " -u=%1 last");
  ASSERT_TRUE(LaunchBrowser(odd));
  const Words again = Received();
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(Words(again.begin() + 1, again.end()), (Words{"-u=" + odd, "last"}));
}

TEST_F(WebSearchLaunch, FailsWhenNoProgramStarts) {
  const fs::path plain = dir_ / "not-executable";
  std::ofstream(plain) << "#!/bin/sh\n";
  fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
  for (const std::string& browser :
       Words{dir_.string() + "/missing", "tintwave-no-such-browser %s", plain.string(), ":", "  "}) {
    env_.Set("BROWSER", browser);
    EXPECT_FALSE(LaunchBrowser("http://h/")) << browser;
  }
}

TEST_F(WebSearchLaunch, WithoutBrowserVariableXdgOpenIsStarted) {
  Script("xdg-open");
  env_.Set("PATH", dir_.string());
  for (const std::optional<std::string>& browser : {std::optional<std::string>(), std::optional<std::string>("")}) {
    fs::remove(dir_ / "done");
    env_.Set("BROWSER", browser);
    ASSERT_TRUE(LaunchBrowser("http://h/q"));
    const Words got = Received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], "http://h/q");
  }
  env_.Set("PATH", (dir_ / "empty").string());
  EXPECT_FALSE(LaunchBrowser("http://h/q"));
}

}  // namespace
