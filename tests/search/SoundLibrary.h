#pragma once
// A small sound library made by sox and espeak-ng during the test run: tones, sweeps, noises,
// a pluck and speech at several rates, channel counts, resolutions and formats, in folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "editor/Document.h"
#include "formats/FormatCodes.h"
#include "tests/formats/TestSupport.h"

namespace search_test {

using formats_test::RunQuietly;
using formats_test::TempDir;

struct LibrarySound {
  std::string name;  // path under the library folder
  int format, channels, bits, rate;
  std::string options;  // sox output options
  std::string effects;  // sox synth effects; empty: speech from espeak-ng
};

inline const std::vector<LibrarySound>& LibrarySounds() {
  static const std::vector<LibrarySound> sounds = {
      {"tones/a440.wav", FileFormatWave, 2, 16, 44100, "-b 16", "synth 3 sine 440"},
      {"tones/b3000.aiff", FileFormatAiff, 1, 16, 22050, "-b 16", "synth 2.5 sine 3000"},
      {"tones/square300.au", FileFormatAu, 1, 16, 8000, "-b 16 -e signed", "synth 3 square 300"},
      {"sweeps/chirp.wav", FileFormatWave, 1, 24, 48000, "-b 24", "synth 4 sine 100:4000"},
      {"sweeps/high.au", FileFormatAu, 2, 8, 11025, "-b 8 -e signed", "synth 3 sine 5000:4000"},
      {"noise/white.wav", FileFormatWave, 1, 8, 22050, "-b 8", "synth 2 whitenoise vol 0.5"},
      {"noise/brown.aiff", FileFormatAiff, 2, 24, 44100, "-b 24", "synth 3 brownnoise vol 0.5"},
      {"pluck.wav", FileFormatWave, 1, 16, 16000, "-b 16", "synth 3 pluck A3"},
      {"voice/speech.wav", FileFormatWave, 1, 16, 22050, "-b 16", ""},
  };
  return sounds;
}

inline bool HaveEspeak() {
  static const bool have = RunQuietly("command -v espeak-ng");
  return have;
}

// Makes the library under folder; false (with a failure recorded) when a tool failed.
inline bool MakeLibrary(const std::string& folder) {
  for (const LibrarySound& s : LibrarySounds()) {
    const std::filesystem::path path = std::filesystem::path(folder) / s.name;
    std::filesystem::create_directories(path.parent_path());
    const std::string out = "-r " + std::to_string(s.rate) + " -c " + std::to_string(s.channels) + " " + s.options;
    std::string command;
    if (s.effects.empty()) {
      const std::string spoken = path.string() + ".espeak.wav";
      if (!RunQuietly("espeak-ng -w '" + spoken + "' 'The quick brown fox jumps over the lazy dog, twice.'")) {
        ADD_FAILURE() << "espeak-ng failed";
        return false;
      }
      command = "sox -V1 -D '" + spoken + "' " + out + " '" + path.string() + "' && rm '" + spoken + "'";
    } else {
      command = "sox -V1 -D -n " + out + " '" + path.string() + "' " + s.effects;
    }
    if (!RunQuietly(command)) {
      ADD_FAILURE() << command;
      return false;
    }
  }
  return true;
}

// The signature of a region as the editor's web search sends it: the file opened as a document,
// the region selected, the URL built from the choices.
inline std::string EditorSearchUrl(const std::string& path, double from, double to, const WebSearchChoices& choices = {},
                                   const std::string& base = kDefaultSearchUrl) {
  DocumentOptions options;
  options.devices = nullptr;
  options.browser = [](const std::string&) { return false; };
  EditorDocument document(options, nullptr, nullptr);
  EXPECT_TRUE(document.Open(path, nullptr, 1000, 200)) << path << ": " << document.ErrorText();
  if (!document.Editor()) return {};
  document.Editor()->Select(from, to);
  return document.Editor()->SearchUrl(choices, base);
}

class LibraryFixture : public testing::Test {
protected:
  void SetUp() override {
    if (!formats_test::HaveSox()) GTEST_SKIP() << "sox is not installed";
    if (!HaveEspeak()) GTEST_SKIP() << "espeak-ng is not installed";
    library = dir / "library";
    ASSERT_TRUE(MakeLibrary(library));
  }
  TempDir dir;
  std::string library;
};

}  // namespace search_test
