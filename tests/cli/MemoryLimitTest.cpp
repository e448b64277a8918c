// A document larger than the memory the process may use: tintwave-cli, run in a memory cgroup of
// its own whose limit is below the document's samples, opens, edits and saves it through the
// scratch file, and the result equals sox's. A scratch disk without room (a file-size limit stands
// in for it) is reported with its message at the load and at an edit, and nothing is saved.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

#include "tests/cli/CliTestSupport.h"

namespace {
using namespace cli_test;
namespace fs = std::filesystem;

constexpr int kSeconds = 180;  // 44,100 Hz stereo: 63.5 MB of samples, twice that with the undo group
constexpr long long kLimit = 48ll << 20;

// A memory cgroup made under this process's own (v1 memory controller, or v2 with memory.max);
// removed again when the test ends.
struct MemoryCgroup {
  fs::path path;
  std::string limitFile;

  // Empty path, with the reason in *why, when no cgroup can be made here.
  static MemoryCgroup Make(std::string* why) {
    MemoryCgroup made;
    std::ifstream self("/proc/self/cgroup");
    std::string v1, v2;
    for (std::string line; std::getline(self, line);) {
      const std::size_t a = line.find(':'), b = line.find(':', a + 1);
      if (a == std::string::npos || b == std::string::npos) continue;
      const std::string controllers = line.substr(a + 1, b - a - 1), where = line.substr(b + 1);
      if (controllers == "memory") v1 = where;
      if (controllers.empty()) v2 = where;
    }
    const std::string name = "tintwave-memory-test-" + std::to_string(::getpid());
    struct Candidate {
      fs::path parent;
      const char* limit;
    };
    std::vector<Candidate> candidates;
    if (!v1.empty()) candidates.push_back({fs::path("/sys/fs/cgroup/memory") / v1.substr(1), "memory.limit_in_bytes"});
    if (!v2.empty()) {
      candidates.push_back({fs::path("/sys/fs/cgroup") / v2.substr(1), "memory.max"});
      candidates.push_back({fs::path("/sys/fs/cgroup/unified") / v2.substr(1), "memory.max"});
    }
    for (const Candidate& c : candidates) {
      std::error_code error;
      if (!fs::is_directory(c.parent, error) || !fs::create_directory(c.parent / name, error)) continue;
      if (fs::exists(c.parent / name / c.limit)) {
        made.path = c.parent / name;
        made.limitFile = c.limit;
        return made;
      }
      fs::remove(c.parent / name, error);  // a cgroup without the memory controller
    }
    *why = "no memory cgroup can be made under this process's own (" + (v1.empty() ? "/" + v2 : v1) + ")";
    return made;
  }
  bool Limit(long long bytes) const { return bool(std::ofstream(path / limitFile) << bytes << std::flush); }
  ~MemoryCgroup() {
    std::error_code error;
    if (!path.empty()) fs::remove(path, error);
  }
};

// tintwave-cli with args, in the cgroup when given, under a file-size limit when fsizeBytes > 0;
// its exit status (-signal when killed) and its standard error.
CliRun RunLimited(const std::vector<std::string>& args, const fs::path& cgroup, long long fsizeBytes,
                  const fs::path& cacheHome) {
  const fs::path err = cacheHome / "stderr.txt";
  const pid_t child = ::fork();
  if (child == 0) {
    if (!cgroup.empty()) std::ofstream(cgroup / "cgroup.procs") << ::getpid() << std::flush;
    if (fsizeBytes > 0) {
      const rlimit size{rlim_t(fsizeBytes), rlim_t(fsizeBytes)};
      ::setrlimit(RLIMIT_FSIZE, &size);
      std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
      ::setenv("TINTWAVE_SAMPLES_IN_MEMORY", "0", 1);  // the samples go to the scratch file at once
    }
    ::setenv("XDG_CACHE_HOME", cacheHome.c_str(), 1);
    const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) ::dup2(fd, 2);
    std::vector<char*> argv{const_cast<char*>(TINTWAVE_CLI)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(TINTWAVE_CLI, argv.data());
    ::_exit(127);
  }
  int raw = 0;
  ::waitpid(child, &raw, 0);
  CliRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? -WTERMSIG(raw) : -1;
  run.err = ReadText(err);
  return run;
}

class MemoryLimit : public SoxFixture {
protected:
  void SetUp() override {
    SoxFixture::SetUp();
    if (IsSkipped()) return;
    source = Make("long.wav", "-r 44100 -c 2 -b 16", "synth " + std::to_string(kSeconds) + " sine 200-2000 sine 300 vol 0.5");
    std::ofstream(dir / "script.txt") << "reverse\nundo\nredo\n";
    cache = dir / "cache";
    fs::create_directories(cache);
  }
  std::vector<std::string> Edit(const std::string& out) const { return {"edit", source, out, dir / "script.txt"}; }
  std::string source;
  fs::path cache;  // $XDG_CACHE_HOME: the scratch file's folder is in it
};

}  // namespace

TEST_F(MemoryLimit, ADocumentLargerThanTheLimitOpensEditsAndSaves) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "under AddressSanitizer the shadow memory alone passes a limit this small";
#endif
  std::string why;
  const MemoryCgroup cgroup = MemoryCgroup::Make(&why);
  if (cgroup.path.empty()) GTEST_SKIP() << why;
  ASSERT_TRUE(cgroup.Limit(kLimit));
  ASSERT_GT(2ll * 44100 * kSeconds * long(sizeof(float)), kLimit);  // the channels alone exceed it
  const std::string out = dir / "reversed.wav";
  const CliRun run = RunLimited(Edit(out), cgroup.path, 0, cache);
  ASSERT_EQ(run.status, 0) << "killed by the limit? " << run.err;
  ASSERT_TRUE(RunQuietly("sox -V1 -D " + source + " " + dir / "sox.wav reverse"));
  EXPECT_EQ(SoxFloats(out), SoxFloats(dir / "sox.wav"));
}

TEST_F(MemoryLimit, AFullScratchDiskIsReported) {
  // No room for the load's samples, then room for the load but not for the edit's new blocks.
  const struct {
    long long room;
    const char* message;
  } cases[] = {
      {16ll << 20, "Not enough disk space for the file's audio in the scratch folder"},
      {80ll << 20, "reverse: Not enough disk space in the scratch folder for this edit; the audio is unchanged"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.room);
    const std::string out = dir / "never.wav";
    const CliRun run = RunLimited(Edit(out), {}, c.room, cache);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out));
  }
}
