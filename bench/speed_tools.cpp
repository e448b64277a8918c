// Open, convert and save as whole processes, each beside the command-line tool users compare
// with, run in turns on the same files in the same run (median of kRuns): the ratio is what
// counts on a machine shared with others. The files are made by sox and lame at the first use.
// Also the rate converter alone (real-time factor and the residual of a converted sine).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/RateConverter.h"

namespace {

constexpr int kRuns = 3;

struct Run {
  double seconds = 0;
  double peakMiB = 0;
  double cpuSeconds = 0;  // user and system time of the process and its children
};

// Runs the command through the shell, its output discarded; wall time and peak memory.
Run RunProcess(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", (command + " >/dev/null 2>&1").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  return Run{took.count(), usage.ru_maxrss / 1024.0, cpu};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string Work(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

// Made once per run: an hour and 10 minutes of 44,100 Hz stereo 16-bit (noise and a tone), and
// the 10 minutes as a 192 kb/s MP3.
const std::string& File(const char* which) {
  static const std::string hour = Work("tintwave-speed-hour.wav");
  static const std::string ten = Work("tintwave-speed-10min.wav");
  static const std::string mp3 = Work("tintwave-speed-10min.mp3");
  static const bool made = [] {
    const char* tone = " pinknoise synth sine mix 440 vol 0.5";
    RunProcess("sox -n -r 44100 -c 2 -b 16 " + hour + " synth 3600" + tone);
    RunProcess("sox -n -r 44100 -c 2 -b 16 " + ten + " synth 600" + tone);
    RunProcess("lame --quiet -b 192 " + ten + " " + mp3);
    return true;
  }();
  (void)made;
  const std::string w = which;
  return w == "hour" ? hour : w == "mp3" ? mp3 : ten;
}

// Ours and the tool's command in turns; counters: seconds each (median), ratio and target, and the
// processor time each took (the steadier figure on a machine shared with other work).
void Compare(benchmark::State& state, const std::string& ours, const std::string& tool, double target) {
  std::vector<double> mine, theirs, peak, mineCpu, theirCpu;
  for (auto _ : state) {
    for (int i = 0; i < kRuns; ++i) {
      const Run t = RunProcess(tool);
      theirs.push_back(t.seconds);
      theirCpu.push_back(t.cpuSeconds);
      const Run r = RunProcess(ours);
      mine.push_back(r.seconds);
      mineCpu.push_back(r.cpuSeconds);
      peak.push_back(r.peakMiB);
    }
  }
  const double a = Median(mine), b = Median(theirs);
  state.counters["ours_s"] = a;
  state.counters["tool_s"] = b;
  state.counters["ratio"] = a / b;
  state.counters["cpu_ratio"] = Median(mineCpu) / Median(theirCpu);
  state.counters["target"] = target;
  state.counters["peak_MiB"] = Median(peak);
}

// TINTWAVE_CLI in the environment measures another build (an older one, for the figures before).
const std::string kCli = std::getenv("TINTWAVE_CLI") ? std::getenv("TINTWAVE_CLI") : TINTWAVE_CLI;
const std::string kSignature = " --start 0 --count 441000s";

void BM_OpenHourWave(benchmark::State& state) {
  const std::string& f = File("hour");
  Compare(state, kCli + " signature " + f + kSignature, "sox " + f + " -t f32 /dev/null", 2.0);
  // The three tracks' floats: left, right and mix, 4 bytes a sample.
  const double floatsMiB = 3.0 * 44100 * 3600 * 4 / (1 << 20);
  state.counters["peak_x_floats"] = state.counters["peak_MiB"] / floatsMiB;
}
BENCHMARK(BM_OpenHourWave)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_OpenTenMinuteMp3(benchmark::State& state) {
  const std::string& f = File("mp3");
  Compare(state, kCli + " signature " + f + kSignature, "mpg123 -q -s -w /dev/null " + f, 1.5);
}
BENCHMARK(BM_OpenTenMinuteMp3)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_ConvertTo48000(benchmark::State& state) {
  const std::string& f = File("ten");
  const std::string ours = Work("tintwave-speed-ours48.wav"), theirs = Work("tintwave-speed-sox48.wav");
  Compare(state, kCli + " convert " + f + " " + ours + " --rate 48000", "sox " + f + " -r 48000 " + theirs + " rate -v",
          0.8);
  std::filesystem::remove(ours);
  std::filesystem::remove(theirs);
}
BENCHMARK(BM_ConvertTo48000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_ConvertSameRate(benchmark::State& state) {
  const std::string& f = File("ten");
  const std::string ours = Work("tintwave-speed-ours.wav"), theirs = Work("tintwave-speed-sox.wav");
  Compare(state, kCli + " convert " + f + " " + ours, "sox " + f + " " + theirs, 1.5);
  std::filesystem::remove(ours);
  std::filesystem::remove(theirs);
}
BENCHMARK(BM_ConvertSameRate)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// Converts interleaved frames of `channels` in 4,096-frame pieces as the encoder feeds them, and
// flushes; the processor time it took.
double ConvertAll(int channels, const std::vector<float>& in, std::vector<float>& out) {
  constexpr int kPiece = 4096;
  RateConverter converter(channels, 44100, 48000);
  const std::size_t frames = in.size() / std::size_t(channels);
  out.assign(std::size_t(converter.MaxOutputFrames(int(frames)) + converter.MaxFlushFrames()) * channels, 0.0f);
  const double start = ThreadSeconds();
  std::size_t made = 0;
  for (std::size_t at = 0; at < frames; at += kPiece) {
    const int n = int(std::min<std::size_t>(kPiece, frames - at));
    made += std::size_t(converter.Process(in.data() + channels * at, n, out.data() + channels * made));
  }
  made += std::size_t(converter.Flush(out.data() + channels * made));
  const double took = ThreadSeconds() - start;
  out.resize(channels * made);
  return took;
}

// The converter alone, 44,100 to 48,000 Hz stereo: real-time factor in processor time (the
// machine's other users do not count), beside the same conversion one channel at a time (the
// path stereo took before it ran both channels together), and the residual of a 1 kHz sine after
// the best-fitting sine is taken out.
void BM_RateConverterAlone(benchmark::State& state) {
  constexpr int kIn = 44100, kOut = 48000, kSeconds = 120;
  std::vector<float> in(std::size_t(kIn) * kSeconds * 2), mono(std::size_t(kIn) * kSeconds);
  for (std::size_t i = 0; i < mono.size(); ++i) in[2 * i] = in[2 * i + 1] = mono[i] = float(0.5 * std::sin(2 * M_PI * 1000.0 * double(i) / kIn));
  std::vector<float> out, single;
  double stereo = 0, perChannel = 0;
  for (auto _ : state) {
    stereo = ConvertAll(2, in, out);
    perChannel = 2 * ConvertAll(1, mono, single);
  }
  // Least squares for a sin + b cos at 1 kHz over the middle, away from the edges.
  const std::size_t frames = out.size() / 2, from = frames / 8, to = frames - frames / 8;
  double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
  for (std::size_t i = from; i < to; ++i) {
    const double w = 2 * M_PI * 1000.0 * double(i) / kOut, s = std::sin(w), c = std::cos(w), y = out[2 * i];
    ss += s * s, cc += c * c, sc += s * c, ys += y * s, yc += y * c;
  }
  const double det = ss * cc - sc * sc, a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
  double residual = 0, signal = 0;
  for (std::size_t i = from; i < to; ++i) {
    const double w = 2 * M_PI * 1000.0 * double(i) / kOut, fit = a * std::sin(w) + b * std::cos(w);
    residual += (out[2 * i] - fit) * (out[2 * i] - fit);
    signal += fit * fit;
  }
  state.counters["x_real_time"] = kSeconds / stereo;
  state.counters["x_real_time_per_channel_path"] = kSeconds / perChannel;
  state.counters["residual_dB"] = 10 * std::log10(residual / signal);
}
BENCHMARK(BM_RateConverterAlone)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The formats of libsndfile and FFmpeg: 10 minutes of the same sound as FLAC (flac -5) and as
// AAC in M4A (ffmpeg, 192 kb/s), made once per run; and saving the WAVE file in each codec.
const std::string& CodecFile(const char* which) {
  static const std::string flac = Work("tintwave-speed-10min.flac");
  static const std::string m4a = Work("tintwave-speed-10min.m4a");
  static const bool made = [] {
    RunProcess("flac -s -f -5 " + File("ten") + " -o " + flac);
    RunProcess("ffmpeg -v error -y -i " + File("ten") + " -c:a aac -b:a 192k " + m4a);
    return true;
  }();
  (void)made;
  return std::string(which) == "flac" ? flac : m4a;
}

void BM_OpenTenMinuteFlac(benchmark::State& state) {
  const std::string& f = CodecFile("flac");
  Compare(state, kCli + " signature " + f + kSignature, "flac -s -d -f " + f + " -o " + Work("tintwave-speed-flac.wav"),
          1.5);
  std::filesystem::remove(Work("tintwave-speed-flac.wav"));
}
BENCHMARK(BM_OpenTenMinuteFlac)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_OpenTenMinuteM4a(benchmark::State& state) {
  const std::string& f = CodecFile("m4a");
  Compare(state, kCli + " signature " + f + kSignature, "ffmpeg -v error -i " + f + " -f f32le -", 1.5);
}
BENCHMARK(BM_OpenTenMinuteM4a)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Saving 10 minutes of 16-bit stereo WAVE in a codec, beside the codec's own encoder.
void CompareSave(benchmark::State& state, const char* extension, const std::string& options, const std::string& tool) {
  const std::string& f = File("ten");
  const std::string ours = Work((std::string("tintwave-speed-ours") + extension).c_str());
  const std::string theirs = Work((std::string("tintwave-speed-tool") + extension).c_str());
  std::string command = tool;
  command.replace(command.find("%i"), 2, f);
  command.replace(command.find("%o"), 2, theirs);
  Compare(state, kCli + " convert " + f + " " + ours + options, command, 1.3);
  std::filesystem::remove(ours);
  std::filesystem::remove(theirs);
}

void BM_SaveFlac5(benchmark::State& state) { CompareSave(state, ".flac", " --level 5", "flac -s -f -5 %i -o %o"); }
BENCHMARK(BM_SaveFlac5)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_SaveOggQ5(benchmark::State& state) { CompareSave(state, ".ogg", " --quality 5", "oggenc -Q -q5 %i -o %o"); }
BENCHMARK(BM_SaveOggQ5)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_SaveMp3At192(benchmark::State& state) {
  CompareSave(state, ".mp3", " --bitrate 192", "lame --quiet -b 192 %i %o");
}
BENCHMARK(BM_SaveMp3At192)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
