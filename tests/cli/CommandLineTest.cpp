// The command line as a whole: outputs that are the input, errors that name the file, help and
// version, one time syntax, info from the header alone, decode to standard output and Ctrl+C.
#include <gtest/gtest.h>

#include <functional>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/cli/CliTestSupport.h"

namespace {

using namespace cli_test;

// Runs the tool with args (no shell) and its output to /dev/null; the exit status (128 + the
// signal when one ended it) and the child's own peak memory in KiB. stopAfter > 0: Ctrl+C
// (SIGINT) after that long.
struct Child {
  int status = -1;
  long peakKiB = 0;
};
Child RunChild(std::vector<std::string> args, std::chrono::milliseconds stopAfter = std::chrono::milliseconds(0),
               const std::function<bool()>& stopWhen = {}) {
  args.insert(args.begin(), TINTWAVE_CLI);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (stopAfter.count() > 0) {
    std::this_thread::sleep_for(stopAfter);
    ::kill(pid, SIGINT);
  } else if (stopWhen) {
    // Polled until it holds (or ten seconds pass), then Ctrl+C.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stopWhen() && std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    ::kill(pid, SIGINT);
  }
  int raw = 0;
  rusage usage{};
  ::wait4(pid, &raw, 0, &usage);
  Child child;
  child.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
  child.peakKiB = usage.ru_maxrss;
  return child;
}

// The dot files the safe saves leave while they write (".NAME.XXXXXX").
int TemporaryFiles(const std::string& directory) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    if (entry.path().filename().string()[0] == '.') ++n;
  return n;
}

TEST_F(SoxFixture, EveryWritingCommandRefusesItsInputAsOutputAndLeavesItAsItWas) {
  const std::string in = Make("in.wav", "-r 8000 -c 1 -b 16", "synth 0.5 sine 300");
  const std::string bytes = ReadText(in);
  std::filesystem::create_symlink(in, dir / "link.wav");
  std::filesystem::create_hard_link(in, dir / "hard.wav");
  std::ofstream(dir / "script.txt") << "reverse\n";
  const std::string outputs[] = {in, dir / "./in.wav", dir / "link.wav", dir / "hard.wav"};
  const std::string commands[] = {"decode IN OUT", "render IN OUT", "convert IN OUT", "convert IN OUT --type au",
                                  "edit IN OUT " + dir / "script.txt"};
  for (const std::string& command : commands)
    for (const std::string& out : outputs) {
      std::string args = command;
      args.replace(args.find("IN"), 2, in);
      args.replace(args.find("OUT"), 3, out);
      SCOPED_TRACE(args);
      const CliRun run = RunCli(args);
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err.rfind("error: " + out + ": the output is the input file", 0), 0u) << run.err;
      EXPECT_EQ(ReadText(in), bytes);
    }
  EXPECT_EQ(TemporaryFiles(dir / "."), 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.wav"));
}

