// What the document tells the user about its file and its changes: an opening failure names the
// file, a WAVE file cut short says how much is missing, a recording marks the title.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/editor/EditorTestSupport.h"

namespace {
using namespace editor_test;
namespace fs = std::filesystem;

TEST(DocumentMessages, FileProblemsNameTheFileAndARecordingMarksTheTitle) {
  const fs::path dir = fs::temp_directory_path() / ("tintwave-messages-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string full = (dir / "full.wav").string(), cut = (dir / "cut.wav").string();
  if (std::system(("sox -V1 -n -r 22050 -c 1 -b 16 " + full + " synth 3 sine 440").c_str()) != 0)
    GTEST_SKIP() << "sox is not installed";
  {
    // 44 header bytes and 12,478 frames of the 66,150 the header announces.
    std::ifstream in(full, std::ios::binary);
    std::vector<char> bytes(25000);
    in.read(bytes.data(), std::streamsize(bytes.size()));
    std::ofstream(cut, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  }
  std::ofstream(dir / "junk.wav") << "not a sound file at all";
  struct Case {
    std::string path;
    bool opens;
    std::string warning;  // the start of the only warning; empty: none
  } cases[] = {
      {full, true, ""},
      {cut, true, "cut.wav ends at 0:00.566 of the 0:03.000 its header gives"},
      {(dir / "junk.wav").string(), false, "junk.wav: "},
      {(dir / "missing.wav").string(), false, "missing.wav: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Rig rig;
    EXPECT_EQ(rig.Open(c.path), c.opens);
    if (c.warning.empty()) {
      EXPECT_TRUE(rig.frame.warnings.empty());
      continue;
    }
    ASSERT_EQ(rig.frame.warnings.size(), 1u);
    EXPECT_EQ(rig.frame.warnings[0].substr(0, c.warning.size()), c.warning) << rig.frame.warnings[0];
    // The error text stays the editor's own: the command-line tool adds the path itself.
    if (!c.opens) EXPECT_EQ(rig.document->ErrorText().find("wav: "), std::string::npos);
  }

  // A float file says so in the format pane.
  const std::string floats = (dir / "float.wav").string();
  ASSERT_EQ(std::system(("sox -V1 -n -r 8000 -c 1 -e floating-point -b 32 " + floats + " synth 0.1 sine 440").c_str()), 0);
  Rig floatRig;
  ASSERT_TRUE(floatRig.Open(floats));
  EXPECT_EQ(floatRig.frame.panes[3], "32-bit float");

  Rig rig;
  ASSERT_TRUE(rig.Open(full));
  rig.Editor()->SelectAll();
  ASSERT_TRUE(rig.document->Record());
  rig.Run(2000);
  rig.Editor()->Stop();
  EXPECT_EQ(rig.document->Title(), "full.wav* (0:03.000)");
  ASSERT_TRUE(rig.document->Undo());
  EXPECT_EQ(rig.document->Title(), "full.wav (0:03.000)");
  fs::remove_all(dir);
}

}  // namespace
