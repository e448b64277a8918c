#pragma once
// The console side of tintwave-cli: number arguments, the position text, Ctrl+C, and a driver
// loop for a program without an event loop: it polls the player as the document's 20 ms tick
// would.
#include <csignal>
#include <functional>
#include <string>

#include "devices/AudioPlayer.h"

// Ctrl+C sets the returned flag instead of ending the process.
const volatile std::sig_atomic_t* InterruptOnCtrlC();

// Polls until the player is idle; stops it when *interrupt becomes non-zero. tick runs after
// every poll (to show the position, say).
void RunUntilIdle(CAI_AudioPlayer& player, const volatile std::sig_atomic_t* interrupt,
                  const std::function<void()>& tick = {});

// "m:ss.mmm", the position text of the command-line tool.
std::string ConsoleTimeText(double seconds);
// A decimal number argument within low..high (nothing trailing, no NaN).
bool ParseNumberArgument(const char* text, double low, double high, double* out);