TEST_F(SoxFixture, ErrorsNameTheFileAndEveryCommandAnswersHelp) {
  const std::string missing = dir / "nonexist.wav", out = dir / "out";
  const std::string reading[] = {"info", "decode", "convert", "blocks", "signature", "find", "render", "play", "edit"};
  for (const std::string& command : reading) {
    const std::string tail = command == "decode" || command == "render" ? " " + out
                             : command == "convert"                     ? " " + out + ".wav"
                             : command == "find"                        ? " --start 0 --count 1"
                             : command == "edit"                        ? " " + out + ".wav /dev/null"
                                                                        : "";
    const CliRun run = RunCli(command + " " + missing + tail);
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_EQ(run.err, "error: " + missing + ": Could not open file (No such file or directory)\n") << command;
  }
  for (const char* command : {"info", "decode", "convert", "edit", "blocks", "signature", "find", "demo", "levels",
                              "play", "record", "render"}) {
    const CliRun run = RunCli(std::string(command) + " --help");
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_EQ(run.out.rfind("usage: tintwave-cli " + std::string(command), 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");
  }
  const CliRun version = RunCli("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tintwave-cli ", 0), 0u);
  EXPECT_EQ(RunCli("--help").status, 0);
  // Misuse is 2: no command, an unknown one, a bad option.
  for (const char* args : {"", "frobnicate", "info --frobnicate x.wav"}) EXPECT_EQ(RunCli(args).status, 2) << args;
}

TEST_F(SoxFixture, OneTimeSyntaxForEveryPositionAndLength) {
  const std::string wav = Make("t.wav", "-r 44100 -c 1 -b 16", "synth 3 sine 300-3000");
  const auto signature = [&](const std::string& start, const std::string& count) {
    return RunCli("signature " + wav + " --start " + start + " --count " + count);
  };
  const std::string expected = signature("66150s", "22050s").out;
  ASSERT_EQ(expected.size(), 33u);
  for (const auto& [start, count] : std::vector<std::pair<std::string, std::string>>{
           {"1.5", "0.5"}, {"0:01.500", "0:00.5"}, {"0:0:1.5", ".5"}, {"1.5000", "22050s"}}) {
    const CliRun run = signature(start, count);
    EXPECT_EQ(run.status, 0) << start << " " << count << ": " << run.err;
    EXPECT_EQ(run.out, expected) << start << " " << count;
  }
  for (const char* bad : {"-1", "1:60", "1:2:3:4", "1.5s", "s", "abc", "1e3", "", "0:-1", "nan", "1,5", "1:60:00"}) {
    const CliRun run = signature(std::string("'") + bad + "'", "1");
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_EQ(run.err.rfind(std::string("error: --start: bad time '") + bad + "'", 0), 0u) << run.err;
  }
  // The edit script takes the same: a cursor in samples, a selection in m:ss.
  std::ofstream(dir / "cut.txt") << "select 0:01 88200s\ndelete\n";
  ASSERT_EQ(RunCli("edit " + wav + " " + dir / "cut.wav " + dir / "cut.txt").status, 0);
  EXPECT_EQ(Capture("soxi -s " + dir / "cut.wav"), "88200");
}

TEST_F(SoxFixture, InfoReadsTheHeaderOnly) {
  // An hour of stereo audio: sox's header with its lengths made an hour's, and the file grown to
  // that size (sparse, all zeros). Loading it would take 1.2 GB of floats.
  const std::string wav = Make("hour.wav", "-r 44100 -c 2 -b 16 -t wavpcm", "synth 0.1 sine 300");
  const std::uint32_t frames = 44100u * 3600, data = frames * 4;
  std::string header = ReadText(wav).substr(0, 44);
  ASSERT_EQ(header.substr(36, 4), "data");
  header.replace(4, 4, Le32(data + 36));
  header.replace(40, 4, Le32(data));
  std::ofstream(wav, std::ios::binary | std::ios::trunc) << header;
  std::filesystem::resize_file(wav, 44 + std::uintmax_t(data));
  const CliRun run = RunCli("info " + wav);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("duration: 60:00.000 (158760000 frames)"), std::string::npos) << run.out;
  const Child child = RunChild({"info", wav});
  EXPECT_EQ(child.status, 0);
  EXPECT_LT(child.peakKiB, 100 * 1024) << "info loaded the audio";
}

TEST_F(SoxFixture, DecodeToStandardOutputEqualsDecodeToAFile) {
  const std::string wav = Make("s.wav", "-r 22050 -c 2 -b 24", "synth 0.7 whitenoise sine 500");
  ASSERT_EQ(RunCli("decode " + wav + " " + dir / "file.f32").status, 0);
  const CliRun run = RunCli("decode " + wav + " -");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, ReadText(dir / "file.f32"));
  EXPECT_EQ(run.out.size(), 15435u * 2 * 4);  // 0.7 s of two channels
  // A pipe (as /dev/null) is written as it is, not replaced by a file: decode's floats, and the
  // audio convert saves.
  const std::string pipe = dir / "pipe", piped = dir / "piped";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  auto throughPipe = [&](const std::string& command) {
    const std::string both = "timeout 20 cat '" + pipe + "' > '" + piped + "' & '" + TINTWAVE_CLI + "' " + command +
                             " '" + pipe + "' " + (command.rfind("convert", 0) == 0 ? "--type wave" : "") +
                             "; s=$?; wait; exit $s";
    EXPECT_EQ(std::system(both.c_str()), 0) << command;
    EXPECT_TRUE(std::filesystem::is_fifo(pipe)) << command;
    return ReadText(piped);
  };
  EXPECT_EQ(throughPipe("decode '" + wav + "'"), run.out);
  ASSERT_EQ(RunCli("convert " + wav + " " + dir / "file.wav").status, 0);
  const std::string saved = throughPipe("convert '" + wav + "'");
  EXPECT_TRUE(saved == ReadText(dir / "file.wav")) << saved.size() << " bytes through the pipe";
}

TEST_F(SoxFixture, CtrlCDuringConvertLeavesTheOldFile) {
  // Two minutes at 48 kHz resampled to 44.1 kHz take seconds to save; Ctrl+C comes during the
  // load or the save, whichever the machine has reached.
  const std::string in = Make("long.wav", "-r 48000 -c 2 -b 16", "synth 120 sine 440 sine 660");
  const std::string old = dir / "old.wav";
  std::ofstream(old) << "the old file";
  // Early (loading, or not even started), and once the save's temporary file exists.
  for (bool whileSaving : {false, true}) {
    SCOPED_TRACE(whileSaving);
    const Child child = RunChild({"convert", in, old, "--rate", "44100"},
                                 std::chrono::milliseconds(whileSaving ? 0 : 30),
                                 [&] { return whileSaving && TemporaryFiles(dir / ".") > 0; });
    EXPECT_EQ(child.status, 130);
    EXPECT_EQ(ReadText(old), "the old file");
    EXPECT_EQ(TemporaryFiles(dir / "."), 0);
  }
}

}  // namespace
