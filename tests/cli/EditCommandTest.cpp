// tintwave-cli edit: scripts of editor commands on sox-made files, each result compared with sox's
// own effect or with a slicing of sox's decoding; the status panes, the web search URL, paste
// between documents, and scripts that fail without touching the output.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <regex>

#include "editor/WebSearch.h"
#include "tests/cli/CliTestSupport.h"

namespace {

using namespace cli_test;

constexpr int kRate = 22050;       // the source: 3 s of stereo 16-bit
constexpr double kStep = 1.0 / 32768 + 1e-7;  // one 16-bit step

using Floats = std::vector<float>;
// Frames [from, to) seconds of an interleaved stereo decoding.
Floats Part(const Floats& in, double from, double to) {
  const std::size_t a = std::size_t(from * kRate) * 2, b = std::min(in.size(), std::size_t(to * kRate) * 2);
  return Floats(in.begin() + std::ptrdiff_t(a), in.begin() + std::ptrdiff_t(b));
}
Floats Join(std::initializer_list<Floats> parts) {
  Floats all;
  for (const Floats& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class EditScript : public SoxFixture {
protected:
  void SetUp() override {
    SoxFixture::SetUp();
    if (IsSkipped()) return;
    source = Make("source.wav", "-r 22050 -c 2 -b 16", "synth 3 sine 440 sine 660 vol 0.5");
    original = SoxFloats(source);
  }
  CliRun Edit(const std::string& in, const std::string& out, const std::string& script,
              const std::string& options = "") {
    std::ofstream(dir / "script.txt") << script;
    return RunCli("edit " + in + " " + out + " " + dir / "script.txt" + options);
  }
  std::string source;
  Floats original;
};

struct Case {
  const char* script;
  const char* soxEffect;                     // the same change made by sox, or null
  std::function<Floats(const Floats&)> expect;  // else the change made on sox's decoding
  double tolerance;
};

TEST_F(EditScript, EditsEqualSoxsEffectsOrSlicesOfItsDecoding) {
  const Case cases[] = {
      {"select 1 2\ndelete\n", "trim 0 =1 =2", nullptr, 0},
      {"select 1 2\ntrim\n", "trim 1 1", nullptr, 0},
      {"reverse\n", "reverse", nullptr, 0},
      {"volume 50\n", "vol 0.5", nullptr, kStep},
      {"normalize\n", "gain -n", nullptr, kStep},
      {"fade-in\n", "fade t 3", nullptr, kStep},
      {"fade-out\n", "fade t 0 3 3", nullptr, kStep},
      {"cursor 1\ninsert-silence 0.5\n", "pad 0.5@1", nullptr, 0},
      {"reverse\nundo\nredo\n", "reverse", nullptr, 0},
      {"# undo gives the input back exactly\nvolume 50\nundo\n", nullptr, [](const Floats& in) { return in; }, 0},
      {"select 1 2\nmute\n", nullptr,
       [](const Floats& in) { return Join({Part(in, 0, 1), Floats(2 * kRate, 0.0f), Part(in, 2, 3)}); }, 0},
      {"select 1 2\ncut\ncursor 0\npaste\n", nullptr,
       [](const Floats& in) { return Join({Part(in, 1, 2), Part(in, 0, 1), Part(in, 2, 3)}); }, 0},
      // Without a selection the clipboard is mixed in at the cursor.
      {"select 2 3\ncopy\ncursor 0\nmix 50 50\n", nullptr,
       [](const Floats& in) {
         Floats out = in;
         for (std::size_t i = 0; i < 2u * kRate; ++i) out[i] = 0.5f * in[i] + 0.5f * in[i + 4u * kRate];
         return out;
       },
       kStep},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const std::string out = dir / "edited.wav";
    const CliRun run = Edit(source, out, c.script);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    Floats expected;
    if (c.soxEffect) {
      ASSERT_TRUE(RunQuietly("sox -V1 -D " + source + " " + dir / "sox.wav " + c.soxEffect));
      expected = SoxFloats(dir / "sox.wav");
    } else {
      expected = c.expect(original);
    }
    const Floats edited = SoxFloats(out);
    ASSERT_EQ(edited.size(), expected.size());
    for (std::size_t i = 0; i < edited.size(); ++i) ASSERT_NEAR(edited[i], expected[i], c.tolerance) << "sample " << i;
  }
  // The input is never the output: the edit is refused and the file stays as it was.
  EXPECT_EQ(Edit(source, source, "reverse\n").status, 1);
  EXPECT_EQ(SoxFloats(source), original);
}

TEST_F(EditScript, StatusPrintsTheElevenPanes) {
  struct File { const char* options; const char* channels; const char* bits; const char* rate; };
  for (const File& f : {File{"-r 22050 -c 2 -b 16", "stereo", "16-bit", "22050 Hz"},
                        File{"-r 8000 -c 1 -b 24", "mono", "24-bit", "8000 Hz"}}) {
    SCOPED_TRACE(f.options);
    const std::string in = Make("panes.wav", f.options, "synth 3 sine 300");
    const CliRun run = Edit(in, dir / "out.wav", "status\nselect 1 2.5\npitch 2\nstatus\n");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 22u) << run.out;
    for (int i = 0; i < 22; ++i) EXPECT_EQ(lines[i].rfind("pane " + std::to_string(i % 11) + ": ", 0), 0u) << lines[i];
    EXPECT_EQ(lines[2], std::string("pane 2: ") + f.channels);
    EXPECT_EQ(lines[3], std::string("pane 3: ") + f.bits);
    EXPECT_EQ(lines[4], std::string("pane 4: ") + f.rate);
    EXPECT_EQ(lines[5], "pane 5: Normal");
    EXPECT_EQ(lines[6], "pane 6: 0:00.000");
    EXPECT_EQ(lines[7], "pane 7: 0:03.000");
    EXPECT_EQ(lines[8], "pane 8: ");
    // Shifting the pitch keeps the same samples selected; the unshifted rate stays in pane 4.
    EXPECT_EQ(lines[11 + 4], std::string("pane 4: ") + f.rate);
    EXPECT_EQ(lines[11 + 5], "pane 5: +2 halftones");
    EXPECT_NE(lines[11 + 10], "pane 10: ");
  }
}

TEST_F(EditScript, WebUrlCarriesTheSignatureOfTheRegion) {
  struct Region { const char* select; std::string signatureArgs; };
  for (const Region& r : {Region{"select 1 2\n", " --start 22050s --count 22050s"}, Region{"", ""}}) {
    SCOPED_TRACE(r.select);
    const CliRun run = Edit(source, dir / "out.wav", std::string(r.select) + "web-url\n");
    ASSERT_EQ(run.status, 0) << run.err;
    std::smatch digits;
    const std::regex url(std::regex_replace(kDefaultSearchUrl, std::regex("[.?]"), "\\$&") +
                         "\\?sig=([0-9a-f]{32})&maxsize=2097152\n");
    ASSERT_TRUE(std::regex_match(run.out, digits, url)) << run.out;
    EXPECT_EQ(digits[1].str() + "\n", RunCli("signature " + source + r.signatureArgs).out);
  }
  // A region longer than 10 s is refused with the application's warning, and the script goes on.
  const std::string longer = Make("long.wav", "-r 8000 -c 1 -b 16", "synth 12 sine 300");
  const CliRun run = Edit(longer, dir / "out.wav", "select 0 10.5\nweb-url\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("warning: Please select a region that is 10 seconds", 0), 0u) << run.err;
}

TEST_F(EditScript, PasteGoesIntoTheActiveDocumentAtItsRate) {
  const std::string other = Make("other.wav", "-r 44100 -c 1 -b 16", "synth 1 sine 1000 vol 0.5");
  const CliRun run = Edit(source, dir / "out.wav", "open " + other + "\nselect-all\ncopy\nswitch 1\npaste\n");
  ASSERT_EQ(run.status, 0) << run.err;
  const Floats out = SoxFloats(dir / "out.wav");
  // One second at 22,050 Hz on both channels before the untouched source.
  ASSERT_EQ(out.size(), original.size() + 2u * kRate);
  EXPECT_TRUE(std::equal(original.begin(), original.end(), out.begin() + 2 * kRate));
  float peak = 0;
  for (std::size_t i = 0; i < 2u * kRate; i += 2) {
    ASSERT_EQ(out[i], out[i + 1]) << i;
    peak = std::max(peak, std::abs(out[i]));
  }
  EXPECT_NEAR(peak, 0.5, 0.01);
  // The second document is not saved; pasting into it leaves the file as it was.
  ASSERT_EQ(Edit(source, dir / "out.wav", "select 0 1\ncopy\nopen " + other + "\npaste\n").status, 0);
  EXPECT_EQ(SoxFloats(dir / "out.wav"), original);
  EXPECT_EQ(Capture("soxi -s " + other), "44100");
}

TEST_F(EditScript, DisabledCommandsAreSkippedAndMistakesSaveNothing) {
  const std::string out = dir / "out.wav";
  CliRun run = Edit(source, out, "cut\nundo\nselect-all\ntrim\nselect 0 1\ncut\nredo\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "disabled: cut\ndisabled: undo\ndisabled: trim\ndisabled: redo\n");
  EXPECT_EQ(SoxFloats(out), Part(original, 1, 3));

  std::ofstream(out) << "the old file";
  const std::pair<std::string, std::string> mistakes[] = {
      {"reverse\nfrobnicate\n", "line 2: unknown command 'frobnicate'"},
      {"volume 201\n", "line 1: volume takes a percentage from 0 to 200"},
      {"select 1\n", "line 1: select takes two times (1.5, 0:01.500 or 66150s)"},
      {"cursor 0:75\n", "line 1: cursor takes a time (1.5, 0:01.500 or 66150s)"},
      {"\n# comment\nmix 50\n", "line 3: mix takes two levels from 0 to 100 (clipboard %, waveform %)"},
      {"cut extra\n", "line 1: cut takes no arguments"},
      {"change-pitch 37\n", "line 1: change-pitch takes halftones from -36 to 36 (decimals are cents)"},
      {"change-tempo -100\n", "line 1: change-tempo takes a tempo change from -90 to 900 percent (+100: twice as fast)"},
      {"reverse\nselect 1 4\n", "line 2: 4 s lies beyond the end of the document (0:03.000)"},
      {"switch 2\n", "line 1: there is no document 2 (1 open)"},
      {"open " + dir / "missing.wav" + "\n", "line 1: " + dir / "missing.wav" + ": Could not open file (No such file or directory)"},
  };
  for (const auto& [script, message] : mistakes) {
    SCOPED_TRACE(script);
    run = Edit(source, out, script);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "error: " + dir / "script.txt" + ": " + message + "\n");
    EXPECT_EQ(ReadText(out), "the old file");
  }
  // A save that fails (AU holds no float) leaves the old file; misuse exits 2.
  run = Edit(source, out, "reverse\n", " --type au --encoding 20");
  EXPECT_EQ(run.err, "error: " + out + ": Compression type not supported for output\n");
  EXPECT_EQ(ReadText(out), "the old file");
  EXPECT_EQ(RunCli("edit " + source + " " + out).status, 2);
  EXPECT_EQ(Edit(source, out, "", " --type vox").status, 2);
}

}  // namespace
