#pragma once
// FLAC (16 or 24-bit, compression level), Ogg Vorbis (quality), Opus (bit rate, 48,000 Hz) and MP3
// (LAME: constant or variable bit rate), written by libsndfile into the caller's stream. The
// annotations become the format's tags (Vorbis comments, ID3).
#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

#include "formats/AudioAbstract.h"

class SndfileWrite : public AudioAbstract {
public:
  // encoding: the compression code with the encoder's setting (FormatCodes.h: WithSetting).
  // frames: the length the file will have; fewer pushed frames are padded with silence on
  // completion. Throws SoundError when libsndfile refuses the layout.
  SndfileWrite(std::ostream& out, std::int64_t frames, int channels, int rate, int fileFormat, int encoding,
               const AnnotationList& annotations);
  // Completes the file (pads, writes the trailing pages and headers); a failure shows in the
  // stream's state.
  ~SndfileWrite() override;

  int PullSamples(float*, int) override { return 0; }
  int PushSamples(const float* in, int count) override;

  struct Library;  // the libsndfile handle and its virtual I/O

  // Whether the installed libsndfile writes this type and encoding (MP3 needs LAME).
  static bool CanWrite(int fileFormat, int channels, int rate, int encoding);

private:
  std::ostream& out_;
  std::unique_ptr<Library> library_;
  std::int64_t frames_;
  std::int64_t written_ = 0;
  bool integer_ = false;  // FLAC: samples go as integers, rounded as the PCM writers round
  std::vector<int> scratch_;
};
