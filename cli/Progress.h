#pragma once
// The progress line of long work (loading, saving, rendering): "\rLoading audio data: 42%" on
// standard error while it is a terminal, nothing otherwise, and the line erased at the end. The
// callback answers false once Ctrl+C was pressed (when the reporter watches for it), which
// cancels the load or the save.
#include <csignal>
#include <cstdint>
#include <string>

class ConsoleProgress {
public:
  // interrupt: the flag Ctrl+C sets, or null when the work cannot be cancelled.
  explicit ConsoleProgress(const volatile std::sig_atomic_t* interrupt = nullptr);
  ~ConsoleProgress();
  ConsoleProgress(const ConsoleProgress&) = delete;
  ConsoleProgress& operator=(const ConsoleProgress&) = delete;

  // The ProgressCallback of the document's load and save; user is the reporter.
  static bool Callback(std::intptr_t user, const char* text, int percent);
  std::intptr_t User() { return reinterpret_cast<std::intptr_t>(this); }

  // Shows text with percent ("" erases the line); false once interrupted.
  bool Report(const char* text, int percent);
  void Erase();
  bool Interrupted() const { return interrupt_ && *interrupt_; }
  // How often the work went on after being told to stop.
  int IgnoredCancels() const { return ignoredCancels_; }

private:
  const volatile std::sig_atomic_t* interrupt_;
  bool terminal_;
  bool shown_ = false;
  bool cancelled_ = false;
  int ignoredCancels_ = 0;
  std::string last_;
};
