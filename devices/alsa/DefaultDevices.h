#pragma once
// The system's default sound devices: the ALSA "default" PCM for each direction, and a player
// over both.
#include <memory>

#include "devices/AudioPlayer.h"
#include "devices/WaveDevice.h"

// The ALSA "default" device of a direction.
std::unique_ptr<CAI_WaveDevice> MakeDefaultWaveDevice(WaveDirection direction);

std::unique_ptr<CAI_AudioPlayer> MakeDefaultPlayer(CAP_AudioContainer* source, CAP_AudioContainer* sink);
