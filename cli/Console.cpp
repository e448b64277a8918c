#include "cli/Console.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {
volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnInterrupt(int) { interrupted = 1; }
}  // namespace

const volatile std::sig_atomic_t* InterruptOnCtrlC() {
  std::signal(SIGINT, OnInterrupt);
  return &interrupted;
}

void RunUntilIdle(CAI_AudioPlayer& player, const volatile std::sig_atomic_t* interrupt,
                  const std::function<void()>& tick) {
  while (player.State() != kDeviceIdle) {
    if (interrupt && *interrupt) {
      player.Stop();
      break;
    }
    player.Poll();
    if (tick) tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (tick) tick();
}

std::string ConsoleTimeText(double seconds) {
  const long long ms = std::llround(std::clamp(seconds, 0.0, 1e9) * 1000);
  char text[40];
  std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", ms / 60000, ms / 1000 % 60, ms % 1000);
  return text;
}

bool ParseNumberArgument(const char* text, double low, double high, double* out) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (!*text || *end || errno || !(v >= low && v <= high)) return false;
  *out = v;
  return true;
}
