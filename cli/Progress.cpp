#include "cli/Progress.h"

#include <unistd.h>

#include <cstdio>

ConsoleProgress::ConsoleProgress(const volatile std::sig_atomic_t* interrupt)
    : interrupt_(interrupt), terminal_(::isatty(STDERR_FILENO) == 1) {}

ConsoleProgress::~ConsoleProgress() { Erase(); }

bool ConsoleProgress::Callback(std::intptr_t user, const char* text, int percent) {
  return reinterpret_cast<ConsoleProgress*>(user)->Report(text, percent);
}

bool ConsoleProgress::Report(const char* text, int percent) {
  if (cancelled_) ++ignoredCancels_;
  if (Interrupted()) {
    cancelled_ = true;
    Erase();
    return false;
  }
  if (!text || !*text) {
    Erase();
    return true;
  }
  if (!terminal_) return true;
  char line[160];
  std::snprintf(line, sizeof line, "\r%s %d%%", text, percent);
  if (last_ != line) {
    std::fputs(line, stderr);
    std::fflush(stderr);
    last_ = line;
    shown_ = true;
  }
  return true;
}

void ConsoleProgress::Erase() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
  last_.clear();
}
