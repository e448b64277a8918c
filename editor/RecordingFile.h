#pragma once
// The recovery file of a recording: every buffer the recorder takes is appended on a thread of
// its own to a WAVE file (16-bit or float, as the device records) whose header is rewritten and
// synced once a second, so that the file is valid at any moment and a crash loses at most the
// last second. The audio stays in the document as well; the file is only for recovery.
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "editor/WriterThread.h"

struct RecordedAudio {
  int channels = 1;
  int rate = 0;
  bool isFloat = false;
  std::vector<std::uint8_t> data;  // interleaved frames as the device gave them
  int Frames() const { return int(data.size() / std::size_t(channels * (isFloat ? 4 : 2))); }
};

class RecordingFile {
public:
  RecordingFile(const std::string& path, int channels, int rate, bool isFloat);
  ~RecordingFile();  // writes what is queued, the final header, and syncs
  RecordingFile(const RecordingFile&) = delete;
  RecordingFile& operator=(const RecordingFile&) = delete;

  // UI thread: the frames are copied and queued; nothing waits for the disk.
  void Append(const void* data, int frames);
  // Waits until everything appended is on disk with its header; false after a failure.
  bool Flush();
  bool Failed() const;
  std::string FailureText() const;
  const std::string& Path() const { return path_; }

private:
  // The writer thread's work: the buffers, then the header when it is due.
  bool Write(std::deque<std::vector<std::uint8_t>>& batch, bool flushing);
  std::string path_;
  int channels_, rate_;
  bool isFloat_;
  int frameBytes_;
  int fd_ = -1;
  // The writer thread's own.
  std::uint64_t dataBytes_ = 0;
  bool headerStale_ = false;
  std::chrono::steady_clock::time_point lastHeader_ = std::chrono::steady_clock::now();
  WriterThread<std::vector<std::uint8_t>> writer_;  // last: it stops before the rest goes
};

// Every whole frame of a recovery file, also those after the size its header last gave.
bool ReadRecordingFile(const std::string& path, RecordedAudio* audio, std::string* error);
