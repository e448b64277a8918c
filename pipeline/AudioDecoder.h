#pragma once
// A file being opened: a container over the format library's reader that delivers the file's
// audio as float frames at any position. It never throws; every failure ends in errorText.
#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <string_view>

#include "analysis/AudioContainer.h"
#include "formats/AudioAbstract.h"

class CAP_AudioDecoder : public CAP_AudioContainer {
public:
  static constexpr int kMinRate = 8000;
  static constexpr int kMaxRate = 96000;
  // Files above kMaxRate (up to this) are converted to kMaxRate as they are read.
  static constexpr int kMaxFileRate = 768000;

  // Probes the stream (content and extension) and builds the reader. fileSize is 64-bit so that
  // files beyond 2 GiB report their true length. Check errorText afterwards.
  CAP_AudioDecoder(std::istream& source, std::int64_t fileSize, std::string_view extension,
                   bool readTrailingChunks);
  // Headerless audio in the layout the user gives (FileFormat 9): the data runs from the start
  // of the stream to fileSize. Only the first two channels are delivered.
  CAP_AudioDecoder(std::istream& source, std::int64_t fileSize, int channels, int rate, int bits,
                   int compression, bool bigEndian, bool isSigned);
  ~CAP_AudioDecoder() override;
  CAP_AudioDecoder(const CAP_AudioDecoder&) = delete;
  CAP_AudioDecoder& operator=(const CAP_AudioDecoder&) = delete;

  int ReadFloat(float* dest, int frames, int position) override;
  void CopyAnnotations(AnnotationList& target) const;

  // Frames the file announces (0 = unknown), capped to what a frame position can address.
  std::int64_t TotalFrames() const { return totalFrames_; }
  // The reader stage, for callers that show what the format library found; null on failure.
  AudioAbstract* Reader() const { return reader_.get(); }

  std::int32_t fileFormat = 0;
  std::string errorText;  // empty = no error; shown to the user unchanged
  // The file's own layout, where the decoder delivers another: a file above 96,000 Hz is
  // converted to 96,000 Hz, one of more than two channels down-mixed to stereo; notice says so
  // ("5.1 down-mixed to stereo; 192,000 Hz converted to 96,000 Hz"), else it is empty.
  std::int32_t fileRate = 0;
  std::int32_t fileChannels = 0;
  std::int64_t fileFrames = 0;
  std::string notice;
  bool endOfData = false;

private:
  void Fail(std::string_view message);
  // Rate, channels, length and the rest from the reader; false (with errorText) when unusable.
  bool TakeReaderParameters();
  bool TakeReaderParametersUnguarded();

  std::unique_ptr<AudioAbstract> reader_;
  std::istream& source_;
  std::int64_t totalFrames_ = 0;
};
