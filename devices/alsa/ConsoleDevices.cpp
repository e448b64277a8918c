#include "devices/alsa/ConsoleDevices.h"

#include <chrono>
#include <thread>

#include "devices/alsa/AlsaWaveDevice.h"

namespace {
volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnInterrupt(int) { interrupted = 1; }
}  // namespace

std::unique_ptr<CAI_AudioPlayer> MakeDefaultPlayer(CAP_AudioContainer* source, CAP_AudioContainer* sink) {
  return std::make_unique<CAI_AudioPlayer>(source, sink, std::make_unique<AlsaWaveDevice>(WaveDirection::Output),
                                           std::make_unique<AlsaWaveDevice>(WaveDirection::Input));
}

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
