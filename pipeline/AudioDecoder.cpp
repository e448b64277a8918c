#include "pipeline/AudioDecoder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "formats/FormatCodes.h"
#include "formats/Probe.h"
#include "formats/Raw.h"
#include "formats/SoundError.h"
#include "pipeline/FitToEditor.h"

namespace {
constexpr std::size_t kMaxErrorText = 511;
constexpr const char* kNotDecodable = "Could not decode audio";
}  // namespace

CAP_AudioDecoder::CAP_AudioDecoder(std::istream& source, std::int64_t fileSize, std::string_view extension,
                                   bool readTrailingChunks)
    : source_(source) {
  try {
    reader_ = CreateReaderForFile(source_, fileSize, extension, readTrailingChunks);
  } catch (const SoundError& error) {
    Fail(error.Message());
    return;
  } catch (const std::bad_alloc&) {
    Fail(kNotDecodable);
    return;
  }
  if (!reader_) {
    Fail(kNotDecodable);
    return;
  }
  TakeReaderParameters();
}

CAP_AudioDecoder::CAP_AudioDecoder(std::istream& source, std::int64_t fileSize, int channelCount, int rate,
                                   int bits, int compressionCode, bool bigEndian, bool isSigned)
    : source_(source) {
  channels = channelCount;
  sampleRate = rate;
  resolution = bits;
  compression = compressionCode;
  fileFormat = FileFormatRaw;
  try {
    reader_ = std::make_unique<RawRead>(source_, fileSize, channelCount, rate, bits, compressionCode, bigEndian,
                                        isSigned);
  } catch (const SoundError& error) {
    Fail(error.Message());
    return;
  } catch (const std::bad_alloc&) {
    Fail(kNotDecodable);
    return;
  }
  // The user's layout is checked like a file's: the tracks only hold 8,000 to 96,000 Hz.
  TakeReaderParameters();
}

bool CAP_AudioDecoder::TakeReaderParameters() {
  // Some readers parse their header on the first rate query (AU), so the reader's own errors
  // come from here as well as from its constructor.
  try {
    return TakeReaderParametersUnguarded();
  } catch (const SoundError& error) {
    Fail(error.Message());
  } catch (const std::bad_alloc&) {
    Fail(kNotDecodable);
  }
  reader_.reset();
  return false;
}

bool CAP_AudioDecoder::TakeReaderParametersUnguarded() {
  int rate = reader_->CurrentSamplingRate();
  if (rate < kMinRate || rate > kMaxFileRate) {
    Fail("Sample rate out of bounds");
    return false;
  }
  int channelCount = reader_->CurrentChannels();
  if (channelCount < 1) {
    Fail(kNotDecodable);
    return false;
  }
  fileRate = rate;
  fileChannels = channelCount;
  fileFrames = std::max<std::int64_t>(reader_->FloatByteCount(), 0) / 4 / channelCount;
  // The tracks hold one or two channels of 8,000 to 96,000 Hz: other files are fitted as read.
  if (rate > kMaxRate || channelCount > 2) {
    auto fitted = std::make_unique<FitToEditor>(std::move(reader_), rate, channelCount, kMaxRate);
    notice = fitted->Notice();
    reader_ = std::move(fitted);
    rate = reader_->CurrentSamplingRate();
    channelCount = reader_->CurrentChannels();
  }
  sampleRate = rate;
  channels = channelCount;
  // 64-bit all the way: a 2-hour stereo file has more than 2^31 float bytes.
  const std::int64_t floatBytes = std::max<std::int64_t>(reader_->FloatByteCount(), 0);
  const std::int64_t frames = floatBytes / 4 / channelCount;
  // Frame positions are 32-bit; audio beyond them cannot be addressed (more than 6 hours even at
  // 96,000 Hz), so the decoder delivers what it can address.
  totalFrames_ = std::min<std::int64_t>(frames, std::numeric_limits<std::int32_t>::max());
  duration = double(totalFrames_) / sampleRate;
  resolution = reader_->SampleResolution();
  compression = reader_->Compression();
  fileFormat = reader_->FileFormat();
  bitRate = reader_->BitRate();
  return true;
}

CAP_AudioDecoder::~CAP_AudioDecoder() = default;

void CAP_AudioDecoder::Fail(std::string_view message) {
  errorText.assign(message.substr(0, kMaxErrorText));
  if (errorText.empty()) errorText = kNotDecodable;
}

int CAP_AudioDecoder::ReadFloat(float* dest, int frames, int position) {
  if (!errorText.empty() || !reader_ || frames <= 0) return 0;
  try {
    if (position != readPosition) {
      endOfData = false;
      if (position >= 0 && reader_->SeekToSample(std::int64_t(position) * channels)) readPosition = position;
    }
    if (endOfData) return 0;
    std::int64_t n = frames;
    if (totalFrames_ > 0) n = std::min<std::int64_t>(frames, totalFrames_ - readPosition);
    else if (n > std::numeric_limits<std::int32_t>::max() - std::int64_t(readPosition))
      n = std::numeric_limits<std::int32_t>::max() - std::int64_t(readPosition);
    // A pull is bounded so that samples (frames x channels) stay within int.
    n = std::min<std::int64_t>(n, std::numeric_limits<int>::max() / channels);
    int got = 0;
    if (n > 0) got = reader_->PullSamples(dest, int(n) * channels) / channels;
    readPosition += got;
    endOfData = got < frames;
    return got;
  } catch (const SoundError& error) {
    Fail(error.Message());
  } catch (const std::bad_alloc&) {
    Fail(kNotDecodable);
  }
  return 0;
}

void CAP_AudioDecoder::CopyAnnotations(AnnotationList& target) const {
  if (reader_) target.CopyFrom(reader_->Annotations());
}
