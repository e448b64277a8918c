// tintwave-cli recover: a session killed after its edits reached the journal is listed, and
// recovering it gives the file the same edits give as an edit script.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "editor/Document.h"
#include "tests/cli/CliTestSupport.h"

namespace {
using namespace cli_test;

class RecoverCommand : public SoxFixture {};

TEST_F(RecoverCommand, AKilledSessionIsListedAndRecoversAsItsScriptEdits) {
  const std::string input = Make("in.wav", "-r 22050 -c 2 -b 16", "synth 2 sine 300:3000 sine 500");
  const std::string journals = dir / "journals";
  const pid_t child = ::fork();
  if (child == 0) {
    DocumentOptions options;
    options.devices = nullptr;
    options.correctDC = false;
    options.recoveryDir = journals;
    EditorDocument doc(options, nullptr, nullptr);
    if (!doc.Open(input, nullptr, 1000, 200)) _exit(2);
    doc.Editor()->Select(0.25, 1.5);
    doc.Reverse();
    doc.FadeIn();
    doc.Editor()->Select(0.5, 0.75);
    doc.Copy();
    doc.Editor()->Select(1.0, 1.0);
    doc.Paste();
    doc.Undo();
    doc.Redo();
    doc.Editor()->Select(0, 0.5);
    doc.Cut();
    doc.Journal()->Flush();
    ::raise(SIGKILL);
  }
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);

  const CliRun list = RunCli("recover --list --dir " + journals);
  ASSERT_EQ(list.status, 0) << list.err;
  const std::vector<std::string> lines = Lines(list.out);
  ASSERT_EQ(lines.size(), 1u) << list.out;
  const std::string journal = lines[0].substr(0, lines[0].find('\t'));
  EXPECT_NE(lines[0].find("\t" + input + "\t7 edits\t"), std::string::npos) << lines[0];

  {
    std::ofstream script(dir / "script");
    script << "select 0.25 1.5\nreverse\nfade-in\nselect 0.5 0.75\ncopy\ncursor 1.0\npaste\nundo\nredo\n"
              "select 0 0.5\ncut\n";
  }
  const std::string expected = dir / "expected.wav", recovered = dir / "recovered.wav";
  ASSERT_EQ(RunCli("edit " + input + " " + expected + " " + std::string(dir / "script") + " --encoding 20").status, 0);
  const CliRun recover = RunCli("recover " + journal + " " + recovered + " --encoding 20");
  ASSERT_EQ(recover.status, 0) << recover.err;
  EXPECT_EQ(recover.out, "7 edits recovered into " + recovered + "\n");
  EXPECT_EQ(CliFloats(recovered), CliFloats(expected));
  // Recovered and so gone; a journal that is not one is refused.
  EXPECT_EQ(RunCli("recover --list --dir " + journals).out, "");
  const CliRun bad = RunCli("recover " + input + " " + recovered);
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("not an edit journal"), std::string::npos) << bad.err;
}

}  // namespace
