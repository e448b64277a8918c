#include "devices/alsa/DefaultDevices.h"

#include "devices/alsa/AlsaWaveDevice.h"

std::unique_ptr<CAI_WaveDevice> MakeDefaultWaveDevice(WaveDirection direction) {
  return std::make_unique<AlsaWaveDevice>(direction);
}

std::unique_ptr<CAI_AudioPlayer> MakeDefaultPlayer(CAP_AudioContainer* source, CAP_AudioContainer* sink) {
  return std::make_unique<CAI_AudioPlayer>(source, sink, MakeDefaultWaveDevice(WaveDirection::Output),
                                           MakeDefaultWaveDevice(WaveDirection::Input));
}
