// Opening a file and saving it unedited, with the default preferences, gives back exactly the
// samples it had, for every lossless type and encoding the editor writes. Sources are made by sox
// from the same 16-bit sweep; both files are decoded by sox to compare.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "editor/Document.h"
#include "tests/editor/EditorTestSupport.h"

namespace {
namespace fs = std::filesystem;

bool Shell(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()) == 0; }

// The file's samples as sox decodes them: 32-bit integers, exact for every encoding here.
std::string Decoded(const fs::path& file) {
  const fs::path raw = file.string() + ".s32";
  if (!Shell("sox '" + file.string() + "' -t s32 '" + raw.string() + "'")) return "sox could not read it";
  std::ifstream in(raw, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(OpenSave, AnUneditedSaveKeepsEverySampleWithTheDefaultPreferences) {
  if (!Shell("sox --version >/dev/null")) GTEST_SKIP() << "sox is not installed";
  const fs::path dir = fs::temp_directory_path() / ("tintwave-identity-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path sweep = dir / "sweep.wav";
  ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + sweep.string() + "' synth 3 sine 300:3000"));
  struct Case {
    const char* file;
    const char* soxOptions;
    int type, compression;
  } cases[] = {
      {"u8.wav", "-e unsigned -b 8", 1, 16},      {"s16.wav", "-e signed -b 16", 1, 17},
      {"s24.wav", "-e signed -b 24", 1, 18},      {"s32.wav", "-e signed -b 32", 1, 19},
      {"f32.wav", "-e floating-point -b 32", 1, 20}, {"ulaw.wav", "-e u-law", 1, 2},
      {"alaw.wav", "-e a-law", 1, 3},             {"s8.aiff", "-e signed -b 8", 3, 16},
      {"s16.aiff", "-e signed -b 16", 3, 17},     {"s24.aiff", "-e signed -b 24", 3, 18},
      {"s32.aiff", "-e signed -b 32", 3, 19},     {"s8.au", "-e signed -b 8", 2, 16},
      {"s16.au", "-e signed -b 16", 2, 17},       {"s24.au", "-e signed -b 24", 2, 18},
      {"ulaw.au", "-e u-law", 2, 2},              {"alaw.au", "-e a-law", 2, 3},
  };
  for (const Case& c : cases) {
    const fs::path source = dir / c.file;
    ASSERT_TRUE(Shell("sox -D '" + sweep.string() + "' " + c.soxOptions + " '" + source.string() + "'")) << c.file;
    editor_test::RecordingFrame frame;
    editor_test::ScriptedPrompts prompts;
    EditorDocument document(DocumentOptions{}, &frame, &prompts);
    ASSERT_TRUE(document.Open(source.string(), nullptr, 400, 100)) << c.file << ": " << document.ErrorText();
    const fs::path saved = dir / (std::string("saved-") + c.file);
    document.SetSaveSettings(c.type, 44100, 2, c.compression);
    ASSERT_TRUE(document.SaveUnder(saved.string())) << c.file << ": " << document.ErrorText();
    const std::string before = Decoded(source), after = Decoded(saved);
    ASSERT_GT(before.size(), 44100u * 2 * 4 * 2) << c.file;
    EXPECT_TRUE(before == after) << c.file << ": the saved samples differ from the opened ones";
  }
  fs::remove_all(dir);
}

}  // namespace
