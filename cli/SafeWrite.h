#pragma once
// Writing a file that is not audio (decode's floats, render's picture) as safely as the editor
// saves audio: into a temporary file in the target's directory, flushed and synced, then renamed
// over the target. A failure leaves the old file as it was and no temporary behind. "-" is
// standard output; a device or a pipe is written directly.
#include <cstdio>
#include <functional>
#include <string>

#include "pipeline/SafeSave.h"  // ReplacedFile, ModeForReplacement

// write fills the file and returns false when it failed (then *error may say why). Returns "" on
// success, else the text for the user, naming the file.
std::string WriteFileSafely(const std::string& path, const std::function<bool(std::FILE*, std::string*)>& write);

// Removes the temporary file that a save under path holds open in this process (".NAME.XXXXXX"
// beside the target), for a save that must end now. True when one was found.
bool RemoveOpenTemporary(const std::string& path);
