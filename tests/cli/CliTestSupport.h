#pragma once
// Running tintwave-cli from the tests: its exit code, standard output and standard error.
#include <sys/wait.h>

#include <string>
#include <vector>

#include "tests/formats/TestSupport.h"

namespace cli_test {

using namespace formats_test;

struct CliRun {
  int status = -1;
  std::string out, err;
};

// args are passed through the shell: quote paths with spaces.
inline CliRun RunCli(const std::string& args) {
  static int serial = 0;
  const std::string base = std::filesystem::temp_directory_path() / ("tintwave-cli-" + std::to_string(::getpid()) +
                                                                     "-" + std::to_string(serial++));
  const int raw = std::system((std::string(TINTWAVE_CLI) + " " + args + " >" + base + ".out 2>" + base + ".err").c_str());
  CliRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadText(base + ".out");
  run.err = ReadText(base + ".err");
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return run;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

class SoxFixture : public testing::Test {
protected:
  void SetUp() override {
    if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  }
  // Makes a file with sox: "sox -n [options] PATH effects".
  std::string Make(const std::string& name, const std::string& options, const std::string& effects) {
    const std::string path = dir / name;
    EXPECT_TRUE(RunQuietly("sox -V1 -D -n " + options + " " + path + " " + effects)) << name;
    return path;
  }
  std::vector<float> SoxFloats(const std::string& path) {
    const std::string raw = dir / "sox-decoded.f32";
    EXPECT_TRUE(RunQuietly("sox -V1 -D " + path + " -t f32 " + raw));
    return ReadFloats(raw);
  }
  std::vector<float> CliFloats(const std::string& path) {
    const std::string raw = dir / "cli-decoded.f32";
    const CliRun run = RunCli("decode " + path + " " + raw);
    EXPECT_EQ(run.status, 0) << run.err;
    return ReadFloats(raw);
  }
  TempDir dir;
};

}  // namespace cli_test
